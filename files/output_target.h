#pragma once

#include <sys/stat.h>

#include <string>

namespace mek {

// Where a named output file lives, found without trusting the path twice: a
// descriptor of the folder that holds it, and its name in that folder. Every
// later step (the temporary file, the rename) works relative to the folder,
// so a link swapped after the path was walked cannot redirect it.
struct OutputTarget {
  int folder = -1;  // O_PATH descriptor; the caller closes it
  std::string name;
  bool exists = false;
  struct stat status {};  // of the file, when it exists (never a link)
};

// Walks `path` one component at a time, following symbolic links as the
// kernel's protected-symlinks rule allows whatever its setting: a link in a
// sticky, world-writable folder is followed only when the caller or the
// folder's owner owns it. Answers 0, or an errno value with `why` set when
// the reason is not the value's own text.
int findOutputTarget(const char* path, OutputTarget& target, std::string& why);

// True when the file `name` in `folder` is the root of a mount (a file bind
// mounted over another), which no rename can replace.
bool isMountRoot(int folder, const std::string& name);

}  // namespace mek
