#pragma once

#include <string>

namespace mek {

// An unnamed file in TMPDIR (or /tmp), readable and writable, that vanishes
// when it is closed or the process ends; -1 with errno set when none can be
// made.
int openUnnamedTemporary();

// The message for a temporary file that could not be made or written,
// without its newline: "cannot write temporary file in 'DIR': REASON", DIR
// the folder openUnnamedTemporary uses.
std::string temporaryFailure(int error);

}  // namespace mek
