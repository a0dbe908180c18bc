// What the reader reports when it refuses a record or a header, or when
// reading fails: a reason and its details. The messages are built from one
// table, one text for each reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class ReadReason {
    None,
    // The line where a record's separator line belongs reads wholly as
    // numbers: a segment line that no record announced. Details: value.
    SeparatorExpected,
    // A text line of a record is longer than a record holds. Details:
    // column (the text line).
    TextTooLong,
    // A text line of a record holds a NUL byte, which would end it early
    // when written. Details: column (the text line).
    TextHoldsNul,
    // A number of a whole-number column is no decimal whole number within
    // 32 bits. Details: value, column, segment.
    NotAWholeNumber,
    // A number of a decimal column is no number. Details: value, column,
    // segment.
    NotANumber,
    // #Segments announces more segment lines than a record holds.
    // Details: column, count.
    TooManySegments,
    // The record's last line holds more than its last value. Details: value.
    TextAfterLastValue,
    // A line of numbers follows the last segment line that #Segments
    // announced. Details: column, count.
    MoreSegmentLines,
    // A numbers line or a segment line holds more or fewer values than
    // its columns, so that its values would slide into the next line's
    // places. Details: lineKind, lineValues.
    ValueCount,
    // A line is longer than any line of a detection-info file can be.
    LineTooLong,
    // The file ends after a record has begun and before its last value.
    EndsInsideRecord,
    // The file ends after its header has begun and before its last line.
    EndsInsideHeader,
    // Reading the file failed. Details: error.
    ReadError,  // the last reason
};

// The line of numbers a problem of its values concerns.
enum class NumberLineKind {
    None,
    Numbers,  // a record's numbers line
    Segment,  // a segment line
};

struct ReadProblem {
    ReadReason reason = ReadReason::None;
    long line = 0;                // where it was found
    std::string value;            // the text concerned, quoted (see quotedValue)
    const char* column = "";      // the column or text line concerned
    int segment = 0;              // the segment line concerned, from 1; 0 for none
    std::int32_t count = 0;       // #Segments as read
    int error = 0;                // errno of a failed read
    // Of a line of numbers that holds more or fewer values than its
    // columns (ValueCount, and TextAfterLastValue in a line of numbers):
    // which line, and the values the line where it begins holds.
    NumberLineKind lineKind = NumberLineKind::None;
    int lineValues = 0;
    // Of a refused record: the line where it begins (its separator line,
    // or the line that stands where one belongs), and its FF file line
    // when the record got that far (else empty). Kept by the reader, not
    // by setProblem.
    long recordLine = 0;
    std::string ffFile;
};

// Sets `problem` to `reason` found at `line`, without details.
void setProblem(ReadProblem& problem, ReadReason reason, long line);

// `text` with every control character written as \xNN, a byte at a time,
// so that a NUL, a line end, an escape sequence or a change of the text's
// direction cannot cut, garble or disguise a message line: how every
// message shows a name or a text that came from a file or a folder. The
// control characters are the bytes below 0x20 and 0x7F; the bytes 0x80 to
// 0x9F where they are no part of a UTF-8 character; and in UTF-8 the C1
// controls (U+0080 to U+009F), the line and paragraph separators (U+2028,
// U+2029) and the direction controls (U+202A to U+202E, U+2066 to U+2069).
std::string shownText(std::string_view text);

// `text` as messages show a value: its first 40 characters, control
// characters written as \xNN, in double quotes, with "..." when cut.
std::string quotedValue(std::string_view text);

// The message text for a problem: the text of its reason (one table in
// read_problem.cpp holds them) with the details put in, and " (segment N)"
// after it for a problem in a segment line.
std::string readProblemText(const ReadProblem& problem);

// What a refused record was damaged by, without where: the same text for
// records damaged alike. That is the problem's text, except for a line of
// numbers with more or fewer values than its columns, which is told by the
// values its lines hold against the layout's ("segment lines of 9 values;
// the layout has 8 (...)"), whatever the surplus values are.
std::string damageCause(const ReadProblem& problem);
