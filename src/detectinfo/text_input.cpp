#include "text_input.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kInitialBufferSize = 256 * 1024;
constexpr char kCtrlZ = 26;

// Reads more of the file behind the unread bytes; a line longer than the
// buffer makes the buffer grow, so no line is ever cut.
void refill(TextInput& input) {
    std::vector<char>& buffer = input.buffer;
    std::size_t unread = input.filled - input.position;
    if (input.position > 0 && unread > 0) {
        std::memmove(buffer.data(), buffer.data() + input.position, unread);
    }
    input.position = 0;
    input.filled = unread;
    if (input.filled == buffer.size()) {
        buffer.resize(buffer.size() * 2);
    }
    std::size_t wanted = buffer.size() - input.filled;
    errno = 0;
    std::size_t got = std::fread(buffer.data() + input.filled, 1, wanted, input.file);
    if (got < wanted) {
        input.endOfFile = true;
        if (std::ferror(input.file)) {
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

}  // namespace

void startTextInput(TextInput& input, std::FILE* file) {
    if (input.buffer.empty()) {
        input.buffer.resize(kInitialBufferSize);
    }
    input.file = file;
    input.position = 0;
    input.filled = 0;
    input.endOfFile = false;
    input.readError = 0;
    input.lineNumber = 0;
    input.atStart = true;
}

bool takeLine(TextInput& input, const char*& first, const char*& last) {
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
            if (lf != nullptr) {
                const char* end = static_cast<const char*>(lf);
                input.position += static_cast<std::size_t>(end - start) + 1;
                if (end > start && end[-1] == '\r') {
                    --end;
                }
                first = start;
                last = end;
                ++input.lineNumber;
                return true;
            }
            if (input.endOfFile) {
                // The last line of a file without a final line end.
                input.position = input.filled;
                first = start;
                last = start + available;
                ++input.lineNumber;
                return true;
            }
        }
        if (input.endOfFile) {
            return false;
        }
        refill(input);
    }
}
