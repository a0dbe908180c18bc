#include "detection_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "log_file.h"
#include "record_format.h"
#include "temporary_file.h"

namespace {

// The one open merged file of the process. `output.file` is the staging
// file's only handle: open from openDetectionLog until the commit or the
// abandon closes it, null otherwise.
struct DetectionLog {
    OutputFile output;
    LogFolder folder;
    std::string mergedName;  // the merged file's name, taken when complete
    TemporaryFile staging;   // the name it is written under
    EarlierFile earlier;     // the merged file as it stood
    LogFailure failure;      // the first failure, if any
    LogNotes notes;
} gLog;

// Records the first failure: the step, the file it failed on, the reason.
bool fail(LogStep step, const std::string& path, const std::string& reason,
          bool atMergedFile = false) {
    if (gLog.failure.step == LogStep::None) {
        gLog.failure.step = step;
        gLog.failure.path = path;
        gLog.failure.reason = reason;
        gLog.failure.atMergedFile = atMergedFile;
    }
    return false;
}

std::string staged() {
    return gLog.folder.path + gLog.staging.name;
}

bool failStaged(LogStep step, int error) {
    return fail(step, staged(), std::strerror(error != 0 ? error : EIO));
}

bool failStaged(LogStep step, const std::string& reason) {
    return fail(step, staged(), reason);
}

// Removes the staging file through the folder; a file that stays is
// recorded, so that the run can name it.
bool removeStaged() {
    const int error = removeFileNow(gLog.folder.handle, gLog.folder.path.c_str(),
                                    gLog.staging.name.c_str());
    if (error != 0) {
        gLog.failure.notRemoved = staged();
        gLog.failure.notRemovedReason = systemReason(error);
    }
    return error == 0;
}

// The merged file as it stands: refused when this user may not replace it.
bool lookAtMergedFile() {
    gLog.earlier = lookAtEarlierFile(gLog.folder, gLog.mergedName);
    gLog.notes.otherNames = gLog.earlier.otherNames;
    return !gLog.earlier.blocked ||
           fail(LogStep::Look, gLog.folder.path + gLog.mergedName, gLog.earlier.why, true);
}

// The fixed temporary name of earlier versions, "<stem>.tmp", goes only
// where no other computer reaches the folder and this run holds its lock,
// which an earlier version running on it holds too.
void sweepEarlierVersion(bool folderLocked) {
    const std::string name = gLog.mergedName.substr(0, gLog.mergedName.rfind('.')) + ".tmp";
    if (!lookAtEarlierFile(gLog.folder, name).regular) {
        return;
    }
    if (folderLocked && folderIsLocal(gLog.folder)) {
        removeLeftover(gLog.folder, name, gLog.notes.leftAlone);
    } else {
        noteLeftAlone(gLog.notes.leftAlone, gLog.folder, name,
                      "left by an earlier version of this program, which may still be running; "
                      "remove it once no run is on this folder");
    }
}

// Creates the staging file of this run, after what killed runs left.
std::FILE* createStaged(bool folderLocked) {
    if (!lookAtMergedFile()) {
        return nullptr;
    }
    sweepTemporaryFiles(gLog.folder, gLog.mergedName, gLog.notes.leftAlone);
    sweepEarlierVersion(folderLocked);
    std::string reason;
    if (!createTemporaryFile(gLog.folder, gLog.mergedName, gLog.earlier, TemporaryKind::Merged,
                             gLog.staging, reason)) {
        failStaged(LogStep::Create, reason);
        return nullptr;
    }
    return gLog.staging.file;
}

// Takes the staging file out of the log, which then holds none.
std::FILE* takeFile() {
    std::FILE* file = gLog.output.file;
    gLog.output.file = nullptr;
    return file;
}

}  // namespace

bool openDetectionLog(const LogPlace& place, const std::string& ffFolder,
                      const std::string& calFolder) {
    gLog.failure = LogFailure{};
    gLog.notes = LogNotes{};
    gLog.folder = LogFolder{place.folder, place.folderPath};
    gLog.mergedName = place.mergedName;
    std::FILE* file = createStaged(place.folderLocked);
    if (file == nullptr) {
        return false;
    }
    startOutputFile(gLog.output, file);
    std::tm created = localTime(std::time(nullptr));
    writeHeaderLines(gLog.output, kProgramVersion, created, ffFolder, calFolder);
    return true;
}

const std::string& detectionLogStagingName() {
    return gLog.staging.name;
}

bool writeDetectionRecord(const DetectionRecord& record) {
    writeRecordLines(gLog.output, record);
    return gLog.output.writeError == 0 || failStaged(LogStep::Write, gLog.output.writeError);
}

namespace {

// Moves everything after line 1 on by `shift` bytes, from the end of the
// file backwards, so that a wider line 1 overwrites nothing after it.
bool shiftAfterCountLine(std::FILE* file, std::size_t shift, std::vector<char>& block) {
    if (!seekFile(file, 0, SEEK_END)) {
        return failStaged(LogStep::Write, errno);
    }
    std::int64_t end = tellFile(file);
    if (end < 0) {
        return failStaged(LogStep::Write, errno);
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
            return failStaged(LogStep::Write, errno);
        }
        if (!seekFile(file, start + static_cast<std::int64_t>(shift), SEEK_SET) ||
            std::fwrite(block.data(), 1, length, file) != length) {
            return failStaged(LogStep::Write, errno);
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
        return failStaged(LogStep::Write, output.writeError);
    }
    char line[32];
    std::size_t length = static_cast<std::size_t>(formatCountLine(line, count) - line);
    errno = 0;
    return (length == kCountLineLength ||
            shiftAfterCountLine(output.file, length - kCountLineLength, output.data)) &&
           (seekFile(output.file, 0, SEEK_SET) || failStaged(LogStep::Write, errno)) &&
           (std::fwrite(line, 1, length, output.file) == length || failStaged(LogStep::Write, errno));
}

// Flushes the staging file to stable storage, closes it and gives it the
// merged file's name, replacing the file that had it; then, and not
// before, the earlier file's owner and group. False, with the staging file
// removed, when any step fails.
bool commitStagingFile() {
    std::FILE* file = takeFile();
    std::string reason;
    errno = 0;
    bool done = std::fflush(file) == 0 || failStaged(LogStep::Write, errno);
    done = done && (flushToStorage(file, reason) || failStaged(LogStep::Flush, reason));
    const std::intptr_t kept = done ? keepForHandOver(file) : -1;
    errno = 0;
    if (std::fclose(file) != 0 && done) {
        done = failStaged(LogStep::Close, errno);
    }
    done = done && (replaceFile(gLog.folder, gLog.staging.name, gLog.mergedName, reason) ||
                    failStaged(LogStep::Rename, reason));
    handOver(kept, done && gLog.earlier.exists ? &gLog.earlier : nullptr);
    if (!done) {
        removeStaged();
    }
    forgetTemporaryFile(gLog.staging);
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
    return flushFolder(gLog.folder, reason) ||
                   fail(LogStep::FlushFolder, gLog.folder.path, reason)
               ? FinishResult::Finished
               : FinishResult::FolderNotFlushed;
}

bool abandonDetectionLog() {
    std::FILE* file = takeFile();
    if (file == nullptr) {
        return gLog.failure.notRemoved.empty();
    }
    std::fclose(file);
    const bool removed = removeStaged();
    forgetTemporaryFile(gLog.staging);
    return removed;
}

const LogFailure& detectionLogFailure() {
    return gLog.failure;
}

std::string detectionLogError() {
    return gLog.failure.reason.empty() ? std::strerror(EIO) : gLog.failure.reason;
}

const LogNotes& detectionLogNotes() {
    return gLog.notes;
}
