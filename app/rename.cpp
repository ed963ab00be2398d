#include "app/rename.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "files/quoting.h"

namespace mek {
namespace {

// Whether `name` reads in `code` without a fault.
bool readsIn(std::string_view name, Code code) {
  return convert(name, code, Code::utf32_le, LineEnding::keep).ok();
}

bool isUtf8(Code code) {
  return code == Code::utf8;
}

class Renamer {
 public:
  explicit Renamer(const RenameOptions& options) : options_(options) {}

  // The entries of a folder first (links are not followed), then the path.
  void walk(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
      tell("cannot rename " + quotedName(path) + ": " + std::strerror(errno));
      return;
    }
    if (S_ISDIR(status.st_mode)) {
      std::vector<std::string> entries;
      if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir)) {
          const std::string name = entry->d_name;
          if (name != "." && name != "..") entries.push_back(name);
        }
        closedir(dir);
      } else {
        tell("cannot read folder " + quotedName(path) + ": " + std::strerror(errno));
      }
      std::sort(entries.begin(), entries.end());
      const std::string prefix = path.back() == '/' ? path : path + "/";
      for (const std::string& name : entries) walk(prefix + name);
    }
    renameOne(path);
  }

  bool all() const { return all_; }

 private:
  void tell(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
    all_ = false;
  }

  // The new name of `name`, or the name itself when it stays.
  std::string converted(const std::string& name, const std::string& path) {
    Options options;
    options.errors = options_.errors;
    options.replacement = options_.replacement;
    options.repair = options_.repair;
    const Code to = options_.to;
    // A name valid in the output code is taken to be in it, unless the
    // input code reads it too and only one of the two is UTF-8, which then
    // wins (a Shift_JIS name seldom reads as UTF-8, while UTF-8 often
    // reads as Shift_JIS).
    Code from = to;
    if (readsIn(name, to)) {
      if (options_.from && *options_.from != to && isUtf8(*options_.from) && !isUtf8(to) &&
          readsIn(name, *options_.from)) {
        from = *options_.from;
      }
    } else {
      from = options_.from.value_or(detect(name));
      if (from == Code::autodetect) {
        tell("cannot convert the name " + quotedName(path) + ": its code cannot be detected");
        return name;
      }
    }
    if (from == to && !options_.repair) return name;
    const Result result = convert(name, from, to, LineEnding::keep, options);
    if (!result.ok()) {
      tell("cannot convert the name " + quotedName(path) + " from " + std::string(mek::name(from)) +
           " to " + std::string(mek::name(to)));
      return name;
    }
    return result.bytes;
  }

  void renameOne(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = path.substr(folder.size());
    if (name.empty() || name == "." || name == ".." || name == "/") return;
    const std::string renamed = converted(name, path);
    if (renamed == name) return;
    if (renamed.empty() || renamed.find('/') != std::string::npos ||
        renamed.find('\0') != std::string::npos) {
      tell("cannot rename " + quotedName(path) + ": the new name " + quotedName(renamed) +
           " is no file name");
      return;
    }
    const std::string target = folder + renamed;
    struct stat status;
    if (lstat(target.c_str(), &status) == 0) {
      tell("cannot rename " + quotedName(path) + ": " + quotedName(target) + " exists");
      return;
    }
    std::printf("%s -> %s\n", quotedName(path).c_str(), quotedName(target).c_str());
    if (options_.dry_run) return;
    // Never over an existing name, even one made since it was looked for.
    if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno == EEXIST) {
      tell("cannot rename " + quotedName(path) + ": " + quotedName(target) + " exists");
    } else {
      tell("cannot rename " + quotedName(path) + ": " + std::strerror(errno));
    }
  }

  const RenameOptions& options_;
  bool all_ = true;
};

}  // namespace

int runRename(const std::vector<const char*>& paths, const RenameOptions& options) {
  Renamer renamer(options);
  for (const char* path : paths) {
    if (*path != '\0') renamer.walk(path);
  }
  return std::fflush(stdout) == 0 && renamer.all() ? 0 : 1;
}

}  // namespace mek
