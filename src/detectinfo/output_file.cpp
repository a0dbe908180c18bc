#include "output_file.h"

#include <cerrno>
#include <cstring>

namespace {
constexpr std::size_t kOutputBufferSize = 256 * 1024;
}

void startOutputFile(OutputFile& output, std::FILE* file) {
    if (output.data.empty()) {
        output.data.resize(kOutputBufferSize);
    }
    output.file = file;
    output.used = 0;
    output.writeError = 0;
}

void makeRoom(OutputFile& output, std::size_t length) {
    flushOutput(output);
    if (output.data.size() < length) {
        output.data.resize(length);
    }
}

void writeOutput(OutputFile& output, const char* data, std::size_t length) {
    for (;;) {
        const std::size_t room = output.data.size() - output.used;
        const std::size_t part = length < room ? length : room;
        std::memcpy(output.data.data() + output.used, data, part);
        output.used += part;
        if (part == length) {
            return;
        }
        data += part;
        length -= part;
        flushOutput(output);
    }
}

bool flushOutput(OutputFile& output) {
    if (output.used > 0 && output.writeError == 0) {
        errno = 0;
        std::size_t written = std::fwrite(output.data.data(), 1, output.used, output.file);
        if (written != output.used) {
            output.writeError = errno != 0 ? errno : EIO;
        }
    }
    // After a failure the text is dropped: the merged file is incomplete
    // either way, and the caller stops the run.
    output.used = 0;
    return output.writeError == 0;
}
