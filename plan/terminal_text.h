// plan/terminal_text.h: text from a plan or a device as a terminal shows it. A name may hold
// any bytes: control characters (ESC included) and bytes that are not UTF-8 are shown as
// escapes (\x1b, \xff), so that they can neither move the cursor nor recolour the screen, and
// columns are counted as the terminal draws them.
#pragma once

#include <cstddef>
#include <string>

namespace plan {

std::string TerminalText(const std::string& text);
// Columns on the terminal: a code point takes one, an East Asian wide one two, a combining
// mark none (the common cases; text is TerminalText's).
size_t DisplayWidth(const std::string& text);
// Cut at `width` columns and filled with spaces to exactly `width`.
std::string PadToWidth(const std::string& text, size_t width);

}  // namespace plan
