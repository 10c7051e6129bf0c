// plan/utf8_text.h: text from the tool, the plan and the command line made valid UTF-8 for the
// reports. The bytes come from anywhere (a serial typed in Latin-1, a vendor library's
// Windows-1252 error texts); every report shows a byte that is not UTF-8 the same way.
#pragma once

#include <string>

namespace plan {

// `text` with each maximal piece that is not well-formed UTF-8 (a stray byte, a sequence cut
// short, an overlong form, a surrogate) replaced by U+FFFD, as the JSON writer of ocp.jsonl
// replaces it. Valid UTF-8 comes back unchanged.
std::string ValidUtf8(const std::string& text);

}  // namespace plan
