#include "detection_input.h"

#include <cerrno>
#include <cstring>

#include "number_text.h"

// The lines.

namespace {

// Room for the longest line with its CR LF: reads fill what the unread
// bytes leave of it.
constexpr std::size_t kBufferSize = kMaxLineLength + 2;
constexpr char kCtrlZ = 26;

// Moves the unread bytes to the front of the buffer and reads more of the
// file behind them; the buffer must not be full of unread bytes.
void refill(TextInput& input) {
    std::vector<char>& buffer = input.buffer;
    std::size_t unread = input.filled - input.position;
    if (input.position > 0 && unread > 0) {
        std::memmove(buffer.data(), buffer.data() + input.position, unread);
    }
    input.position = 0;
    input.filled = unread;
    std::size_t wanted = buffer.size() - input.filled;
    const bool bounded =
        input.bound >= 0 && input.bound - input.bytesRead <= static_cast<std::int64_t>(wanted);
    if (bounded) {
        wanted = static_cast<std::size_t>(input.bound - input.bytesRead);
    }
    errno = 0;
    std::size_t got = std::fread(buffer.data() + input.filled, 1, wanted, input.file);
    input.bytesRead += static_cast<std::int64_t>(got);
    if (got < wanted) {
        input.endOfFile = true;
        if (std::ferror(input.file)) {
            input.readError = errno != 0 ? errno : EIO;
        }
    } else if (bounded) {
        // At the bound: one byte more tells a file that goes on from one
        // that ends right there.
        input.endOfFile = true;
        char beyond = 0;
        if (std::fread(&beyond, 1, 1, input.file) == 1) {
            input.readError = kBeyondBound;
        } else if (std::ferror(input.file)) {
            input.readError = errno != 0 ? errno : EIO;
        }
    }
    const char* fresh = buffer.data() + input.filled;
    const void* ctrlZ = std::memchr(fresh, kCtrlZ, got);
    if (ctrlZ != nullptr) {
        got = static_cast<std::size_t>(static_cast<const char*>(ctrlZ) - fresh);
        input.endOfFile = true;
    }
    input.filled += got;
}

// Passes over a line that fills the whole buffer without a line end: reads
// on, a buffer at a time, keeping nothing, until its LF or the end of the
// file, and counts it.
void skipLongLine(TextInput& input) {
    for (;;) {
        input.position = input.filled;
        if (input.endOfFile) {
            input.lastLineUnended = true;
            break;
        }
        refill(input);
        const void* lf = std::memchr(input.buffer.data(), '\n', input.filled);
        if (lf != nullptr) {
            input.position = static_cast<std::size_t>(static_cast<const char*>(lf) -
                                                      input.buffer.data()) + 1;
            input.lastLineUnended = false;
            break;
        }
    }
    ++input.lineNumber;
}

}  // namespace

void startTextInput(TextInput& input, std::FILE* file) {
    if (input.buffer.size() != kBufferSize) {
        input.buffer.assign(kBufferSize, '\0');
    }
    input.file = file;
    input.position = 0;
    input.filled = 0;
    input.endOfFile = false;
    input.readError = 0;
    input.lineNumber = 0;
    input.lastLineUnended = false;
    input.atStart = true;
    input.bound = -1;
    input.bytesRead = 0;
}

LineResult takeLine(TextInput& input, const char*& first, const char*& last) {
    for (;;) {
        if (input.atStart && (input.filled - input.position >= 3 || input.endOfFile)) {
            input.atStart = false;
            if (input.filled - input.position >= 3 &&
                std::memcmp(input.buffer.data() + input.position, "\xEF\xBB\xBF", 3) == 0) {
                input.position += 3;
            }
        }
        const char* start = input.buffer.data() + input.position;
        std::size_t available = input.filled - input.position;
        if (!input.atStart && available > 0) {
            const void* lf = std::memchr(start, '\n', available);
            const char* end = nullptr;
            if (lf != nullptr) {
                end = static_cast<const char*>(lf);
                input.position += static_cast<std::size_t>(end - start) + 1;
                if (end > start && end[-1] == '\r') {
                    --end;
                }
                input.lastLineUnended = false;
            } else if (input.endOfFile) {
                // The last line of a file without a final line end.
                end = start + available;
                input.position = input.filled;
                input.lastLineUnended = true;
            } else if (available == input.buffer.size()) {
                skipLongLine(input);
                return LineResult::TooLong;
            }
            if (end != nullptr) {
                ++input.lineNumber;
                if (static_cast<std::size_t>(end - start) > kMaxLineLength) {
                    return LineResult::TooLong;
                }
                first = start;
                last = end;
                return LineResult::Line;
            }
        }
        if (input.endOfFile) {
            return LineResult::End;
        }
        refill(input);
    }
}

long failedLineNumber(const TextInput& input) {
    return input.lastLineUnended ? input.lineNumber : input.lineNumber + 1;
}

// The items.

namespace {

bool isHyphenLine(std::string_view text) {
    return !text.empty() && text.find_first_not_of('-') == std::string_view::npos;
}

bool isResyncLine(const DetectionInput& input, const char* first, const char* last) {
    std::string_view text = trimmed(first, last);
    return isHyphenLine(text) || (!input.separator.empty() && text == input.separator);
}

}  // namespace

std::string_view trimmed(const char* first, const char* last) {
    first = skipBlanksIn(first, last);
    while (last != first && isBlank(last[-1])) {
        --last;
    }
    return std::string_view(first, static_cast<std::size_t>(last - first));
}

bool isNumberLine(const char* first, const char* last) {
    bool anyItem = false;
    for (first = skipBlanksIn(first, last); first != last; first = skipBlanksIn(first, last)) {
        // Separators and texts mostly fail at their first characters,
        // before their end is looked for.
        if (!beginsAsNumber(first, last)) {
            return false;
        }
        const char* end = itemEnd(first, last);
        if (!readsAsNumber(std::string_view(first, static_cast<std::size_t>(end - first)))) {
            return false;
        }
        anyItem = true;
        first = end;
    }
    return anyItem;
}

bool nextLine(DetectionInput& input) {
    if (input.longLine != 0) {
        return false;
    }
    const char* first = nullptr;
    const char* last = nullptr;
    const LineResult result = takeLine(input.text, first, last);
    if (result != LineResult::Line) {
        if (result == LineResult::TooLong) {
            input.longLine = input.text.lineNumber;
        }
        input.rest = input.restEnd = input.lineStart = nullptr;
        return false;
    }
    input.lineStart = input.rest = first;
    input.restEnd = last;
    return true;
}

bool skipBlankLines(DetectionInput& input) {
    for (;;) {
        if (!nextLine(input)) {
            return false;
        }
        input.rest = skipBlanksIn(input.rest, input.restEnd);
        if (input.rest != input.restEnd) {
            return true;
        }
    }
}

void skipToSeparator(DetectionInput& input) {
    input.longLine = 0;
    if (input.lineStart != nullptr && isResyncLine(input, input.lineStart, input.restEnd)) {
        input.rest = input.lineStart;
        return;
    }
    for (;;) {
        if (!nextLine(input)) {
            if (input.longLine == 0) {
                return;
            }
            input.longLine = 0;
            continue;
        }
        if (isResyncLine(input, input.lineStart, input.restEnd)) {
            input.rest = input.lineStart;
            return;
        }
    }
}
