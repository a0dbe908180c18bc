// The lines and items of a per-camera file being read. Lines come from
// large block reads, handed out as views into one buffer of fixed size,
// with LF or CR LF line ends. Whitespace, line ends included, separates the
// items of a file, so numbers may go on over several lines and blank lines
// or leading blanks change nothing (the reader holds each line of numbers
// to lines of its own); a text line is everything from its first non-blank
// character to its line end, trailing blanks included.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The lines.

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
    // The most bytes read from the file, -1 for no bound: a file that goes
    // on past it ends there with readError kBeyondBound.
    std::int64_t bound = -1;
    std::int64_t bytesRead = 0;
};

// The readError of a file that goes on past its bound.
inline constexpr int kBeyondBound = EFBIG;

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

// The items.

// A per-camera file being read: the buffered lines plus the unread rest of
// the current line, since numbers may span lines.
struct DetectionInput {
    TextInput text;
    const char* rest = nullptr;     // unread part of the current line
    const char* restEnd = nullptr;
    const char* lineStart = nullptr;  // the whole current line
    long longLine = 0;              // a line too long to hold, met and not yet reported
    std::string separator;          // the last record separator read, surrounding blanks aside
    // The words the header's segment line names after the layout's segment
    // columns (such as "Mag"), one blank between each two; empty when it
    // names no more.
    std::string extraSegmentColumns;
    // Numbers and lines already in their written form are kept as those
    // bytes, the others as values. The switch exists for the checks of the
    // tests and the fuzz target: true keeps every number as its value, and
    // reading both ways must give the same merged file.
    bool convertByValue = false;
};


// The whitespace of C's isspace in the C locale: blank, \t \n \v \f \r.
inline bool isBlank(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte <= ' ' && (byte == ' ' || (byte >= '\t' && byte <= '\r'));
}

// The first character from `first` on that is not whitespace, or `last`.
inline const char* skipBlanksIn(const char* first, const char* last) {
    while (first != last && isBlank(*first)) {
        ++first;
    }
    return first;
}

// `first`..`last` without the whitespace around it.
std::string_view trimmed(const char* first, const char* last);

// True when every whitespace-separated item of the line reads as a number:
// such a line is a segment line, never a record separator.
bool isNumberLine(const char* first, const char* last);

// Takes the next line as the current one. False at the end of the file, or
// at a line too long to hold, which `longLine` then keeps until it is
// reported; while it is not, no further line is taken.
bool nextLine(DetectionInput& input);

// Takes lines until one holds an item; false at the end of the file or at
// a line too long to hold.
bool skipBlankLines(DetectionInput& input);

// Skips whitespace up to the next item; false at the end of the file or
// at a line too long to hold. Small, so that it is inlined where items are
// read; lines are taken apart from it.
inline bool skipBlanks(DetectionInput& input) {
    input.rest = skipBlanksIn(input.rest, input.restEnd);
    return input.rest != input.restEnd || skipBlankLines(input);
}

// The rest of the current line from the next item on, as a text line.
inline bool nextText(DetectionInput& input, std::string_view& text) {
    if (!skipBlanks(input)) {
        return false;
    }
    text = std::string_view(input.rest, static_cast<std::size_t>(input.restEnd - input.rest));
    input.rest = input.restEnd;
    return true;
}

// The end of the item at `first`: the next whitespace, or `last`.
inline const char* itemEnd(const char* first, const char* last) {
    while (first != last && !isBlank(*first)) {
        ++first;
    }
    return first;
}

// The whitespace-separated items of `first`..`last`.
inline int countItems(const char* first, const char* last) {
    int items = 0;
    for (first = skipBlanksIn(first, last); first != last; first = skipBlanksIn(first, last)) {
        first = itemEnd(first, last);
        ++items;
    }
    return items;
}

// The next whitespace-separated item.
inline bool nextItem(DetectionInput& input, std::string_view& item) {
    if (!skipBlanks(input)) {
        return false;
    }
    const char* start = input.rest;
    input.rest = itemEnd(start, input.restEnd);
    item = std::string_view(start, static_cast<std::size_t>(input.rest - start));
    return true;
}

// Leaves the input at the next line where reading resumes, the current
// line included, so that the record after a damaged one is still read:
// a line of hyphens, or the separator this file used last, surrounding
// blanks aside. Lines too long to hold are passed over as part of the
// damage.
void skipToSeparator(DetectionInput& input);
