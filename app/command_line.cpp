#include "app/command_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/arguments.h"
#include "app/driver.h"
#include "app/rename.h"
#include "app/signal_guard.h"
#include "files/quoting.h"
#include "mek/mek.h"

namespace mek {

namespace {

// Prints one name in the grid of four names a row; `column` carries on from
// one table to the next.
void printGridName(std::FILE* out, const char* name, int& column) {
  if (column == 0) std::fputs("  ", out);
  std::fprintf(out, "%-19s", name);
  if (++column > 3) {
    std::fputc('\n', out);
    column = 0;
  }
}

}  // namespace

void printUsage(std::FILE* out) {
  std::fputs("mek " MEK_VERSION " - Japanese character code converter (" MEK_RELEASE_DATE
             ")\n"
             "\n"
             "mek [-i<in-code>] [in-file] -o<out-code> [out-file] -<code>\n"
             "sample:\n"
             "  > mek -osjis < input.txt > output.txt\n"
             "  > mek input.txt -osjis output.txt\n"
             "  > mek -iauto input.txt -osjis output.txt\n"
             "  > mek -iauto input.txt -osjis output.txt -unix\n"
             "character-code:\n",
             out);
  int column = 0;
  for (const CodeName& entry : codeNames()) {
    if (entry.listed) printGridName(out, entry.name, column);
  }
  std::fputs("return-code:\n", out);
  for (const LineEndingName& entry : lineEndingNames()) {
    if (entry.listed) printGridName(out, entry.name, column);
  }
}

void printHelp(std::FILE* out) {
  printUsage(out);
  std::fputs("\n\ncodes (a name matches exactly, or else with case, '-' and '_' ignored):\n", out);
  for (const Code code : codes()) {
    const char* separator = "  ";
    for (const CodeName& entry : codeNames()) {
      if (entry.code != code) continue;
      std::fprintf(out, "%s%s", separator, entry.name);
      separator = ", ";
    }
    std::fprintf(out, "\n      %s\n", describe(code).data());
  }
  std::fputs(
      "line endings (-<name>; the return-code: names above, and keep), written for\n"
      "every line ending of the text; without one, LF:\n",
      out);
  for (const LineEnding ending :
       {LineEnding::lf, LineEnding::crlf, LineEnding::cr, LineEnding::keep}) {
    const char* separator = "  ";
    for (const LineEndingName& entry : lineEndingNames()) {
      if (entry.line_ending != ending) continue;
      std::fprintf(out, "%s%s", separator, entry.name);
      separator = ", ";
    }
    std::fprintf(out, "\n      %s\n", describe(ending).data());
  }
  std::fputs(
      "options:\n"
      "  --fallback\n"
      "      sjis, euc_jp, jis and iso2022jp write a character that has no code of\n"
      "      its own at the code of its twin (U+301C as that of U+FF5E) instead of\n"
      "      failing; cp932 always does\n"
      "  --errors=strict|replace|skip|html\n"
      "      what to do with input not valid in the input code and characters\n"
      "      the output code cannot carry: fail (strict, the default); write\n"
      "      U+FFFD, or ? where the output code has no U+FFFD (replace); drop\n"
      "      them (skip); write a character as &#N; (html); after a forgiving\n"
      "      run, N changed in 'NAME'; the first at byte B (line L, column C):\n"
      "      DETAIL goes to standard error, with --verbose one line per change\n"
      "  --replacement=C\n"
      "      with --errors=replace, write the one character C instead of both\n"
      "      U+FFFD and ?\n"
      "  --wide-kana, --compose-kana, --narrow-ascii\n"
      "      fold the decoded text, in this order whatever the order given:\n"
      "      half-width katakana to full width (a base and its voiced mark to\n"
      "      one kana where JIS X 0208 has it, otherwise the spacing mark);\n"
      "      a kana and a combining voiced mark U+3099/U+309A to the\n"
      "      precomposed kana; full-width ASCII and U+3000 to ASCII\n"
      "  --verbose\n"
      "      say on standard error which code was detected (detected CODE, and\n"
      "      the scores) and every change of a forgiving run; a failure always\n"
      "      says which file, where and why: cannot convert bytes in 'NAME' at\n"
      "      byte N (line L, column C): invalid CODE bytes XX XX, or: U+XXXX has\n"
      "      no CODE code\n"
      "  --guess\n"
      "      convert nothing; print the input code that detection chooses (or\n"
      "      that -i names, once the input decodes in it) and its line endings\n"
      "      (LF, CRLF, CR, MIXED or NONE) on standard output: CODE EOL; no -o;\n"
      "      every word that does not begin with - is a file, each answered as\n"
      "      NAME: CODE EOL when there are several\n"
      "  --check\n"
      "      convert nothing and write nothing: read each file (every word that\n"
      "      does not begin with -; standard input without one), to the -o code\n"
      "      or only decoding, and print every problem on standard output: byte B\n"
      "      (line L, column C): DETAIL, after NAME: with several files; status 0\n"
      "      none, 1 some, 2 a file could not be read\n"
      "  --repair\n"
      "      after decoding, take back the lines that are mojibake of Japanese\n"
      "      text: utf8 read as cp932, cp932 read as cp1252, latin1, cp437 or\n"
      "      cp850, eucjp read as latin1, utf8 read as cp1252, latin1 or eucjp,\n"
      "      jis without ESC, and two of these in a row; repaired N lines (CHAIN):\n"
      "      the first at line L goes to standard error, with --verbose one line\n"
      "      per stretch. A character the mojibake lost fails the conversion\n"
      "      unless --errors=replace writes U+FFFD for it. --check lists the\n"
      "      stretches (status 1), --guess names them: CODE EOL, mojibake: CHAIN\n"
      "      (lines A-B). A line of more than 4096 characters stays as it stands\n"
      "  --rename\n"
      "      convert the names of the files and folders (every word that does\n"
      "      not begin with -; a folder's entries first) from the -i code, or\n"
      "      each detected, to the -o code, and print 'OLD' -> 'NEW' for each; a\n"
      "      name valid in the -o code stays unless --repair finds mojibake in\n"
      "      it; an existing name is never replaced\n"
      "  --dry-run\n"
      "      with --rename, only print what would be renamed\n"
      "  --detect=score|first\n"
      "      how the input code is detected when -i names none: score (the\n"
      "      default) takes the code whose decoded text looks most like Japanese\n"
      "      text; first takes the first code whose test passes, in a fixed\n"
      "      order; with --verbose score also tells its score and the\n"
      "      runner-up's. score decides after the first line that makes the\n"
      "      code clear (or after 64 KiB): a later byte the code cannot read\n"
      "      fails there. Under both a code wins only on evidence: not on a\n"
      "      sequence cut off by the end, nor on a reading that is noise. Input\n"
      "      that no code reads fails: cannot detect the input code, and where\n"
      "      one code nearly reads it, it reads as CODE except at byte B ...;\n"
      "      name the code to convert it anyway: -iutf8 (fails at the place) or\n"
      "      -iutf8 --errors=replace (writes U+FFFD there)\n"
      "  --in-place\n"
      "      every word that does not begin with - is a file converted in place,\n"
      "      each on its own (detected on its own); -i and -o take no file word\n"
      "  --base64-decode, --qp-decode\n"
      "      take base64 or quoted-printable off the input before it is\n"
      "      detected and decoded (a mail body); places in messages then count\n"
      "      the decoded bytes, and say so\n"
      "  --base64-encode, --qp-encode\n"
      "      put base64 or quoted-printable, in lines of 76 characters, on the\n"
      "      output (a body for Content-Transfer-Encoding)\n"
      "  --mime-decode\n"
      "      decode the encoded words (=?ISO-2022-JP?B?...?=) of a mail's header\n"
      "      block, the lines up to the first empty one; the body stays as it is\n"
      "  --mime-encode[=B|Q]\n"
      "      write the header lines that hold characters beyond ASCII as B (the\n"
      "      default) or Q encoded words of the output code, in lines of 76\n"
      "  --buffered\n"
      "      from a pipe, convert in whole pieces and hold the output for a pipe\n"
      "      or terminal until the run has succeeded (up to 16 MiB), instead of\n"
      "      writing what each read gives at once\n"
      "  --force\n"
      "      let standard input replace an existing output file, which mek\n"
      "      otherwise refuses (refusing to replace 'NAME' with standard input)\n"
      "  --help\n"
      "      print this text\n"
      "  --version\n"
      "      print the version\n"
      "  --\n"
      "      ends the options: every later word is a file (the input, or with\n"
      "      --in-place, --guess, --check and --rename every one), even one that\n"
      "      begins with -\n"
      "\n"
      "-u alone is the line ending LF; -iu and -ou name the code u, UTF-16\n"
      "little-endian with a mark. The word right after -i<code> is the input file\n"
      "and the word right after -o<code> the output file, unless it begins with -.\n"
      "Without an input file, the text is read from standard input, which must be\n"
      "a file or a pipe (not a terminal), and does not replace an existing output\n"
      "file that holds something without --force. One input file at most: a\n"
      "second one, or an -i name that is no code, is an error.\n"
      "\n"
      "exit status:\n"
      "  0  converted (or --help, --version, or no arguments: the usage text)\n"
      "  1  a file could not be read, converted or written; one message says why\n"
      "  2  a wrong command line: the message and the usage text on standard error\n"
      "\n"
      "common tasks:\n"
      "  a Shift_JIS CSV to UTF-8, and back for Excel (CR LF):\n"
      "    mek -icp932 ledger.csv -outf8 ledger-utf8.csv\n"
      "    mek -iutf8 ledger-utf8.csv -ocp932 ledger.csv -win\n"
      "  every text file of a folder to UTF-8, in place (each detected):\n"
      "    mek --in-place -outf8 folder/*.txt\n"
      "  find every bad byte, with its place, converting nothing:\n"
      "    mek --check -iutf8 notes.txt -osjis\n"
      "  convert anyway, with ? for what Shift_JIS cannot carry, and see what\n"
      "  changed on standard error:\n"
      "    mek -iutf8 notice.txt -osjis notice-sjis.txt --errors=replace\n"
      "  take back mojibake (UTF-8 read as cp932 and saved, and the like):\n"
      "    mek --repair --errors=replace broken.txt -outf8 fixed.txt\n"
      "  the file names of a ZIP unpacked on Linux or macOS, to UTF-8:\n"
      "    mek --rename --repair -outf8 unpacked\n",
      out);
}

namespace {

bool usableOutput(const std::optional<Code>& code) {
  return code.has_value() && *code != Code::autodetect;
}

// The error policy that `--errors=` names, or false.
bool findErrors(const char* word, Errors& action) {
  static constexpr std::pair<const char*, Errors> kNames[] = {{"strict", Errors::strict},
                                                              {"replace", Errors::replace},
                                                              {"skip", Errors::skip},
                                                              {"html", Errors::html}};
  for (const auto& [name, named] : kNames) {
    if (std::strcmp(word, name) == 0) {
      action = named;
      return true;
    }
  }
  return false;
}

// The one character that `text` holds in UTF-8, or 0 when it holds none or
// more than one.
char32_t oneCharacter(const char* text) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 4) return 0;
  const Result one = convert(std::string_view(text, length), Code::utf8, Code::utf32_be);
  if (!one.ok() || one.bytes.size() != 4) return 0;
  const auto* p = reinterpret_cast<const std::uint8_t*>(one.bytes.data());
  return static_cast<char32_t>(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]);
}

}  // namespace

namespace {

// A closed standard stream gets /dev/null opened the wrong way round in its
// place: reads from standard input and writes to standard output and error
// then fail as they would on the closed stream, and no file opened later can
// take its number (the tool must never write its output or messages into its
// input or a temporary file).
void holdClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

// The names of `files` with each file once: a name that resolves (links
// followed) to the path of an earlier one is left out. Hard links are
// different names and stay.
std::vector<const char*> eachFileOnce(const std::vector<const char*>& files) {
  std::vector<const char*> once;
  std::set<std::string> seen;
  for (const char* file : files) {
    char* resolved = realpath(file, nullptr);
    const std::string key = resolved != nullptr ? resolved : file;
    std::free(resolved);
    if (seen.insert(key).second) once.push_back(file);
  }
  return once;
}

// The device and inode of the file at `path`, or nothing.
std::optional<std::pair<dev_t, ino_t>> fileIdentity(const char* path) {
  struct stat status;
  if (stat(path, &status) != 0) return std::nullopt;
  return std::make_pair(status.st_dev, status.st_ino);
}

// Whether standard output is the regular file `input` (or standard input,
// for a null `input`) is: writing there would read the output back.
bool outputIsInput(const char* input) {
  struct stat out;
  if (fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode)) return false;
  struct stat in;
  const int got = input != nullptr ? stat(input, &in) : fstat(STDIN_FILENO, &in);
  return got == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// Standard input that holds no text to convert: a terminal (the user would
// be typing the text that replaces a file) or another character device such
// as /dev/null, which is what xargs gives.
bool standardInputIsIdle() {
  struct stat status;
  return isatty(STDIN_FILENO) == 1 ||
         (fstat(STDIN_FILENO, &status) == 0 && S_ISCHR(status.st_mode));
}

// Whether writing standard input's text to `path` would replace a file that
// holds something: an existing regular file that is not empty and is not
// standard input itself (mek -outf8 f.txt < f.txt, which the output's
// replacement makes safe). What follows -o after no input file is more
// often a file the user meant to read.
bool wouldReplaceWithStandardInput(const char* path) {
  struct stat target;
  if (stat(path, &target) != 0 || !S_ISREG(target.st_mode) || target.st_size == 0) return false;
  struct stat input;
  return fstat(STDIN_FILENO, &input) != 0 || input.st_dev != target.st_dev ||
         input.st_ino != target.st_ino;
}

// "not an input code: NAME", with " (sjis?)" when one name is close.
std::string unknownCodeMessage(const char* opening, const char* name, bool input) {
  std::string message = opening + labelText(name);
  if (const std::optional<Code> close = codeNear(name, input)) {
    message += " (" + std::string(mek::name(*close)) + "?)";
  }
  return message;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  printUsage(stderr);
  return 2;
}

// Opens the input files in the order the walk named them, keeping the last.
// Null after a message for one that cannot be opened.
std::FILE* openInputs(const std::vector<const char*>& inputs) {
  std::FILE* input = stdin;
  for (const char* path : inputs) {
    if (input != stdin) std::fclose(input);
    input = std::fopen(path, "rb");
    if (input == nullptr) {
      std::fprintf(stderr, "cannot open input file %s: %s\n", quotedName(path).c_str(),
                   std::strerror(errno));
      return nullptr;
    }
  }
  return input;
}

int run(int argc, char** argv) {
  holdClosedStandardStreams();
  // A file too large for the process's limit is a write error, not a kill.
  signal(SIGXFSZ, SIG_IGN);
  // A reader that went away is an error of the write that finds it: a
  // message on a closed standard error never kills a run that holds a
  // temporary file, and standard output's reader going away still ends the
  // run as SIGPIPE would (see endByBrokenPipe).
  signal(SIGPIPE, SIG_IGN);
  Arguments a = readArguments(argc, argv);
  if (a.action == Arguments::Action::kHelp) {
    printHelp(stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (a.action == Arguments::Action::kVersion) {
    std::puts("mek " MEK_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!a.error.empty()) return usageError(a.error);
  // A code name that names no code is an error, for -i as for -o.
  if (a.input_name != nullptr && !a.input_code) {
    return usageError(unknownCodeMessage("not an input code: ", a.input_name, true));
  }
  // --guess and --check convert nothing and need no output code.
  if (!a.run.guess && !a.check && !usableOutput(a.output_code)) {
    if (argc <= 1) {
      printUsage(stdout);
      std::fflush(stdout);
      return 0;
    }
    if (a.output_name == nullptr) {
      return usageError("no output code: add -o<code>, for example -outf8");
    }
    return usageError(unknownCodeMessage("not an output code: ", a.output_name, false));
  }
  if (a.inputs.size() > 1) {
    return usageError("more than one input file: " + quotedName(a.inputs[1]) +
                      " (--in-place converts several files)");
  }
  if (a.in_place && a.files.empty()) {
    std::fputs("no files: name the files to convert in place\n", stderr);
    return 2;
  }
  // The error policy and its replacement are told before anything is read.
  if (a.errors_name != nullptr && !findErrors(a.errors_name, a.run.errors)) {
    return usageError("unknown error policy: " + labelText(a.errors_name));
  }
  if (a.replacement_text != nullptr) {
    a.run.replacement = oneCharacter(a.replacement_text);
    if (a.run.replacement == 0) {
      std::fputs("--replacement takes one character\n", stderr);
      return 2;
    }
    const Code code = usableOutput(a.output_code) ? *a.output_code : Code::utf8;
    if (!carries(code, a.run.replacement)) {
      std::fprintf(stderr, "cannot use %s as replacement in %s\n", a.replacement_text,
                   name(code).data());
      return 2;
    }
  }
  if (a.rename) {
    if (a.files.empty()) {
      std::fputs("no files: name the files and folders to rename\n", stderr);
      return 2;
    }
    std::optional<Code> from = a.input_code;
    if (from == Code::autodetect) from.reset();
    return runRename(
        a.files, {from, *a.output_code, a.run.repair, a.dry_run, a.run.errors, a.run.replacement});
  }
  const bool eachFile = a.in_place || a.run.guess || a.check;
  if (!a.in_place && a.inputs.empty() && a.files.empty() && standardInputIsIdle()) {
    return usageError("no input: name a file, or send the text on standard input");
  }
  if (!eachFile && a.inputs.empty() && a.output_path != nullptr && !a.force &&
      wouldReplaceWithStandardInput(a.output_path)) {
    const std::string path = a.output_path;
    const std::string code = std::string("-o") + a.output_name;
    return usageError("refusing to replace '" + path +
                      "' with standard input: name the input file first (mek " + path + " " + code +
                      " out.txt), write to standard output (mek " + code +
                      " < in.txt > out.txt), or add --force");
  }
  const Code inputCode = a.input_code.value_or(Code::autodetect);
  const Code outputCode = usableOutput(a.output_code) ? *a.output_code : Code::utf8;
  if (a.check) {
    // Each file on its own, named when there are several; the worst status.
    const Code checkCode = usableOutput(a.output_code) ? *a.output_code : Code::autodetect;
    if (a.files.empty()) return runCheck(stdin, inputCode, checkCode, a.line_ending, a.run);
    int status = 0;
    for (const char* file : a.files) {
      RunOptions each = a.run;
      each.label = a.files.size() > 1 ? file : nullptr;
      each.input_name = file;
      std::FILE* in = std::fopen(file, "rb");
      if (in == nullptr) {
        if (each.label != nullptr) std::fprintf(stderr, "%s: ", labelText(each.label).c_str());
        std::fprintf(stderr, "cannot open input file %s: %s\n", quotedName(file).c_str(),
                     std::strerror(errno));
        status = 2;
        continue;
      }
      status = std::max(status, runCheck(in, inputCode, checkCode, a.line_ending, each));
      std::fclose(in);
    }
    return status;
  }
  // Signals are guarded before any output is opened; --guess writes none.
  std::optional<SignalGuard> guard;
  if (!a.run.guess) guard.emplace(a.in_place && a.files.size() > 1);
  a.run.guard = guard ? &*guard : nullptr;
  if (!eachFile && a.output_path == nullptr &&
      outputIsInput(a.inputs.empty() ? nullptr : a.inputs.back())) {
    // As cat refuses: the run would read what it writes.
    std::fprintf(stderr, "input file is output file: %s\n",
                 a.inputs.empty() ? "standard input" : quotedName(a.inputs.back()).c_str());
    return 1;
  }
  if (!eachFile || a.files.empty()) {
    std::FILE* input = openInputs(a.inputs);
    if (input == nullptr) return 1;
    RunOptions one = a.run;
    one.input_name = a.inputs.empty() ? nullptr : a.inputs.back();
    const bool ok = runConversion(input, numberOf(inputCode), a.output_path, numberOf(outputCode),
                                  numberOf(a.line_ending), one);
    if (input != stdin) std::fclose(input);
    if (guard) guard->settle(ok);
    return ok ? 0 : 1;
  }
  // Each file once, on its own, detected on its own; one that fails keeps
  // its contents, and the others are still tried. In place every message and
  // answer is told under the file's name, and so is every answer of --guess
  // when there is more than one.
  bool all = true;
  const std::vector<const char*> once = eachFileOnce(a.files);
  // The files this run wrote: a later name of one of them (another path to
  // it, as through a bind mount) would convert the output again.
  std::set<std::pair<dev_t, ino_t>> written;
  for (std::size_t i = 0; i < once.size(); ++i) {
    const char* file = once[i];
    if (a.in_place) {
      const auto identity = fileIdentity(file);
      if (identity && written.count(*identity) != 0) {
        // Converted already, under the name that wrote it.
        if (guard) {
          guard->finished(file, true, i + 1 == once.size());
          guard->settle(i + 1 == once.size() && all);
        }
        continue;
      }
    }
    RunOptions each = a.run;
    each.label = a.in_place || once.size() > 1 ? file : nullptr;
    each.input_name = file;
    each.last = i + 1 == once.size();
    // A FIFO would block and a device never ends: only regular files are
    // replaced in place.
    struct stat status;
    const bool regular = !a.in_place || stat(file, &status) != 0 || S_ISREG(status.st_mode);
    std::FILE* in = regular ? std::fopen(file, "rb") : nullptr;
    if (!regular) {
      std::fprintf(stderr, "%s: not a regular file: %s\n", labelText(file).c_str(),
                   quotedName(file).c_str());
      if (guard) guard->finished(file, false, each.last);
      all = false;
    } else if (in == nullptr) {
      if (each.label != nullptr) std::fprintf(stderr, "%s: ", labelText(each.label).c_str());
      std::fprintf(stderr, "cannot open input file %s: %s\n", quotedName(file).c_str(),
                   std::strerror(errno));
      if (guard) guard->finished(file, false, each.last);
      all = false;
    } else {
      const bool ok = runConversion(in, numberOf(inputCode), a.in_place ? file : nullptr,
                                    numberOf(outputCode), numberOf(a.line_ending), each);
      all = ok && all;
      std::fclose(in);
      if (ok && a.in_place) {
        if (const auto identity = fileIdentity(file)) written.insert(*identity);
      }
    }
    // A signal during a commit ends the run here, before the next file.
    if (guard) guard->settle(each.last && all);
  }
  return all ? 0 : 1;
}

}  // namespace

int runCommandLine(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("cannot allocate enough memory\n", stderr);
    return 1;
  }
}

}  // namespace mek
