// The written form of detection-info files: the eleven header lines and
// the lines of one record, each ending in CR LF on every host.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "detection_record.h"
#include "output_file.h"

// Length of line 1 as first written, "Meteor Count = 000000" and CR LF.
inline constexpr std::size_t kCountLineLength = 23;

// Line 1 for `count`: six digits at least, zero-padded. Returns the end.
char* formatCountLine(char* out, std::int32_t count);

// The date and time text of header line 3 for local time `when`, with
// English names whatever the locale: "Tue Dec 08 03:12:00 2026" and CR LF.
char* formatProcessingTime(char* out, const std::tm& when);

void writeHeaderLines(OutputFile& output, double programVersion, const std::tm& created,
                      const std::string& ffFolder, const std::string& calFolder);

void writeRecordLines(OutputFile& output, const DetectionRecord& record);
