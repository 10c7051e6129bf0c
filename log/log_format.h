// log/log_format.h: message formats checked against their arguments when the tool is
// compiled. The compiler's own printf check cannot be used here: it reads the 64-bit form
// "%I64u" as the C library's 'I' flag with a field width of 64 and then wants a 32-bit
// argument. This check knows the forms the log understands, "%I64u" and "%I64x" included, so
// a wrong argument type or count stops the build instead of printing garbage.
#pragma once

#include <cstddef>
#include <type_traits>

namespace log_format {

enum class Kind { Int, Int64, Double, Text, Unsupported };

template <typename T>
constexpr Kind KindOf() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, bool>) {
        return Kind::Unsupported;
    } else if constexpr (std::is_integral_v<U> && sizeof(U) <= 4) {
        return Kind::Int;   // promoted to int or unsigned int
    } else if constexpr (std::is_integral_v<U> && sizeof(U) == 8) {
        return Kind::Int64;
    } else if constexpr (std::is_floating_point_v<U>) {
        return Kind::Double;
    } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
        return Kind::Text;
    } else {
        return Kind::Unsupported;
    }
}

// Never defined and not constexpr: a format that does not fit its arguments makes the
// compile-time check reach it, and the compiler names it in its error.
void FormatDoesNotFitItsArguments();

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }

// Walks the format's conversions and compares each with the kind of the argument it takes.
consteval void Check(const char* format, const Kind* kinds, size_t count) {
    size_t next = 0;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        while (IsFlag(*p)) ++p;
        while (IsDigit(*p)) ++p;
        if (*p == '.') {
            ++p;
            while (IsDigit(*p)) ++p;
        }
        bool wide = false;
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            wide = true;
            p += 3;
        } else if (p[0] == 'l' && p[1] == 'l') {
            wide = true;
            p += 2;
        } else {
            while (*p == 'h') ++p;   // h and hh take a promoted int like the plain forms
        }
        Kind wanted = Kind::Unsupported;
        switch (*p) {
            case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
                wanted = wide ? Kind::Int64 : Kind::Int;
                break;
            case 'f': case 'F': case 'e': case 'E': case 'g': case 'G':
                wanted = wide ? Kind::Unsupported : Kind::Double;
                break;
            case 's':
                wanted = wide ? Kind::Unsupported : Kind::Text;
                break;
            default:
                break;   // '*', 'l', 'n', 'p' and the end of the text are not used by the tool
        }
        if (wanted == Kind::Unsupported || next >= count || kinds[next] != wanted) {
            FormatDoesNotFitItsArguments();
        }
        ++next;
    }
    if (next != count) FormatDoesNotFitItsArguments();
}

}  // namespace log_format

// A format text whose conversions were checked against Args at compile time. Built only from
// a constant text; once built it can be stored in tables and passed around.
template <typename... Args>
class LogFormat {
public:
    consteval LogFormat(const char* text) : text_(text) {   // NOLINT: implicit on purpose
        constexpr log_format::Kind kinds[] = {log_format::KindOf<Args>()..., log_format::Kind::Unsupported};
        log_format::Check(text, kinds, sizeof...(Args));
    }
    const char* Text() const { return text_; }

private:
    const char* text_;
};
