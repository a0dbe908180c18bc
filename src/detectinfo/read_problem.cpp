#include "read_problem.h"

#include <cstring>
#include <iterator>

#include "detection_input.h"
#include "detection_record.h"

namespace {

// The text of each reason, in the order of the reasons: {value},
// {column}, {count} and {error} stand for details of the problem, {limit}
// for the reason's limit.
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
}

std::string shownText(std::string_view text) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        } else {
            shown += c;
        }
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
