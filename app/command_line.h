#pragma once

#include <cstdio>

namespace mek {

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
