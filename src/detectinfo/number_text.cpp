#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Pads `text` on the left to `width` with `fill`, keeping a leading minus
// sign in front of zeros as printf does.
char* writePadded(char* out, const char* text, std::size_t length, int width, char fill) {
    std::size_t padding = length < static_cast<std::size_t>(width)
                              ? static_cast<std::size_t>(width) - length
                              : 0;
    if (fill == '0' && length > 0 && text[0] == '-') {
        *out++ = '-';
        ++text;
        --length;
    }
    std::memset(out, fill, padding);
    out += padding;
    std::memcpy(out, text, length);
    return out + length;
}

double strtodWhole(std::string_view item, bool& whole) {
    // strtod needs a terminated string; items are short in any real file.
    char small[128];
    std::string large;
    const char* text = small;
    if (item.size() < sizeof small) {
        std::memcpy(small, item.data(), item.size());
        small[item.size()] = '\0';
    } else {
        large.assign(item);
        text = large.c_str();
    }
    char* end = nullptr;
#ifdef __MINGW32__
    // The Windows C runtime's strtod takes no hexadecimal floats.
    double value = __mingw_strtod(text, &end);
#else
    double value = std::strtod(text, &end);
#endif
    whole = end == text + item.size() && !item.empty();
    return value;
}

}  // namespace

bool parseWholeNumber(std::string_view item, std::int32_t& value) {
    const char* p = item.data();
    const char* last = p + item.size();
    bool negative = false;
    if (p != last && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p == last) {
        return false;
    }
    constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    std::int64_t magnitude = 0;
    for (; p != last; ++p) {
        unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
        if (digit > 9) {
            return false;
        }
        magnitude = magnitude * 10 + digit;
        if (magnitude > kLimit) {
            return false;
        }
    }
    if (!negative && magnitude == kLimit) {
        return false;
    }
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

bool parseDecimalNumber(std::string_view item, double& value) {
    const char* first = item.data();
    const char* last = first + item.size();
    const char* p = first;
    if (p != last && *p == '+') {
        ++p;  // from_chars takes no plus sign
        if (p != last && (*p == '+' || *p == '-')) {
            return false;
        }
    }
    if (p != last) {
        auto result = std::from_chars(p, last, value);
        if (result.ec == std::errc() && result.ptr == last) {
            return true;
        }
    }
    // Hexadecimal floats and values out of range are left to strtod.
    bool whole = false;
    double converted = strtodWhole(item, whole);
    if (whole) {
        value = converted;
    }
    return whole;
}

char* writeFixed(char* out, double value, int width, int precision) {
    if (!std::isfinite(value)) {
        // printf writes these without zeros, padded with blanks.
        const char* text = std::isnan(value) ? (std::signbit(value) ? "-nan" : "nan")
                                             : (value < 0 ? "-inf" : "inf");
        return writePadded(out, text, std::strlen(text), width, ' ');
    }
    char digits[kMaxNumberTextLength];
    auto result = std::to_chars(digits, digits + sizeof digits, value,
                                std::chars_format::fixed, precision);
    return writePadded(out, digits, static_cast<std::size_t>(result.ptr - digits), width, '0');
}

char* writeWholeNumber(char* out, std::int32_t value, int width) {
    char digits[16];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    return writePadded(out, digits, static_cast<std::size_t>(result.ptr - digits), width, '0');
}
