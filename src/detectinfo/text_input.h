// Buffered line input for detection-info files: large block reads, lines
// handed out as views into one buffer of fixed size, LF or CR LF line ends.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

// Longest line the input hands out, its line end not counted. A line of a
// well-formed file holds at most 255 characters of text, or a few numbers;
// a longer one is damage, and is skipped without being held, so that the
// buffer never grows, whatever the file holds. The fuzz build makes it
// small, so that short inputs cross buffer fills and reach the bound.
#ifndef KEL_MAX_LINE_LENGTH
#define KEL_MAX_LINE_LENGTH (256 * 1024)
#endif
inline constexpr std::size_t kMaxLineLength = KEL_MAX_LINE_LENGTH;

struct TextInput {
    std::FILE* file = nullptr;
    std::vector<char> buffer;
    std::size_t position = 0;  // first unread byte
    std::size_t filled = 0;    // end of the bytes read so far
    bool endOfFile = false;    // the file has no more bytes to give
    int readError = 0;         // errno of a failed read, 0 if none
    long lineNumber = 0;       // number of the line last taken
    bool lastLineUnended = false;  // the line last taken ran into the end of the bytes
    bool atStart = true;       // nothing taken yet
};

enum class LineResult {
    Line,     // a line was taken
    TooLong,  // a line longer than kMaxLineLength was skipped to its end
    End,      // no more lines
};

// Starts reading `file`; keeps the buffer of an earlier file.
void startTextInput(TextInput& input, std::FILE* file);

// Takes the next line. After Line, `first`..`last` hold the line without
// its line end (a CR right before the LF is dropped); they stay valid until
// the next call. After TooLong the line was passed over and counted, and
// `first`..`last` are left alone. End comes at the end of the file, which
// a Ctrl-Z byte (26) also marks, as the Windows text-mode reader has it,
// or after a failed read (readError). A UTF-8 byte-order mark at the very
// start of the file is left out.
LineResult takeLine(TextInput& input, const char*& first, const char*& last);

// The end of the buffer that lines are handed out from: the bytes after a
// line, up to there, may be read (their values are of no meaning).
inline const char* readableEnd(const TextInput& input) {
    return input.buffer.data() + input.buffer.size();
}

// The line at which reading failed: the line cut off by the failure, or
// the line after the last one taken.
long failedLineNumber(const TextInput& input);
