#include "read_problem.h"

#include <cstring>
#include <iterator>

#include "detection_input.h"
#include "detection_record.h"

namespace {

// The text of each reason, in the order of the reasons: {value},
// {column}, {count}, {line}, {values} and {error} stand for details of the
// problem, {limit} for the reason's limit, {columns} for the columns of
// the problem's line of numbers.
struct ReasonText {
    ReadReason reason;
    const char* text;
    long limit;
};

constexpr ReasonText kReasonTexts[] = {
    {ReadReason::None, "", 0},
    {ReadReason::SeparatorExpected, "a record separator line was expected, found {value}", 0},
    {ReadReason::TextTooLong, "the {column} line is longer than {limit} characters",
     static_cast<long>(kMaxTextLength)},
    {ReadReason::TextHoldsNul, "the {column} line holds a NUL byte", 0},
    {ReadReason::NotAWholeNumber, "value {value} of {column} is not a whole number within 32 bits",
     0},
    {ReadReason::NotANumber, "value {value} of {column} is not a number", 0},
    {ReadReason::TooManySegments,
     "{column} is {count}, more than the {limit} segments a record can hold", kMaxSegments},
    {ReadReason::TextAfterLastValue, "unexpected text {value} after the record's last value", 0},
    {ReadReason::MoreSegmentLines, "{column} is {count} but more segment lines follow", 0},
    {ReadReason::ValueCount, "the {line} holds {values} values; the layout has {columns}", 0},
    {ReadReason::LineTooLong, "the line is longer than {limit} bytes",
     static_cast<long>(kMaxLineLength)},
    {ReadReason::EndsInsideRecord, "the file ends inside the record", 0},
    {ReadReason::EndsInsideHeader, "the file ends inside its header", 0},
    {ReadReason::ReadError, "read error: {error}", 0},
};

constexpr bool inReasonOrder() {
    for (std::size_t i = 0; i < std::size(kReasonTexts); ++i) {
        if (static_cast<std::size_t>(kReasonTexts[i].reason) != i) {
            return false;
        }
    }
    return std::size(kReasonTexts) == static_cast<std::size_t>(ReadReason::ReadError) + 1;
}
static_assert(inReasonOrder(), "one text for each reason, in the order of the reasons");

// The name of a line of numbers in messages.
const char* lineName(NumberLineKind kind) {
    return kind == NumberLineKind::Numbers ? "numbers line" : "segment line";
}

// The layout's columns of `columns`: their count, and their header words.
template <std::size_t N>
std::string layoutColumns(const NumberColumn (&columns)[N]) {
    std::string text = std::to_string(N) + " (";
    for (std::size_t i = 0; i < N; ++i) {
        text += i > 0 ? " " : "";
        text += columns[i].name;
    }
    return text + ")";
}

// The layout's columns of a line of numbers of `kind`.
std::string layoutColumns(NumberLineKind kind) {
    return kind == NumberLineKind::Numbers ? layoutColumns(kNumbersLineColumns)
                                           : layoutColumns(kSegmentLineColumns);
}

// The detail that `name`, a placeholder without its braces, stands for.
std::string detail(const ReadProblem& problem, long limit, std::string_view name) {
    if (name == "value") {
        return problem.value;
    }
    if (name == "column") {
        return problem.column;
    }
    if (name == "count") {
        return std::to_string(problem.count);
    }
    if (name == "limit") {
        return std::to_string(limit);
    }
    if (name == "line") {
        return lineName(problem.lineKind);
    }
    if (name == "values") {
        return std::to_string(problem.lineValues);
    }
    if (name == "columns") {
        return layoutColumns(problem.lineKind);
    }
    return std::strerror(problem.error);  // {error}
}

}  // namespace

void setProblem(ReadProblem& problem, ReadReason reason, long line) {
    problem.reason = reason;
    problem.line = line;
    problem.value.clear();
    problem.column = "";
    problem.segment = 0;
    problem.count = 0;
    problem.error = 0;
    problem.lineKind = NumberLineKind::None;
    problem.lineValues = 0;
}

namespace {

// The length of the UTF-8 character that begins at `text[at]`, or 0 where
// no whole, well-formed one does.
std::size_t utf8Length(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4
                               : lead >= 0xE0               ? 3
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                                                              : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    // No overlong form, surrogate, or character beyond U+10FFFF.
    const auto second = static_cast<unsigned char>(text[at + 1]);
    const bool wellFormed = (lead != 0xE0 || second >= 0xA0) && (lead != 0xED || second <= 0x9F) &&
                            (lead != 0xF0 || second >= 0x90) && (lead != 0xF4 || second <= 0x8F);
    return wellFormed ? length : 0;
}

// Whether the UTF-8 character of `length` bytes at `text[at]` is one a
// terminal acts on rather than shows: a C1 control (U+0080 to U+009F), a
// line or paragraph separator (U+2028, U+2029), or a control of the text's
// direction (U+202A to U+202E, U+2066 to U+2069).
bool isControlCharacter(std::string_view text, std::size_t at, std::size_t length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    if (length == 2) {
        return byte(0) == 0xC2 && byte(1) <= 0x9F;
    }
    if (length == 3 && byte(0) == 0xE2) {
        return (byte(1) == 0x80 && byte(2) >= 0xA8 && byte(2) <= 0xAE) ||
               (byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9);
    }
    return false;
}

void escape(std::string& shown, unsigned char byte) {
    constexpr char kHex[] = "0123456789ABCDEF";
    shown += "\\x";
    shown += kHex[byte >> 4];
    shown += kHex[byte & 0xF];
}

}  // namespace

std::string shownText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7F) {
                escape(shown, byte);
            } else {
                shown += text[at];
            }
            ++at;
            continue;
        }
        const std::size_t length = utf8Length(text, at);
        if (length == 0) {
            // A byte of no UTF-8 character: 0x80 to 0x9F is a C1 control
            // where a terminal takes bytes as they are.
            if (byte <= 0x9F) {
                escape(shown, byte);
            } else {
                shown += text[at];
            }
            ++at;
            continue;
        }
        const bool control = isControlCharacter(text, at, length);
        for (std::size_t i = 0; i < length; ++i) {
            if (control) {
                escape(shown, static_cast<unsigned char>(text[at + i]));
            } else {
                shown += text[at + i];
            }
        }
        at += length;
    }
    return shown;
}

std::string quotedValue(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string quoted(1, '"');
    quoted += shownText(text.substr(0, kShown));
    quoted += text.size() > kShown ? "...\"" : "\"";
    return quoted;
}

std::string readProblemText(const ReadProblem& problem) {
    const ReasonText& entry = kReasonTexts[static_cast<std::size_t>(problem.reason)];
    std::string text;
    for (const char* p = entry.text; *p != '\0';) {
        const char* close = *p == '{' ? std::strchr(p, '}') : nullptr;
        if (close == nullptr) {
            text += *p++;
            continue;
        }
        const auto nameLength = static_cast<std::size_t>(close - p - 1);
        text += detail(problem, entry.limit, std::string_view(p + 1, nameLength));
        p = close + 1;
    }
    if (problem.segment > 0) {
        text += " (segment " + std::to_string(problem.segment) + ")";
    }
    return text;
}

std::string damageCause(const ReadProblem& problem) {
    if (problem.lineKind == NumberLineKind::None) {
        return readProblemText(problem);
    }
    return std::string(lineName(problem.lineKind)) + "s of " +
           std::to_string(problem.lineValues) + " values; the layout has " +
           layoutColumns(problem.lineKind);
}
