#pragma once

#include <cstdio>

namespace mek {

// One entry of a name table; the tables end with an entry whose name is null.
struct NameEntry {
  int code;
  const char* name;
};

// Code names and aliases, searched from the top; the first exact match wins.
extern const NameEntry kCodeNames[];
// Line-ending names: 1 LF, 2 CR LF, 3 CR.
extern const NameEntry kLineEndingNames[];

// The code number for `name`, or 0 (detect) when no entry matches.
int findCode(const char* name);
// The line-ending code for `name`, or `current` when no entry matches.
int findLineEnding(const char* name, int current);

// Writes the usage text: banner, synopsis, samples and both name grids.
void printUsage(std::FILE* out);

// The whole command-line tool: walks the arguments, converts, and answers the
// exit status (0 success or plain usage, 1 after an error message, 2 when the
// usage text is printed because no usable output code was given).
int runCommandLine(int argc, char** argv);

}  // namespace mek
