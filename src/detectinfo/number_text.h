// Exact conversions between the numbers of detection-info files and text.
// Reading takes what decimal strtol and strtod take; writing gives what
// printf gives for the "%0W.Pf" and "%0Wd" conversions, with a point as
// decimal separator whatever the locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Widest text writeFixed or writeWholeNumber can produce for the widths and
// precisions of the layout: the largest double has 309 integer digits.
inline constexpr std::size_t kMaxNumberTextLength = 330;

// Converts a whole item to a signed 32-bit number (base 10, optional sign,
// leading zeros allowed). Fails for any other text or a value out of range,
// leaving `value` alone.
bool parseWholeNumber(std::string_view item, std::int32_t& value);

// Converts a whole item to a double, in every form strtod takes (decimal,
// hexadecimal, inf, nan, out-of-range values as strtod rounds them), with
// the same value as strtod. Leaves `value` alone when it fails.
bool parseDecimalNumber(std::string_view item, double& value);

// True when parseDecimalNumber would convert `item`, found without
// allocating anything, whatever the item's length.
bool readsAsNumber(std::string_view item);

// True when the text at `first` (up to `last`) may begin a number that
// readsAsNumber takes: after an optional sign, a digit, a point, or the
// first letter of inf or nan. Most texts that are no number fail here.
bool beginsAsNumber(const char* first, const char* last);

// The fast path of parseDecimalNumber, for reading numbers straight from a
// line: converts the plain decimal ([sign] digits [. digits] [exponent])
// at `first` and returns the end of it, or nullptr when the text there is
// no plain decimal this path converts exactly. The caller checks that the item
// ends there; otherwise parseDecimalNumber decides.
const char* parsePlainDecimalPrefix(const char* first, const char* last, double& value);

// Numbers in their written form: the very text that writeFixed or
// writeWholeNumber writes for the value the text reads as. Such a number is
// copied as it stands; the functions below tell it by its shape alone.
//
// Most digits a written form may have: a double holds every decimal of 15
// digits closely enough that the text written for it at the same precision
// is the decimal itself, and every whole number of 9 digits fits 32 bits.
inline constexpr int kMostWrittenFixedDigits = 15;
inline constexpr int kMostWrittenWholeDigits = 9;

// True when `first`..`end` is a number in the written form of
// "%0<width>.<precision>f" (precision at least 1): an optional minus sign,
// whole-number digits, a point and `precision` decimals, at least `width`
// characters long and longer only when no padding zero leads it, and at
// most kMostWrittenFixedDigits digits in all.
bool isWrittenFixed(const char* first, const char* end, int width, int precision);

// The same for "%0<width>d": an optional minus sign and digits, at least
// `width` characters long and longer only when no padding zero leads it,
// not a zero with a minus sign, and at most kMostWrittenWholeDigits digits.
bool isWrittenWholeNumber(const char* first, const char* end, int width);

// True when a number in written form reads as zero (of either sign).
bool writtenFormIsZero(const char* first, const char* last);

// Writes `value` as printf's "%0<width>.<precision>f" would; returns the
// end of the text. `out` needs room for kMaxNumberTextLength characters.
char* writeFixed(char* out, double value, int width, int precision);

// Writes `value` as printf's "%0<width>d" would; returns the end of the text.
char* writeWholeNumber(char* out, std::int32_t value, int width);
