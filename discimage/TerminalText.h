// Names and messages made safe to print on a terminal.
#pragma once

#include <string>

namespace qx::discimage {

// `text` with everything a terminal would act on written out instead: control characters (C0, DEL and
// the C1 range U+0080–U+009F) become \t, \n, \r or \xNN (\u0080 … \u009f for C1), and bytes that are
// not valid UTF-8 become \xNN. Everything else, backslashes included, is kept as it is: the result is
// for people to read, not to parse back. With `keepLineBreaks`, '\n' passes unchanged (for messages
// whose lines end in it). File names from a folder or a command line go through this before they are
// printed, so a name cannot move the cursor, change colours or retitle the terminal.
std::string PrintableText(const std::string& text, bool keepLineBreaks = false);

} // namespace qx::discimage
