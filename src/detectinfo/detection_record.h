// One meteor detection as it travels from a per-camera detection-info file
// to the merged file, and the reading operations that fill it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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
