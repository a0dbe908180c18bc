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

// Room for at least `length` more characters; hand the end of what was
// written to commitOutput.
char* reserveOutput(OutputFile& output, std::size_t length);
void commitOutput(OutputFile& output, char* end);

// Appends `length` bytes from `data`, a buffer full at a time when they do
// not fit the room left.
void writeOutput(OutputFile& output, const char* data, std::size_t length);

// Writes the buffered text to the file; false once any write has failed.
bool flushOutput(OutputFile& output);
