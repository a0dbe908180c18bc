// Reads per-camera file text in memory and writes back what was read, for
// tests of the reader and the record formats.
#pragma once

#include <string>
#include <vector>

#include "detection_record.h"

struct ReadOutcome {
    std::string written;              // the record lines of every record read
    int records = 0;
    std::vector<ReadProblem> damaged; // refused records, in order
    bool failed = false;
    bool headerCut = false;           // the file ended inside its header
};

// Reads `fileText` as a per-camera file (header, then records) and writes
// each record read with the merged file's record formats.
ReadOutcome readAndWrite(const std::string& fileText);

// The record lines of one record, as the merged file holds them.
std::string recordLines(const DetectionRecord& record);
