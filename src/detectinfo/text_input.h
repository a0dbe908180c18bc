// Buffered line input for detection-info files: large block reads, lines
// handed out as views into the buffer, LF or CR LF line ends.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

struct TextInput {
    std::FILE* file = nullptr;
    std::vector<char> buffer;
    std::size_t position = 0;  // first unread byte
    std::size_t filled = 0;    // end of the bytes read so far
    bool endOfFile = false;    // the file has no more bytes to give
    int readError = 0;         // errno of a failed read, 0 if none
    long lineNumber = 0;       // number of the line last taken
    bool atStart = true;       // nothing taken yet
};

// Starts reading `file`; keeps the buffer's memory of an earlier file.
void startTextInput(TextInput& input, std::FILE* file);

// Takes the next line. `first`..`last` hold the line without its line end
// (a CR right before the LF is dropped); they stay valid until the next
// call. Returns false at the end of the file, which a Ctrl-Z byte (26)
// also marks, as the Windows text-mode reader has it. A UTF-8 byte-order
// mark at the very start of the file is left out.
bool takeLine(TextInput& input, const char*& first, const char*& last);
