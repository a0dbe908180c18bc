#include "number_text.h"

#include <bit>
#include <charconv>
#include <cfloat>
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

// Items shorter than this are copied to the stack to be terminated for
// strtod; longer ones, which no real file holds, to the heap.
constexpr std::size_t kShortItem = 128;

double strtodWhole(std::string_view item, bool& whole) {
    // strtod needs a terminated string; items are short in any real file.
    char small[kShortItem];
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

// The powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Reads the exponent after an e: an optional sign and digits, taken off
// `scale`. Returns their end, or nullptr when there are no digits. An
// exponent beyond any that a double can use only has to stay beyond it.
const char* readExponent(const char* p, const char* last, std::ptrdiff_t& scale) {
    bool negative = false;
    if (p != last && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    const char* digits = p;
    std::ptrdiff_t exponent = 0;
    for (; p != last; ++p) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) {
            break;
        }
        if (exponent < 100000) {
            exponent = exponent * 10 + digit;
        }
    }
    if (p == digits) {
        return nullptr;
    }
    scale -= negative ? -exponent : exponent;
    return p;
}

}  // namespace

// The plain form of the numbers in detection-info files, an optional sign
// and digits with an optional point, such as "0345.67" or "-05.33", and an
// optional exponent, as in "3.4567e+02". When the digits make a whole
// number of at most 2^53 and the power of ten they are to be scaled by is
// at most 10^22 either way, both that number and the power of ten are exact
// doubles, and their one product or quotient is the correctly rounded value
// that strtod gives.
const char* parsePlainDecimalPrefix(const char* first, const char* last, double& value) {
#if FLT_EVAL_METHOD != 0
    // The quotient would be rounded twice where doubles are computed in
    // wider registers.
    return nullptr;
#endif
    const char* p = first;
    bool negative = false;
    if (p != last && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    // One pass over digits and at most one point.
    std::uint64_t digits = 0;
    const char* point = nullptr;
    const char* start = p;
    for (; p != last; ++p) {
        unsigned digit = static_cast<unsigned char>(*p) - static_cast<unsigned>('0');
        if (digit <= 9) {
            digits = digits * 10 + digit;  // wraps only beyond 19 digits, refused below
        } else if (*p == '.' && point == nullptr) {
            point = p;
        } else {
            break;
        }
    }
    auto count = (p - start) - (point != nullptr ? 1 : 0);
    auto scale = point != nullptr ? p - point - 1 : 0;  // digits are units of 10^-scale
    if (count == 0 || count > 19 || digits > (std::uint64_t{1} << 53)) {
        return nullptr;
    }
    if (p != last && (*p == 'e' || *p == 'E')) {
        // An e without exponent digits ends the number before it, as for strtod.
        const char* e = p;
        p = readExponent(p + 1, last, scale);
        if (p == nullptr) {
            p = e;
        }
    }
    double magnitude = static_cast<double>(digits);
    if (scale >= 0 && scale <= 22) {
        magnitude /= kExactPowersOfTen[scale];
    } else if (scale < 0 && scale >= -22) {
        magnitude *= kExactPowersOfTen[-scale];
    } else {
        return nullptr;
    }
    value = negative ? -magnitude : magnitude;
    return p;
}

namespace {

// Magnitudes below 2^52 have a binary exponent below zero, so that the
// scaled mantissa below stays within 60 bits; larger ones, which no real
// detection-info value reaches, take the general conversion.
constexpr double kIntegerPathLimit = 4503599627370496.0;  // 2^52

// |value| times `scale` (10 or 100), rounded to the nearest whole number
// and to the even one on an exact tie, as printf rounds the exact binary
// value. `magnitude` must be finite, not negative and below
// kIntegerPathLimit.
std::uint64_t scaledAndRounded(double magnitude, std::uint64_t scale) {
    auto bits = std::bit_cast<std::uint64_t>(magnitude);
    auto exponentField = static_cast<int>(bits >> 52);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int shift = 1074;  // subnormal: mantissa times 2^-1074
    if (exponentField != 0) {
        mantissa |= std::uint64_t{1} << 52;
        shift = 1075 - exponentField;  // at least 1 below the limit
    }
    std::uint64_t product = mantissa * scale;  // below 2^60: exact
    if (shift > 62) {
        return 0;  // below a quarter of a unit: rounds to zero
    }
    std::uint64_t units = product >> shift;
    std::uint64_t rest = product & ((std::uint64_t{1} << shift) - 1);
    std::uint64_t half = std::uint64_t{1} << (shift - 1);
    // Without a branch: whether to round up is as good as random.
    return units + ((rest > half) | ((rest == half) & units & 1));
}

// Number of decimal digits of `value`, at least one.
int decimalDigits(std::uint64_t value) {
    int digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

// Writes a minus sign when `negative`, then zeros up to `width` for a
// number text of `length` characters after the sign, as the "0" flag of
// printf pads.
char* putSignAndZeros(char* out, bool negative, int length, int width) {
    if (negative) {
        *out++ = '-';
        ++length;
    }
    for (; length < width; ++length) {
        *out++ = '0';
    }
    return out;
}

// Writes the `digits` decimal digits of `value` and returns their end.
char* putDigits(char* out, std::uint64_t value, int digits) {
    char* end = out + digits;
    for (char* at = end; at != out; value /= 10) {
        *--at = static_cast<char>('0' + value % 10);
    }
    return end;
}

// The texts "00" to "99", two characters each.
constexpr auto kDigitPairs = [] {
    struct Pairs {
        char text[200];
    } pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs.text[2 * i] = static_cast<char>('0' + i / 10);
        pairs.text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

constexpr std::uint32_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                          100000, 1000000, 10000000, 100000000, 1000000000};

// Writes `value` as exactly `count` digits, leading zeros included, and
// returns their end; `value` is below 10 to the `count`.
char* putFixedDigits(char* out, std::uint32_t value, int count) {
    char* end = out + count;
    char* at = end;
    for (; count >= 2; count -= 2) {
        at -= 2;
        std::memcpy(at, kDigitPairs.text + 2 * (value % 100), 2);
        value /= 100;
    }
    if (count == 1) {
        at[-1] = static_cast<char>('0' + value);
    }
    return end;
}

// The whole-number digits that a field of `width` holds besides a sign and
// `fractionLength` characters of point and decimals, when that leaves 1 to
// 9 of them; otherwise 0.
int wholeDigitsRoom(int width, bool negative, int fractionLength) {
    int room = width - fractionLength - (negative ? 1 : 0);
    return room >= 1 && room <= 9 ? room : 0;
}

// "%0<width>.<precision>f" for a finite value below kIntegerPathLimit in
// magnitude, by exact integer arithmetic; Scale is 10 to the precision.
template <std::uint64_t Scale, int Precision>
char* writeFixedByIntegers(char* out, double value, int width) {
    std::uint64_t units = scaledAndRounded(std::fabs(value), Scale);
    bool negative = std::signbit(value);
    int room = wholeDigitsRoom(width, negative, 1 + Precision);
    if (room != 0 && room + Precision <= 9 && units < kPowersOfTen[room + Precision]) {
        // The usual case: the number fits its field, whose zero padding
        // makes the whole part exactly `room` digits long.
        if (negative) {
            *out++ = '-';
        }
        auto small = static_cast<std::uint32_t>(units);
        out = putFixedDigits(out, small / Scale, room);
        *out++ = '.';
        return putFixedDigits(out, small % Scale, Precision);
    }
    std::uint64_t whole = units / Scale;
    int wholeDigits = decimalDigits(whole);
    out = putSignAndZeros(out, negative, wholeDigits + 1 + Precision, width);
    out = putDigits(out, whole, wholeDigits);
    *out++ = '.';
    return putDigits(out, units % Scale, Precision);
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
    double plain = 0;
    if (parsePlainDecimalPrefix(first, last, plain) == last) {
        value = plain;
        return true;
    }
    const char* p = first;
    if (p != last && *p == '+') {
        ++p;  // from_chars takes no plus sign
        if (p != last && (*p == '+' || *p == '-')) {
            return false;
        }
    }
    if (p != last) {
        double converted = 0;
        auto result = std::from_chars(p, last, converted);
        if (result.ec == std::errc() && result.ptr == last) {
            value = converted;
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

bool beginsAsNumber(const char* first, const char* last) {
    if (first != last && (*first == '+' || *first == '-')) {
        ++first;
    }
    if (first == last) {
        return false;
    }
    const char c = *first;
    return (c >= '0' && c <= '9') || c == '.' || c == 'i' || c == 'I' || c == 'n' || c == 'N';
}

bool readsAsNumber(std::string_view item) {
    const char* p = item.data();
    const char* last = p + item.size();
    if (!beginsAsNumber(p, last)) {
        return false;
    }
    if (*p == '+' || *p == '-') {
        ++p;
    }
    double ignored = 0;
    if (item.size() < kShortItem) {
        return parseDecimalNumber(item, ignored);
    }
    // A long item is judged by from_chars, which reads in place; it takes
    // what strtod takes once the sign is off, hexadecimal floats without
    // their 0x, and reports values out of range after reading them whole.
    std::chars_format format = std::chars_format::general;
    if (last - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        format = std::chars_format::hex;
        const char h = *p;
        if (!((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F') ||
              h == '.')) {
            return false;
        }
    }
    auto result = std::from_chars(p, last, ignored, format);
    return result.ptr == last &&
           (result.ec == std::errc() || result.ec == std::errc::result_out_of_range);
}

namespace {

bool isDigit(char c) {
    return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'} <= 9;
}

// A number text from `first` to `end`, whose whole-number digits run from
// `digits` to `digitsEnd`, is as wide as printf makes it: zero-padded to
// `width`, and wider only when no padding zero leads it.
bool hasWrittenWidth(const char* first, const char* end, const char* digits,
                     const char* digitsEnd, int width) {
    const auto length = end - first;
    return length == width || (length > width && (digits[0] != '0' || digitsEnd - digits == 1));
}

// Moves `p` past the digits before `end`.
const char* skipDigits(const char* p, const char* end) {
    while (p != end && isDigit(*p)) {
        ++p;
    }
    return p;
}

}  // namespace

bool isWrittenFixed(const char* first, const char* end, int width, int precision) {
    // Most numbers in other forms fail here: shorter than the column, or
    // without the point right before the last decimals.
    const auto length = end - first;
    if (length < width || length < precision + 2 || end[-1 - precision] != '.') {
        return false;
    }
    const char* point = end - 1 - precision;
    const char* digits = *first == '-' ? first + 1 : first;
    return digits != point && skipDigits(digits, point) == point &&
           skipDigits(point + 1, end) == end &&
           (point - digits) + precision <= kMostWrittenFixedDigits &&
           hasWrittenWidth(first, end, digits, point, width);
}

bool isWrittenWholeNumber(const char* first, const char* end, int width) {
    const bool negative = first != end && *first == '-';
    const char* digits = negative ? first + 1 : first;
    return digits != end && skipDigits(digits, end) == end &&
           end - digits <= kMostWrittenWholeDigits &&
           !(negative && writtenFormIsZero(digits, end)) &&  // printf writes no minus on zero
           hasWrittenWidth(first, end, digits, end, width);
}

bool writtenFormIsZero(const char* first, const char* last) {
    for (; first != last; ++first) {
        if (*first >= '1' && *first <= '9') {
            return false;
        }
    }
    return true;
}

char* writeFixed(char* out, double value, int width, int precision) {
    if (!std::isfinite(value)) {
        // printf writes these without zeros, padded with blanks.
        const char* text = std::isnan(value) ? (std::signbit(value) ? "-nan" : "nan")
                                             : (value < 0 ? "-inf" : "inf");
        return writePadded(out, text, std::strlen(text), width, ' ');
    }
    if (std::fabs(value) < kIntegerPathLimit) {
        if (precision == 1) {
            return writeFixedByIntegers<10, 1>(out, value, width);
        }
        if (precision == 2) {
            return writeFixedByIntegers<100, 2>(out, value, width);
        }
    }
    char digits[kMaxNumberTextLength];
    auto result = std::to_chars(digits, digits + sizeof digits, value,
                                std::chars_format::fixed, precision);
    return writePadded(out, digits, static_cast<std::size_t>(result.ptr - digits), width, '0');
}

char* writeWholeNumber(char* out, std::int32_t value, int width) {
    // The magnitude as unsigned, so that the most negative value has one.
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(std::int64_t{value})
                                        : static_cast<std::uint64_t>(value);
    int room = wholeDigitsRoom(width, value < 0, 0);
    if (room != 0 && magnitude < kPowersOfTen[room]) {
        // The number fits its field: exactly `room` digits, zeros first.
        if (value < 0) {
            *out++ = '-';
        }
        return putFixedDigits(out, static_cast<std::uint32_t>(magnitude), room);
    }
    int digits = decimalDigits(magnitude);
    out = putSignAndZeros(out, value < 0, digits, width);
    return putDigits(out, magnitude, digits);
}
