// Buffered output for the merged file: text is formatted straight into a
// large buffer that goes to the file in big writes. Every write is checked.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

struct OutputFile {
    std::FILE* file = nullptr;
    std::vector<char> data;
    std::size_t used = 0;
    int writeError = 0;  // errno of the first failed write, 0 if none
};

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
