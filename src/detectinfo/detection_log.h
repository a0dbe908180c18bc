// The merged detection-info file of one run: created with its header,
// appended to record by record, and finished with the record count in
// line 1. It is written under a staging name beside the merged file and
// takes the merged file's name only once it is complete, so that the name
// always holds a complete merged file: the earlier one until then, or none.
// This module holds the one open merged file of the process and its whole
// life: created aside, written, flushed, renamed, the count rewritten, and
// removed after a failure or an interruption (its handlers are installed
// by the first openDetectionLog). Its operating-system calls are behind
// log_file.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detection_record.h"
#include "temporary_file.h"

inline constexpr double kProgramVersion = 1.61;

// Where the merged file goes: the folder the run holds open, the merged
// file's name in it, and whether the run holds the folder lock.
struct LogPlace {
    std::intptr_t folder = -1;  // a descriptor of the folder, or its handle
    std::string folderPath;     // the folder's path, ending in a separator
    std::string mergedName;     // "KELdetectinfo_0000_<folder>.txt"
    bool folderLocked = false;
};

// What stopped a call of this module, for the run's message: step None
// when nothing did.
enum class LogStep { None, Look, Create, Write, Flush, Close, Rename, FlushFolder };
struct LogFailure {
    LogStep step = LogStep::None;
    bool atMergedFile = false;  // the merged file itself is the obstacle
    std::string path;           // the file or folder that failed
    std::string reason;         // the system's words, or what to do
    std::string notRemoved;     // the temporary file that could not be removed
    std::string notRemovedReason;
};

// What the run should say of the log besides: the temporary name it is
// written under, files of other runs left alone, and the merged file's
// other names, which keep the earlier file.
struct LogNotes {
    std::string stagingName;
    LeftAlone leftAlone;
    long otherNames = 0;
};

// Creates the new file in the folder under a temporary name of this run's
// own ("KELdetectinfo_0000_<folder>.<computer>.<process>.tmp"), exclusively,
// and writes the header: line 5 names the folder of `place`, line 6
// `calFolder`. Temporary files that runs of this computer left when they
// were killed go first; those that may still be another run's stay and
// are noted. False, with `failure` saying why, when it cannot be created,
// or when the merged file is in the way and may not be replaced by this
// user (read-only, a folder, another user's in a folder where only owners
// replace files).
bool openDetectionLog(const LogPlace& place, const std::string& calFolder, LogNotes& notes,
                      LogFailure& failure);

// Appends one record. False once a write to the file has failed; the
// reason comes with abandonDetectionLog.
bool writeDetectionRecord(const DetectionRecord& record);

enum class FinishResult {
    Finished,          // the complete file has the merged file's name
    Failed,            // nothing of it is left; the earlier merged file stays
    FolderNotFlushed,  // the complete file has the name, but the folder could
                       // not be flushed to stable storage
};

// Writes `count` into line 1, flushes the file to stable storage and gives
// it the merged file's name. A count of more than six digits widens line
// 1, and the rest of the file moves along unchanged. After Failed and
// FolderNotFlushed, `failure` says why.
FinishResult finishDetectionLog(std::int32_t count, LogFailure& failure);

// Closes and removes the new file, if one is open, leaving the merged
// file's name as it was; for runs that end early. `failure` gets the
// reason a write failed, and the file if it could not be removed.
void abandonDetectionLog(LogFailure& failure);
