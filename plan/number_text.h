// plan/number_text.h: a number as the reports write it, with a printf format of one double
// conversion ("%.3g"), for the HTML reports of kelvotest-plan and kelvotest-line.
#pragma once

#include <cstdio>
#include <string>

namespace plan {

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
// Every format given is a literal of its caller with one double conversion.
inline std::string NumberText(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace plan
