#pragma once

namespace mek {

// An unnamed file in TMPDIR (or /tmp), readable and writable, that vanishes
// when it is closed or the process ends; -1 with errno set when none can be
// made.
int openUnnamedTemporary();

}  // namespace mek
