#include "app/repair_report.h"

#include <cstdio>

namespace mek {
namespace {

// "line 5" or "lines 3-40".
std::string linesOf(const Repair& repair) {
  if (repair.last_line <= repair.line) return "line " + std::to_string(repair.line);
  return "lines " + std::to_string(repair.line) + "-" + std::to_string(repair.last_line);
}

// How the error policy wrote a lost character.
std::string lostAs(Errors errors, char32_t replacement) {
  switch (errors) {
    case Errors::skip:
      return "dropped";
    case Errors::html:
      return "written as &#65533;";
    default:
      break;
  }
  if (replacement == 0) return "written as U+FFFD";
  char text[32];
  std::snprintf(text, sizeof text, "written as U+%04X", static_cast<unsigned>(replacement));
  return text;
}

std::string characters(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " character" : " characters");
}

}  // namespace

std::string repairReport(const std::vector<Repair>& repairs, Errors errors, char32_t replacement,
                         bool verbose) {
  if (repairs.empty()) return "";
  std::string report;
  if (verbose) {
    for (const Repair& repair : repairs) {
      if (!report.empty()) report += '\n';
      report += "repaired ";
      report += linesOf(repair);
      report += " (";
      report += repair.chain;
      report += ')';
      if (repair.lost != 0) {
        report += ", ";
        report += characters(repair.lost);
        report += " lost and ";
        report += lostAs(errors, replacement);
      }
    }
    return report;
  }
  std::size_t lines = 0;
  std::size_t lost = 0;
  std::vector<std::string> chains;
  for (const Repair& repair : repairs) {
    lines += repair.last_line - repair.line + 1;
    lost += repair.lost;
    bool known = false;
    for (const std::string& chain : chains) known = known || chain == repair.chain;
    if (!known) chains.push_back(repair.chain);
  }
  report = "repaired " + std::to_string(lines) + (lines == 1 ? " line (" : " lines (");
  for (std::size_t i = 0; i < chains.size(); ++i) {
    if (i != 0) report += ", ";
    report += chains[i];
  }
  report += "): the first at line " + std::to_string(repairs.front().line);
  if (lost != 0) {
    report += '\n';
    report += characters(lost);
    report += lost == 1 ? " was lost and " : " were lost and ";
    report += lostAs(errors, replacement);
  }
  return report;
}

std::string mojibakeSummary(const std::vector<Repair>& repairs) {
  if (repairs.empty()) return "";
  // Each chain once, with its stretches: "lines 3-40, 45".
  struct Told {
    std::string chain;
    std::string ranges;
    bool several = false;
  };
  std::vector<Told> chains;
  for (const Repair& repair : repairs) {
    std::string range = std::to_string(repair.line);
    if (repair.last_line > repair.line) {
      range += '-';
      range += std::to_string(repair.last_line);
    }
    Told* told = nullptr;
    for (Told& known : chains) {
      if (known.chain == repair.chain) told = &known;
    }
    if (told == nullptr) {
      chains.push_back({repair.chain, range, repair.last_line > repair.line});
      continue;
    }
    told->ranges += ", ";
    told->ranges += range;
    told->several = true;
  }
  std::string summary = "mojibake: ";
  for (std::size_t i = 0; i < chains.size(); ++i) {
    if (i != 0) summary += ", ";
    summary += chains[i].chain;
    summary += chains[i].several ? " (lines " : " (line ";
    summary += chains[i].ranges;
    summary += ')';
  }
  return summary;
}

std::string stretchProblem(const Repair& repair) {
  std::string problem = linesOf(repair) + ": mojibake: " + repair.chain;
  if (repair.lost != 0) problem += ", " + characters(repair.lost) + " lost";
  return problem;
}

}  // namespace mek
