#include "detection_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "file_offset.h"
#include "output_file.h"
#include "record_format.h"
#include "staged_file.h"

namespace {

// The one open merged file of the process.
struct DetectionLog {
    StagedFile staged;
    OutputFile output;
    std::string failure;  // the reason of the first failure, empty if none
} gLog;

bool fail(const std::string& reason) {
    if (gLog.failure.empty()) {
        gLog.failure = reason;
    }
    return false;
}

bool fail(int error) {
    return fail(std::strerror(error != 0 ? error : EIO));
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

bool openDetectionLog(const std::string& path, const std::string& stagingPath,
                      const std::string& ffFolder, const std::string& calFolder) {
    gLog.failure.clear();
    std::string reason;
    if (!createStagedFile(gLog.staged, path, stagingPath, reason)) {
        return fail(reason);
    }
    startOutputFile(gLog.output, gLog.staged.file);
    std::tm created = localTime(std::time(nullptr));
    writeHeaderLines(gLog.output, kProgramVersion, created, ffFolder, calFolder);
    return true;
}

bool writeDetectionRecord(const DetectionRecord& record) {
    writeRecordLines(gLog.output, record);
    return gLog.output.writeError == 0 || fail(gLog.output.writeError);
}

namespace {

// Writes `count` into line 1 of the staged file, after all that was
// appended has been written.
bool writeCountLine(std::int32_t count) {
    OutputFile& output = gLog.output;
    if (!flushOutput(output)) {
        return fail(output.writeError);
    }
    char line[32];
    std::size_t length = static_cast<std::size_t>(formatCountLine(line, count) - line);
    errno = 0;
    return (length == kCountLineLength ||
            shiftAfterCountLine(output.file, length - kCountLineLength, output.data)) &&
           (seekFile(output.file, 0, SEEK_SET) || fail(errno)) &&
           (std::fwrite(line, 1, length, output.file) == length || fail(errno));
}

}  // namespace

FinishResult finishDetectionLog(std::int32_t count) {
    if (!writeCountLine(count)) {
        abandonDetectionLog();
        return FinishResult::Failed;
    }
    gLog.output.file = nullptr;
    std::string reason;
    const CommitResult committed = commitStagedFile(gLog.staged, reason);
    if (committed == CommitResult::Committed) {
        return FinishResult::Finished;
    }
    fail(reason);
    return committed == CommitResult::Failed ? FinishResult::Failed
                                             : FinishResult::FolderNotFlushed;
}

void abandonDetectionLog() {
    gLog.output.file = nullptr;
    discardStagedFile(gLog.staged);
}

std::string detectionLogError() {
    return gLog.failure.empty() ? std::strerror(EIO) : gLog.failure;
}
