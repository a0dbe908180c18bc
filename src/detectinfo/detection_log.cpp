#include "detection_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "file_offset.h"
#include "output_file.h"
#include "record_format.h"

namespace {

// The one open merged file of the process.
struct DetectionLog {
    OutputFile output;
    int error = 0;
} gLog;

bool fail(int error) {
    if (gLog.error == 0) {
        gLog.error = error != 0 ? error : EIO;
    }
    return false;
}

std::tm localTime(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

// Moves everything after line 1 on by `shift` bytes, from the end of the
// file backwards, so that a wider line 1 overwrites nothing after it.
bool shiftAfterCountLine(std::FILE* file, std::size_t shift, std::vector<char>& block) {
    if (!seekFile(file, 0, SEEK_END)) {
        return fail(errno);
    }
    std::int64_t end = tellFile(file);
    if (end < 0) {
        return fail(errno);
    }
    const auto blockSize = static_cast<std::int64_t>(block.size());
    while (end > static_cast<std::int64_t>(kCountLineLength)) {
        std::int64_t start = end - blockSize;
        if (start < static_cast<std::int64_t>(kCountLineLength)) {
            start = static_cast<std::int64_t>(kCountLineLength);
        }
        auto length = static_cast<std::size_t>(end - start);
        if (!seekFile(file, start, SEEK_SET) ||
            std::fread(block.data(), 1, length, file) != length) {
            return fail(errno);
        }
        if (!seekFile(file, start + static_cast<std::int64_t>(shift), SEEK_SET) ||
            std::fwrite(block.data(), 1, length, file) != length) {
            return fail(errno);
        }
        end = start;
    }
    return true;
}

}  // namespace

bool openDetectionLog(const std::string& path, const std::string& ffFolder,
                      const std::string& calFolder) {
    gLog.error = 0;
    errno = 0;
    // Read access too: a count too wide for line 1 moves the records on.
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    if (file == nullptr) {
        return fail(errno);
    }
    startOutputFile(gLog.output, file);
    std::tm created = localTime(std::time(nullptr));
    writeHeaderLines(gLog.output, kProgramVersion, created, ffFolder, calFolder);
    return true;
}

bool writeDetectionRecord(const DetectionRecord& record) {
    writeRecordLines(gLog.output, record);
    return gLog.output.writeError == 0 || fail(gLog.output.writeError);
}

bool finishDetectionLog(std::int32_t count) {
    OutputFile& output = gLog.output;
    bool ok = flushOutput(output) || fail(output.writeError);
    if (ok) {
        char line[32];
        std::size_t length = static_cast<std::size_t>(formatCountLine(line, count) - line);
        errno = 0;
        ok = (length == kCountLineLength ||
              shiftAfterCountLine(output.file, length - kCountLineLength, output.data)) &&
             (seekFile(output.file, 0, SEEK_SET) || fail(errno)) &&
             (std::fwrite(line, 1, length, output.file) == length || fail(errno)) &&
             (std::fflush(output.file) == 0 || fail(errno));
    }
    errno = 0;
    if (std::fclose(output.file) != 0) {
        ok = fail(errno);
    }
    output.file = nullptr;
    return ok;
}

void abandonDetectionLog() {
    if (gLog.output.file == nullptr) {
        return;
    }
    flushOutput(gLog.output);
    std::fclose(gLog.output.file);
    gLog.output.file = nullptr;
}

std::string detectionLogError() {
    return std::strerror(gLog.error != 0 ? gLog.error : EIO);
}
