#include "detection_log.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "log_file.h"
#include "record_format.h"

namespace {

// The one open merged file of the process. `output.file` is the staging
// file's only handle: open from openDetectionLog until the commit or the
// abandon closes it, null otherwise.
struct DetectionLog {
    OutputFile output;
    std::string path;         // the merged file's name, taken when complete
    std::string stagingPath;  // the name it is written under
    std::string failure;      // the reason of the first failure, empty if none
} gLog;

// The staging path as removeStagingFileNow finds it, from a signal handler
// or the thread of a console control handler: a fixed buffer, and a flag
// that is set only while the buffer holds the whole path of a staging file
// that may exist.
char gInterruptPath[4096];
std::atomic<bool> gInterruptPathSet{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

bool fail(const std::string& reason) {
    if (gLog.failure.empty()) {
        gLog.failure = reason;
    }
    return false;
}

bool fail(int error) {
    return fail(std::strerror(error != 0 ? error : EIO));
}

// Set before the file can exist, so that no interruption leaves it; the
// handlers are installed then too, once.
bool rememberStagingPath(const std::string& stagingPath) {
    if (stagingPath.size() >= sizeof gInterruptPath) {
        return fail(ENAMETOOLONG);
    }
    static bool handlersInstalled = false;
    if (!handlersInstalled) {
        cleanUpOnInterruption(removeStagingFileNow);
        handlersInstalled = true;
    }
    std::memcpy(gInterruptPath, stagingPath.c_str(), stagingPath.size() + 1);
    gInterruptPathSet = true;
    return true;
}

void forgetStagingPath() {
    gInterruptPathSet = false;
}

// Creates the staging file, in place of any file left there by an earlier
// process that could not remove it. Creates nothing when the merged file
// may not be written by this process (read-only, a folder, held open by
// another program that does not share writing), since a file that could
// not be written in place is not replaced either.
std::FILE* createStaged() {
    std::string reason;
    if (!mayReplaceFile(gLog.path, reason)) {
        fail(reason);
        return nullptr;
    }
    if (!rememberStagingPath(gLog.stagingPath)) {
        return nullptr;
    }
    std::FILE* file = createStagingFile(gLog.stagingPath, gLog.path, reason);
    if (file == nullptr) {
        forgetStagingPath();
        fail(reason);
    }
    return file;
}

// Takes the staging file out of the log, which then holds none.
std::FILE* takeFile() {
    std::FILE* file = gLog.output.file;
    gLog.output.file = nullptr;
    return file;
}

}  // namespace

bool openDetectionLog(const std::string& path, const std::string& stagingPath,
                      const std::string& ffFolder, const std::string& calFolder) {
    gLog.failure.clear();
    gLog.path = path;
    gLog.stagingPath = stagingPath;
    std::FILE* file = createStaged();
    if (file == nullptr) {
        return false;
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

namespace {

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

// Writes `count` into line 1 of the staging file, after all that was
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

// Flushes the staging file to stable storage, closes it and gives it the
// merged file's name, replacing the file that had it. False, with the
// staging file removed, when any step fails.
bool commitStagingFile() {
    std::FILE* file = takeFile();
    std::string reason;
    errno = 0;
    bool done = std::fflush(file) == 0 || fail(errno);
    done = done && (flushToStorage(file, reason) || fail(reason));
    errno = 0;
    if (std::fclose(file) != 0 && done) {
        done = fail(errno);
    }
    done = done && (replaceFile(gLog.stagingPath, gLog.path, reason) || fail(reason));
    if (!done) {
        removeFileNow(gLog.stagingPath.c_str());
    }
    forgetStagingPath();
    return done;
}

}  // namespace

FinishResult finishDetectionLog(std::int32_t count) {
    if (!writeCountLine(count)) {
        abandonDetectionLog();
        return FinishResult::Failed;
    }
    if (!commitStagingFile()) {
        return FinishResult::Failed;
    }
    std::string reason;
    return flushFolderOf(gLog.path, reason) || fail(reason) ? FinishResult::Finished
                                                            : FinishResult::FolderNotFlushed;
}

void abandonDetectionLog() {
    std::FILE* file = takeFile();
    if (file == nullptr) {
        return;
    }
    std::fclose(file);
    removeFileNow(gLog.stagingPath.c_str());
    forgetStagingPath();
}

void removeStagingFileNow() {
    if (gInterruptPathSet) {
        removeFileNow(gInterruptPath);
    }
}

std::string detectionLogError() {
    return gLog.failure.empty() ? std::strerror(EIO) : gLog.failure;
}
