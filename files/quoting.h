#pragma once

#include <string>
#include <string_view>

namespace mek {

// A file name or a word of the command line as messages show it, so that
// no name can move the terminal's cursor or forge a line of a log:
// 'NAME' when every character is printable (a ' inside written '\''),
// otherwise $'...' with \n, \r, \t, \a, \b, \e, \f, \v, \\, \' and \xHH for
// the other controls and bytes that are no UTF-8 (as GNU tools quote).
std::string quotedName(std::string_view name);

// The same for the "NAME: " before a message or an answer: a printable name
// as it is, others as quotedName shows them.
std::string labelText(std::string_view name);

}  // namespace mek
