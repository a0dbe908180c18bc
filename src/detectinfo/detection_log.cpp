#include "detection_log.h"

#include <algorithm>
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
    LogFolder folder;
    std::string mergedName;   // the merged file's name, taken when complete
    std::string stagingName;  // the name it is written under
    LogFailure failure;       // the first failure, if any
    LogNotes notes;
} gLog;

// The staging file as removeStagingFileNow finds it, from a signal handler
// or the thread of a console control handler: fixed buffers, and a flag
// that is set only while they hold the folder and name of a staging file
// that may exist.
std::intptr_t gInterruptFolder = -1;
char gInterruptFolderPath[4096];
char gInterruptName[512];
std::atomic<bool> gInterruptPathSet{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

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
    return gLog.folder.path + gLog.stagingName;
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
                                    gLog.stagingName.c_str());
    if (error != 0) {
        gLog.failure.notRemoved = staged();
        gLog.failure.notRemovedReason = removalReason(error);
    }
    return error == 0;
}

// Set before the file can exist, so that no interruption leaves it; the
// handlers are installed then too, once.
bool rememberStagingFile() {
    if (gLog.folder.path.size() >= sizeof gInterruptFolderPath ||
        gLog.stagingName.size() >= sizeof gInterruptName) {
        return failStaged(LogStep::Create, ENAMETOOLONG);
    }
    static bool handlersInstalled = false;
    if (!handlersInstalled) {
        cleanUpOnInterruption(removeStagingFileNow);
        handlersInstalled = true;
    }
    gInterruptPathSet = false;
    gInterruptFolder = gLog.folder.handle;
    std::memcpy(gInterruptFolderPath, gLog.folder.path.c_str(), gLog.folder.path.size() + 1);
    std::memcpy(gInterruptName, gLog.stagingName.c_str(), gLog.stagingName.size() + 1);
    gInterruptPathSet = true;
    return true;
}

void forgetStagingFile() {
    gInterruptPathSet = false;
}

constexpr char kStagingSuffix[] = ".tmp";

// The merged file's name without ".txt": what every staging name of the
// folder begins with.
std::string mergedStem(const std::string& mergedName) {
    const std::size_t dot = mergedName.rfind('.');
    return dot == std::string::npos ? mergedName : mergedName.substr(0, dot);
}

// This run's staging name, "<stem>.<computer>.<process>.tmp". Where that
// is too long for the folder's names (or, on Windows, its path limit), the
// computer's name gives way first, down to one character, then the stem;
// `stem` and `host` are shortened in place. Never ".txt" at its end, so no
// listing takes it for a per-camera file (nor, on Windows, its short name,
// "KELDET~1.TMP").
std::string stagingNameFor(std::string& stem, std::string& host) {
    std::string tail(1, '.');
    tail.append(std::to_string(processNumber())).append(kStagingSuffix);
    const std::size_t room = roomForName(gLog.folder);
    const std::size_t fixed = 1 + tail.size();
    host.resize(std::max<std::size_t>(
        1, std::min(host.size(), room > stem.size() + fixed ? room - stem.size() - fixed : 0)));
    if (stem.size() + fixed + host.size() > room && room > fixed + host.size()) {
        stem.resize(room - fixed - host.size());
    }
    std::string name = stem;
    name.append(1, '.').append(host).append(tail);
    return name;
}

// The computer and process of a staging name of `stem`; false when the
// name is none of this program's.
bool runOfStagingName(const std::string& name, const std::string& stem, std::string& host,
                      long& process) {
    const std::size_t suffix = sizeof kStagingSuffix - 1;
    if (name.size() <= stem.size() + 1 + suffix || name[stem.size()] != '.') {
        return false;
    }
    const std::string middle = name.substr(stem.size() + 1, name.size() - stem.size() - 1 - suffix);
    const std::size_t dot = middle.rfind('.');
    if (dot == std::string::npos || dot + 1 == middle.size() ||
        middle.find_first_not_of("0123456789", dot + 1) != std::string::npos ||
        middle.size() - dot > 10) {
        return false;
    }
    host = middle.substr(0, dot);
    process = std::stol(middle.substr(dot + 1));
    return true;
}

void leaveAlone(const std::string& name, const std::string& why) {
    gLog.notes.leftAlone.push_back({gLog.folder.path + name, why});
}

// Removes a file that a run which is certainly gone left; one that stays
// is noted with the reason.
void removeLeftover(const std::string& name) {
    const int error = removeFileNow(gLog.folder.handle, gLog.folder.path.c_str(), name.c_str());
    if (error != 0) {
        leaveAlone(name, "left by a run that ended, and could not be removed (" +
                             removalReason(error) + ")");
    }
}

// Staging files of runs that were killed. A run of this computer whose
// process is gone can no longer use its file: it goes. A file of a run on
// another computer may still be in use there and stays, noted; a file of
// a live process of this computer is another run's, and stays unsaid. The
// fixed name of earlier versions goes only where no other computer reaches
// the folder and this run holds its lock, since an earlier version running
// on it holds the same lock.
void sweepLeftovers(const std::string& fullStem, const std::string& stem, const std::string& host,
                    bool folderLocked) {
    for (const std::string& name : namesInFolder(gLog.folder, stem, kStagingSuffix)) {
        std::string itsHost;
        long process = 0;
        if (name == fullStem + kStagingSuffix) {
            if (folderLocked && folderIsLocal(gLog.folder)) {
                removeLeftover(name);
            } else {
                leaveAlone(name, "left by an earlier version of this program, which may still "
                                 "be running; remove it once no run is on this folder");
            }
        } else if (!runOfStagingName(name, stem, itsHost, process)) {
            continue;  // none of this program's
        } else if (itsHost != host) {
            leaveAlone(name, "a run's on computer " + itsHost +
                                 ", which may still be running; that computer's next run "
                                 "removes it once the run is gone");
        } else if (process == processNumber() || processGone(process)) {
            removeLeftover(name);
        }
    }
}

// The merged file as it stands: refused when this user may not replace it.
bool lookAtMergedFile(EarlierFile& earlier) {
    earlier = lookAtEarlierFile(gLog.folder, gLog.mergedName);
    gLog.notes.otherNames = earlier.otherNames;
    return !earlier.blocked ||
           fail(LogStep::Look, gLog.folder.path + gLog.mergedName, earlier.why, true);
}

// Creates the staging file of this run, after what killed runs left.
std::FILE* createStaged(bool folderLocked) {
    EarlierFile earlier;
    if (!lookAtMergedFile(earlier)) {
        return nullptr;
    }
    const std::string fullStem = mergedStem(gLog.mergedName);
    std::string stem = fullStem;
    std::string host = hostNameForFiles();
    gLog.stagingName = stagingNameFor(stem, host);
    sweepLeftovers(fullStem, stem, host, folderLocked);
    if (!rememberStagingFile()) {
        return nullptr;
    }
    std::string reason;
    std::FILE* file = createStagingFile(gLog.folder, gLog.stagingName, earlier, reason);
    if (file == nullptr) {
        forgetStagingFile();
        failStaged(LogStep::Create, reason);
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
    return gLog.stagingName;
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
// merged file's name, replacing the file that had it. False, with the
// staging file removed, when any step fails.
bool commitStagingFile() {
    std::FILE* file = takeFile();
    std::string reason;
    errno = 0;
    bool done = std::fflush(file) == 0 || failStaged(LogStep::Write, errno);
    done = done && (flushToStorage(file, reason) || failStaged(LogStep::Flush, reason));
    errno = 0;
    if (std::fclose(file) != 0 && done) {
        done = failStaged(LogStep::Close, errno);
    }
    done = done && (replaceFile(gLog.folder, gLog.stagingName, gLog.mergedName, reason) ||
                    failStaged(LogStep::Rename, reason));
    if (!done) {
        removeStaged();
    }
    forgetStagingFile();
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
    forgetStagingFile();
    return removed;
}

void removeStagingFileNow() {
    if (gInterruptPathSet) {
        removeFileNow(gInterruptFolder, gInterruptFolderPath, gInterruptName);
    }
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
