// The merged detection-info file of one run: created with its header,
// appended to record by record, and finished with the record count in
// line 1. This module holds the one open merged file of the process.
#pragma once

#include <cstdint>
#include <string>

#include "detection_record.h"

inline constexpr double kProgramVersion = 1.61;

// Creates the file at `path`, replacing any file of that name, and writes
// the header. False when the file cannot be created; see detectionLogError.
bool openDetectionLog(const std::string& path, const std::string& ffFolder,
                      const std::string& calFolder);

// Appends one record. False once a write to the file has failed.
bool writeDetectionRecord(const DetectionRecord& record);

// Writes `count` into line 1 and closes the file. A count of more than six
// digits widens line 1, and the rest of the file moves along unchanged.
// False when a write, the rewrite of line 1 or the close failed.
bool finishDetectionLog(std::int32_t count);

// Writes out what was appended and closes the file, leaving the count of
// line 1 as it stands; for runs that end early.
void abandonDetectionLog();

// The system's reason for the last failure of this module.
std::string detectionLogError();
