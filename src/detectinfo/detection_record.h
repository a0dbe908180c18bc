// One meteor detection as it travels from a per-camera detection-info file
// to the merged file, and the reading operations that fill it.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>

#include "number_columns.h"

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
// nothing of the input buffer, whose bytes a later refill moves.
//
// The record holds values (the texts, #Segments, the numbers of lines held
// number by number) and written bytes (writtenText). The rule between the
// reader and the writer, kept by the keep* functions below, the only ones
// that add to writtenText:
//   - writtenText holds the bytes of the record's number lines in the
//     order of the file, one line after the other, nothing in between;
//   - a line in written form adds its bytes and CR LF, and is written by
//     copying them;
//   - a line held number by number adds the bytes of those of its numbers
//     that are in written form, spanned by its `text`; it is written by
//     formatting it column by column, each number from its bytes or its
//     value.
// So the written text before a line held number by number, back to the end
// of the one before it (or to 0), is a run of whole lines in written form,
// and the writer copies each such run as one block.
struct DetectionRecord {
    char ffFileName[kMaxTextLength + 1];
    char calFileName[kMaxTextLength + 1];
    std::int32_t segmentCount;  // #Segments: the segment lines that follow
    NumberLine<kNumbersLineColumnCount> numbersLine;
    NumberLine<kSegmentLineColumnCount> segmentLines[kMaxSegments];
    std::uint32_t writtenTextLength;
    char writtenText[kMaxWrittenTextLength];
};

static_assert(kMaxWrittenTextLength <= UINT32_MAX, "written text spans are 32 bits");

// Keeps `first`..`end`, a number in its written form, in the record's
// written text, and returns where.
inline WrittenText keepWrittenNumber(DetectionRecord& record, const char* first,
                                     const char* end) {
    const auto length = static_cast<std::uint32_t>(end - first);
    const auto start = record.writtenTextLength;
    assert(start + length <= kMaxWrittenTextLength);
    std::memcpy(record.writtenText + start, first, length);
    record.writtenTextLength = start + length;
    return WrittenText{start, length};
}

// Starts `line` as held number by number: its numbers' bytes follow.
template <std::size_t N>
void beginHeldLine(DetectionRecord& record, NumberLine<N>& line) {
    line.inWrittenForm = false;
    line.text = WrittenText{record.writtenTextLength, 0};
}

// Ends `line`, held number by number, after its last number.
template <std::size_t N>
void endHeldLine(const DetectionRecord& record, NumberLine<N>& line) {
    line.text.length = record.writtenTextLength - line.text.start;
}

// Keeps `first`..`first + length` as `line` in written form, with the CR LF
// that ends it in the merged file.
template <std::size_t N>
void keepWrittenLine(DetectionRecord& record, NumberLine<N>& line, const char* first,
                     std::uint32_t length) {
    assert(record.writtenTextLength + length + 2 <= kMaxWrittenTextLength);
    char* out = record.writtenText + record.writtenTextLength;
    std::memcpy(out, first, length);
    out[length] = '\r';
    out[length + 1] = '\n';
    record.writtenTextLength += length + 2;
    line.inWrittenForm = true;
}
