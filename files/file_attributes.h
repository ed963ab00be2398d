#pragma once

#include <sys/stat.h>

#include <string>

namespace mek {

// Gives the new file `to` what the file it replaces had besides its text:
// extended attributes (access control lists among them, where the file
// system keeps them), owner and group where the process may set them, and
// last the permission bits with the set-user-id and set-group-id bits, which
// a change of owner or a write would clear. `name` in `folder` is the old
// file, `old` its status. What the file system refuses is left out.
void copyFileAttributes(int folder, const std::string& name, const struct stat& old, int to);

// The permission bits a new file gets from the process's file mode mask.
mode_t newFileMode();

}  // namespace mek
