// line/text.h: how stored text is shown: on a terminal or in a text table control characters
// are escaped (\x1b), never passed raw; CSV quotes per RFC 4180; JSON as nlohmann writes it.
#pragma once

#include <memory>
#include <string>

#include "line/store.h"

namespace line {

// Control characters (C0, DEL, C1) as \xNN, a backslash as \\; all else (valid UTF-8) as is.
std::string Shown(const std::string& text);
// Shown(text) padded with spaces to `width` characters (a UTF-8 sequence counts as one).
std::string Padded(const std::string& text, size_t width);
std::string CsvField(const std::string& text);

// Opens the store of a command's --db, or prints why it cannot to stderr.
std::unique_ptr<Store> OpenStoreOrSay(const char* command, const std::string& url);

}  // namespace line
