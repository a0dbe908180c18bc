// The lines and items of a per-camera file being read. Whitespace, line
// ends included, separates the items of a file, so numbers may share or
// span lines and blank lines or leading blanks change nothing; a text line
// is everything from its first non-blank character to its line end,
// trailing blanks included.
#pragma once

#include <string_view>

#include "detection_record.h"

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
