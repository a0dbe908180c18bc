// Copies the records of one per-camera file into the merged file, and
// reports what of it could not be merged.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "detection_reader.h"

// The run's working state: one input buffer and one record serve every
// file, and the tallies of what was written and what was left out.
struct MergeState {
    DetectionInput input;
    DetectionRecord record;
    std::int32_t count = 0;     // records written to the merged file
    long filesRead = 0;         // per-camera files whose records were read
    long damagedRecords = 0;    // records refused as damaged
    long filesLeftOut = 0;      // listed files refused, or not read to their end
};

// Copies every record of the open per-camera file at `path` into the
// merged file, counting them, and reports damaged records, a cut or
// damaged header, read errors and the record cap. False when the merged
// file could not be written.
bool mergeFile(const std::string& path, std::FILE* file, MergeState& state);
