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

#include "detection_record.h"

inline constexpr double kProgramVersion = 1.61;

// Creates the new file at `stagingPath`, beside `path`, in place of any
// file an earlier run left there, and writes the header. False when it
// cannot be created, or when a file at `path` could not be written in
// place (a read-only file is refused, not replaced); see detectionLogError.
bool openDetectionLog(const std::string& path, const std::string& stagingPath,
                      const std::string& ffFolder, const std::string& calFolder);

// Appends one record. False once a write to the file has failed.
bool writeDetectionRecord(const DetectionRecord& record);

enum class FinishResult {
    Finished,          // the complete file has the merged file's name
    Failed,            // nothing of it is left; the earlier merged file stays
    FolderNotFlushed,  // the complete file has the name, but the folder could
                       // not be flushed to stable storage
};

// Writes `count` into line 1, flushes the file to stable storage and gives
// it the merged file's name. A count of more than six digits widens line
// 1, and the rest of the file moves along unchanged.
FinishResult finishDetectionLog(std::int32_t count);

// Closes and removes the new file, leaving the merged file's name as it
// was; for runs that end early.
void abandonDetectionLog();

// Removes the new file, if any, using only what is safe in a signal
// handler or a console control handler: what an interruption does before
// it ends the process. The file stays open; the process's end closes it.
void removeStagingFileNow();

// The system's reason for the last failure of this module.
std::string detectionLogError();
