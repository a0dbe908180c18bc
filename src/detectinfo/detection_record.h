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

// Room for the written text of a numbers line and of a segment line, CR LF
// included.
inline constexpr std::size_t kMaxNumbersLineLength =
    longestLine(kNumbersLineColumns, longestFormattedNumber) + 2;
inline constexpr std::size_t kMaxSegmentLineLength =
    longestLine(kSegmentLineColumns, longestFormattedNumber) + 2;

// One record as the merged file gets it. Reading fills it in full, so it
// holds nothing of the input buffer, whose bytes a later refill moves.
struct DetectionRecord {
    char ffFileName[kMaxTextLength + 1];
    char calFileName[kMaxTextLength + 1];
    std::int32_t camNumber;
    std::int32_t meteorNumber;
    std::int32_t segmentCount;
    // The numbers line and the segment lines in their written form, each
    // ending in CR LF: every number in the format of its column (a zero
    // frame rate already made the default rate), copied from the file
    // where it stood there in that very form, converted otherwise.
    std::size_t numberLinesLength;
    char numberLines[kMaxNumbersLineLength + kMaxSegments * kMaxSegmentLineLength];
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
    // Numbers already in their written form are copied, the others
    // converted by value; true converts every number by value, so that
    // checks can compare the two ways.
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
