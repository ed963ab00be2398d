#pragma once

#include <cstdio>

#include "mek/codes.h"

namespace mek {

// The name entry for `name`: an exact match among the classic names first,
// in their order; failing that, the first name of all that matches with case
// ignored and '-' and '_' left out ("SJIS", "UTF-8", "utf_16LE"). Null when
// no name matches.
const CodeName* findCodeName(const char* name);
// The code for `name` as findCodeName finds it, or kCodeAuto (detect) when
// no name matches.
CodeNumber findCode(const char* name);
// The one code name within two edits of `typed` (case, '-' and '_' ignored),
// as its full name, for "(sjis?)" after an unknown name; null when there is
// none or several codes are as close. `input`: "auto" counts too.
const char* closeCodeName(const char* typed, bool input);
// The line-ending code for `name` (matched exactly), or `current` when no
// name matches.
int findLineEnding(const char* name, int current);

// Writes the usage text: banner, synopsis, samples and the grids of the
// classic code names and the line-ending names.
void printUsage(std::FILE* out);
// Writes the usage text, then what every code name means, the line-ending
// names and the long options.
void printHelp(std::FILE* out);

// The whole command-line tool: walks the arguments, converts, and answers the
// exit status (0 success or plain usage, 1 after an error message, 2 when the
// usage text is printed because no usable output code was given).
int runCommandLine(int argc, char** argv);

}  // namespace mek
