#pragma once

#include <optional>
#include <vector>

#include "mek/mek.h"

namespace mek {

// What --rename does with the names it finds.
struct RenameOptions {
  std::optional<Code> from;  // -i; none: each name's code is detected
  Code to = Code::utf8;
  bool repair = false;   // --repair: mojibake in a name is taken back
  bool dry_run = false;  // --dry-run: only tell what would be renamed
  Errors errors = Errors::strict;
  char32_t replacement = 0;
};

// Converts the names of the files and folders at `paths`, the entries of a
// folder before the folder itself, and prints "'OLD' -> 'NEW'" on standard
// output for each. A name already valid in the output code stays as it is,
// unless --repair finds mojibake in it. An existing name is never replaced
// ("cannot rename 'A': 'B' exists"), and a name that does not convert is
// left as it is; each such name is told on standard error. Answers 0 when
// every name could be dealt with, else 1.
int runRename(const std::vector<const char*>& paths, const RenameOptions& options);

}  // namespace mek
