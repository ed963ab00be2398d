#pragma once

#include <string>
#include <vector>

#include "mek/mek.h"

namespace mek {

// The messages of --repair, without their last newline.

// After a conversion: "repaired N lines (CHAIN, ...): the first at line L",
// then "M characters were lost and written as U+FFFD" when some were (as
// the error policy wrote them); with `verbose` one line per stretch
// instead: "repaired lines A-B (CHAIN)". Empty when nothing was repaired.
std::string repairReport(const std::vector<Repair>& repairs, Errors errors, char32_t replacement,
                         bool verbose);

// For --guess: "mojibake: CHAIN (lines A-B, C), CHAIN (line D)", each chain
// once with its stretches; empty when nothing was repaired.
std::string mojibakeSummary(const std::vector<Repair>& repairs);

// For --check, one per stretch: "lines A-B: mojibake: CHAIN", with ", N
// characters lost" when the chain lost some.
std::string stretchProblem(const Repair& repair);

}  // namespace mek
