// One meteor detection as it travels from a per-camera detection-info file
// to the merged file, and the reading operations that fill it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "number_columns.h"
#include "read_problem.h"
#include "text_input.h"

inline constexpr int kMaxSegments = 512;
// Longest first or second text line of a record that readers of merged
// files can hold; a longer one marks the record as damaged.
inline constexpr std::size_t kMaxTextLength = 255;

// A stretch of DetectionRecord::writtenText.
struct WrittenText {
    std::uint32_t start;
    std::uint32_t length;  // 0 for none
};

// A number of a line that is held number by number: its value, by the
// kind of its column, and where the number stood in the written form of
// its column, those bytes, which the merged file gets as they are.
struct ReadNumber {
    std::int32_t whole;  // the value, in a column of whole numbers
    double decimal;      // the value, in a column of decimals
    WrittenText written;
};

// A line of numbers of `Columns` columns as read: either it stood in its
// written form as a whole, and its bytes, followed by CR LF, are the
// record's written text between those of the lines held number by number
// around it; or it is held number by number, and `text` holds the bytes of
// those of its numbers in written form.
template <std::size_t Columns>
struct NumberLine {
    bool inWrittenForm;
    WrittenText text;
    ReadNumber numbers[Columns];
};

// Room for the bytes of numbers and lines in written form of one record,
// line ends included.
inline constexpr std::size_t kMaxWrittenTextLength =
    longestLine(kNumbersLineColumns, longestWrittenNumber) + 2 +
    kMaxSegments * (longestLine(kSegmentLineColumns, longestWrittenNumber) + 2);

// One record as the file said it, which writeDetectionRecord writes in the
// formats of the merged file. Reading fills it in full, so it holds
// nothing of the input buffer, whose bytes a later refill moves. The bytes
// of its lines follow each other in writtenText in the order of the file,
// so that lines in written form one after another are written with one
// copy.
struct DetectionRecord {
    char ffFileName[kMaxTextLength + 1];
    char calFileName[kMaxTextLength + 1];
    std::int32_t segmentCount;  // #Segments: the segment lines that follow
    NumberLine<kNumbersLineColumnCount> numbersLine;
    NumberLine<kSegmentLineColumnCount> segmentLines[kMaxSegments];
    std::uint32_t writtenTextLength;
    char writtenText[kMaxWrittenTextLength];
};

// A per-camera file being read: the buffered lines plus the unread rest of
// the current line, since numbers may share or span lines.
struct DetectionInput {
    TextInput text;
    const char* rest = nullptr;     // unread part of the current line
    const char* restEnd = nullptr;
    const char* lineStart = nullptr;  // the whole current line
    long longLine = 0;              // a line too long to hold, met and not yet reported
    std::string separator;          // the last record separator read, surrounding blanks aside
    // Numbers and lines already in their written form are kept as those
    // bytes, the others as values. The switch exists for the checks of the
    // tests and the fuzz target: true keeps every number as its value, and
    // reading both ways must give the same merged file.
    bool convertByValue = false;
};

enum class HeaderStatus {
    Read,     // the header was read, or the file holds nothing but whitespace
    Cut,      // the file ends inside its header
    Damaged,  // a line of the header is longer than any header line can be
    Failed,   // the file could not be read
};

enum class ReadStatus {
    Record,   // a record was read into the record
    End,      // no further record in the file
    Damaged,  // a damaged record was refused; reading can go on
    Failed,   // the file could not be read further
};

// Starts reading `file` from its first byte; the buffer of an earlier file
// is kept for reuse.
void startDetectionInput(DetectionInput& input, std::FILE* file);

// Consumes the header: the first eleven non-blank lines. Cut when the file
// ends after the header has begun but before its eleventh line (a cut
// file, or one whose lines end in CR alone); an empty file, or one of
// blank lines only, has no records either but is no damage. After Cut,
// Damaged and Failed, `problem` says where and what.
HeaderStatus readDetectionHeader(DetectionInput& input, ReadProblem& problem);

// Reads the next record into `record`. A record is handed on only when the
// next non-blank line does not continue it: a line of numbers there is a
// segment line beyond its #Segments, and the record is refused. After
// Damaged, `problem` says what was wrong and where; the input already
// stands at the next separator line, and nothing of the refused record is
// kept in `record` that a later Record result would show. After Failed,
// `problem` says why.
ReadStatus readDetectionRecord(DetectionInput& input, DetectionRecord& record,
                               ReadProblem& problem);

// After the last record that is to be read: Record when a further record
// begins (its separator line and a line after it), End when none does,
// Failed when the file could not be read, with `problem` saying why.
ReadStatus checkForFurtherRecord(DetectionInput& input, ReadProblem& problem);
