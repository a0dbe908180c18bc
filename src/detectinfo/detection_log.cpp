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
} gLog;

std::string staged() {
    return gLog.folder.path + gLog.staging.name;
}

// Notes the first failure of a call in `failure`: the step, the file it
// failed on and the reason. False, so that a failing step can return it.
bool fail(LogFailure& failure, LogStep step, const std::string& path, const std::string& reason,
          bool atMergedFile = false) {
    if (failure.step == LogStep::None) {
        failure.step = step;
        failure.path = path;
        failure.reason = reason;
        failure.atMergedFile = atMergedFile;
    }
    return false;
}

bool failStaged(LogFailure& failure, LogStep step, int error) {
    return fail(failure, step, staged(), std::strerror(error != 0 ? error : EIO));
}

// Removes the staging file through the folder; a file that stays is noted
// in `failure`, so that the run can name it.
void removeStaged(LogFailure& failure) {
    const int error = removeFileNow(gLog.folder.handle, gLog.folder.path.c_str(),
                                    gLog.staging.name.c_str());
    if (error != 0) {
        failure.notRemoved = staged();
        failure.notRemovedReason = systemReason(error);
    }
    forgetTemporaryFile(gLog.staging);
}

// The fixed temporary name of earlier versions, "<stem>.tmp", goes only
// where no other computer reaches the folder and this run holds its lock,
// which an earlier version running on it holds too.
void sweepEarlierVersion(bool folderLocked, LeftAlone& leftAlone) {
    const std::string name = gLog.mergedName.substr(0, gLog.mergedName.rfind('.')) + ".tmp";
    if (!lookAtEarlierFile(gLog.folder, name).regular) {
        return;
    }
    if (folderLocked && folderIsLocal(gLog.folder)) {
        removeLeftover(gLog.folder, name, leftAlone);
    } else {
        noteLeftAlone(leftAlone, gLog.folder, name,
                      "left by an earlier version of this program, which may still be running; "
                      "remove it once no run is on this folder");
    }
}

// Creates the staging file of this run, after what killed runs left; null
// when the merged file may not be replaced or no staging file can be made.
std::FILE* createStaged(bool folderLocked, LogNotes& notes, LogFailure& failure) {
    gLog.earlier = lookAtEarlierFile(gLog.folder, gLog.mergedName);
    notes.otherNames = gLog.earlier.otherNames;
    if (gLog.earlier.blocked) {
        fail(failure, LogStep::Look, gLog.folder.path + gLog.mergedName, gLog.earlier.why, true);
        return nullptr;
    }
    sweepTemporaryFiles(gLog.folder, gLog.mergedName, notes.leftAlone);
    sweepEarlierVersion(folderLocked, notes.leftAlone);
    std::string reason;
    if (!createTemporaryFile(gLog.folder, gLog.mergedName, gLog.earlier, TemporaryKind::Merged,
                             gLog.staging, reason)) {
        fail(failure, LogStep::Create, staged(), reason);
        return nullptr;
    }
    notes.stagingName = gLog.staging.name;
    return gLog.staging.file;
}

// Takes the staging file out of the log, which then holds none.
std::FILE* takeFile() {
    std::FILE* file = gLog.output.file;
    gLog.output.file = nullptr;
    return file;
}

// Moves everything after line 1 on by `shift` bytes, from the end of the
// file backwards, so that a wider line 1 overwrites nothing after it.
bool shiftAfterCountLine(std::FILE* file, std::size_t shift, std::vector<char>& block,
                         LogFailure& failure) {
    if (!seekFile(file, 0, SEEK_END)) {
        return failStaged(failure, LogStep::Write, errno);
    }
    std::int64_t end = tellFile(file);
    if (end < 0) {
        return failStaged(failure, LogStep::Write, errno);
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
            return failStaged(failure, LogStep::Write, errno);
        }
        if (!seekFile(file, start + static_cast<std::int64_t>(shift), SEEK_SET) ||
            std::fwrite(block.data(), 1, length, file) != length) {
            return failStaged(failure, LogStep::Write, errno);
        }
        end = start;
    }
    return true;
}

// Writes `count` into line 1 of the staging file, after all that was
// appended has been written. A count of more than six digits widens line
// 1: what follows it moves on first.
bool writeCountLine(std::int32_t count, LogFailure& failure) {
    OutputFile& output = gLog.output;
    if (!flushOutput(output)) {
        return failStaged(failure, LogStep::Write, output.writeError);
    }
    char line[32];
    const auto length = static_cast<std::size_t>(formatCountLine(line, count) - line);
    if (length > kCountLineLength &&
        !shiftAfterCountLine(output.file, length - kCountLineLength, output.data, failure)) {
        return false;
    }
    errno = 0;
    if (!seekFile(output.file, 0, SEEK_SET) || std::fwrite(line, 1, length, output.file) != length) {
        return failStaged(failure, LogStep::Write, errno);
    }
    return true;
}

// Flushes the staging file to stable storage, closes it and gives it the
// merged file's name, replacing the file that had it; then, and not
// before, the earlier file's owner and group. False, with the staging file
// removed, when any step fails.
bool commitStagingFile(LogFailure& failure) {
    std::FILE* file = takeFile();
    std::string reason;
    errno = 0;
    bool done = std::fflush(file) == 0;
    if (!done) {
        failStaged(failure, LogStep::Write, errno);
    } else if (!flushToStorage(file, reason)) {
        done = fail(failure, LogStep::Flush, staged(), reason);
    }
    // A second handle keeps the file, to be handed over once it has its name.
    const std::intptr_t kept = done ? keepForHandOver(file) : -1;
    errno = 0;
    if (std::fclose(file) != 0 && done) {
        done = failStaged(failure, LogStep::Close, errno);
    }
    if (done && !replaceFile(gLog.folder, gLog.staging.name, gLog.mergedName, reason)) {
        done = fail(failure, LogStep::Rename, staged(), reason);
    }
    handOver(kept, done && gLog.earlier.exists ? &gLog.earlier : nullptr);
    if (done) {
        forgetTemporaryFile(gLog.staging);
    } else {
        removeStaged(failure);
    }
    return done;
}

}  // namespace

bool openDetectionLog(const LogPlace& place, const std::string& calFolder, LogNotes& notes,
                      LogFailure& failure) {
    notes = LogNotes{};
    failure = LogFailure{};
    gLog.folder = LogFolder{place.folder, place.folderPath};
    gLog.mergedName = place.mergedName;
    std::FILE* file = createStaged(place.folderLocked, notes, failure);
    if (file == nullptr) {
        return false;
    }
    startOutputFile(gLog.output, file);
    std::tm created = localTime(std::time(nullptr));
    writeHeaderLines(gLog.output, kProgramVersion, created, place.folderPath, calFolder);
    return true;
}

bool writeDetectionRecord(const DetectionRecord& record) {
    writeRecordLines(gLog.output, record);
    return gLog.output.writeError == 0;
}

FinishResult finishDetectionLog(std::int32_t count, LogFailure& failure) {
    failure = LogFailure{};
    if (!writeCountLine(count, failure)) {
        abandonDetectionLog(failure);
        return FinishResult::Failed;
    }
    if (!commitStagingFile(failure)) {
        return FinishResult::Failed;
    }
    std::string reason;
    if (!flushFolder(gLog.folder, reason)) {
        fail(failure, LogStep::FlushFolder, gLog.folder.path, reason);
        return FinishResult::FolderNotFlushed;
    }
    return FinishResult::Finished;
}

void abandonDetectionLog(LogFailure& failure) {
    std::FILE* file = takeFile();
    if (file == nullptr) {
        return;
    }
    if (gLog.output.writeError != 0) {
        failStaged(failure, LogStep::Write, gLog.output.writeError);
    }
    std::fclose(file);
    removeStaged(failure);
}
