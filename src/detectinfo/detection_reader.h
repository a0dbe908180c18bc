// Reading a per-camera detection-info file, record by record: the header,
// each record into a DetectionRecord, and whether any record follows the
// last one wanted. Damaged records are refused with a ReadProblem that
// says where and what, and reading goes on at the next record.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "detection_input.h"
#include "detection_record.h"
#include "number_columns.h"
#include "read_problem.h"

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
// Damaged and Failed, `problem` says where and what. After Read,
// `input.extraSegmentColumns` holds the words that the eleventh line names
// after the layout's segment columns (other station software's "Inten Mag",
// for one), empty when it names no more or not those.
HeaderStatus readDetectionHeader(DetectionInput& input, ReadProblem& problem);

// Reads the next record into `record`. Its numbers line and each segment
// line begin on a line of their own and may go on over the lines that
// follow, but the line with the last value of each ends with it: a line
// that holds more or fewer values than its columns refuses the record,
// with the line where it begins and the values that line holds. A record
// is handed on only when the next non-blank line does not continue it: a
// line of numbers there is a segment line beyond its #Segments, and the
// record is refused. After
// Damaged, `problem` says what was wrong and where, and where the record
// began, with its FF file line when it was read; the input already
// stands at the next separator line, and nothing of the refused record is
// kept in `record` that a later Record result would show. After Failed,
// `problem` says why.
ReadStatus readDetectionRecord(DetectionInput& input, DetectionRecord& record,
                               ReadProblem& problem);

// After the last record that is to be read: Record when a further record
// begins (its separator line and a line after it), End when none does,
// Failed when the file could not be read, with `problem` saying why.
ReadStatus checkForFurtherRecord(DetectionInput& input, ReadProblem& problem);

// Lines of numbers in their written form: a numbers line or a segment line
// that holds exactly the numbers of its columns, each in the written form
// of its column's format (see number_text.h), one blank between each two.
// Such a line is what the merged file gets for it, and is copied whole.

// Bytes compared at once when a line is told by its shape: more than the
// longest line of numbers whose numbers all have the exact width of their
// columns, so that every such line is told by one pass over them.
inline constexpr std::size_t kShapeBytes = 64;

// True when `first`..`last` is a segment line in written form. `readable`
// is the end of the memory that may be read after `first`: where at least
// kShapeBytes bytes can be, the line is compared with the shape of a line
// whose numbers have exactly the widths of their columns, all at once;
// other lines number by number.
bool isWrittenSegmentLine(const char* first, const char* last, const char* readable);

// The same for a numbers line; `ends` gets the end of each of its numbers.
bool isWrittenNumbersLine(const char* first, const char* last, const char* readable,
                          const char* (&ends)[kNumbersLineColumnCount]);

// The text of the number of `column` in a line of numbers that begins at
// `first` and whose numbers end at `ends`.
template <std::size_t N>
std::string_view numberOfLine(const char* first, const char* const (&ends)[N], std::size_t column) {
    const char* start = column == 0 ? first : ends[column - 1] + 1;
    return std::string_view(start, static_cast<std::size_t>(ends[column] - start));
}

// True when `first`..`end` is a number in the written form of `column`.
inline bool isWrittenNumber(const NumberColumn& column, const char* first, const char* end) {
    return column.kind == NumberKind::Whole
               ? isWrittenWholeNumber(first, end, column.width)
               : isWrittenFixed(first, end, column.width, column.precision);
}
