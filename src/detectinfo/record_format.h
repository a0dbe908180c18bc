// The written form of detection-info files: the eleven header lines and
// the lines of one record, each ending in CR LF on every host, formatted
// straight into a large buffer that goes to its FILE in big writes. Every
// write is checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "detection_record.h"

// Buffered output to a FILE it does not own: the merged detection log's
// staging file, or a file in memory for the tests.
struct OutputFile {
    std::FILE* file = nullptr;  // borrowed; its owner closes it
    std::vector<char> data;
    std::size_t used = 0;
    int writeError = 0;  // errno of the first failed write, 0 if none
};

// Starts writing to `file`, with nothing buffered and no failure; keeps the
// buffer of an earlier file.
void startOutputFile(OutputFile& output, std::FILE* file);

// Makes room for `length` more characters: writes the buffered text to the
// file, and grows the buffer when `length` is more than it holds.
void makeRoom(OutputFile& output, std::size_t length);

// Room for at least `length` more characters; hand the end of what was
// written to commitOutput. Inline, as it is asked for every line.
inline char* reserveOutput(OutputFile& output, std::size_t length) {
    if (output.data.size() - output.used < length) {
        makeRoom(output, length);
    }
    return output.data.data() + output.used;
}

inline void commitOutput(OutputFile& output, char* end) {
    output.used = static_cast<std::size_t>(end - output.data.data());
}

// Appends `length` bytes from `data`, a buffer full at a time when they do
// not fit the room left.
void writeOutput(OutputFile& output, const char* data, std::size_t length);

// Writes the buffered text to the file; false once any write has failed.
bool flushOutput(OutputFile& output);

// Length of line 1 as first written, "Meteor Count = 000000" and CR LF.
inline constexpr std::size_t kCountLineLength = 23;

// Line 1 for `count`: six digits at least, zero-padded. Returns the end.
char* formatCountLine(char* out, std::int32_t count);

// The date and time text of header line 3 for local time `when`, with
// English names whatever the locale: "Tue Dec 08 03:12:00 2026" and CR LF.
char* formatProcessingTime(char* out, const std::tm& when);

void writeHeaderLines(OutputFile& output, double programVersion, const std::tm& created,
                      const std::string& ffFolder, const std::string& calFolder);

void writeRecordLines(OutputFile& output, const DetectionRecord& record);
