// Reading a per-camera detection-info file, record by record: the header,
// each record into a DetectionRecord, and whether any record follows the
// last one wanted. Damaged records are refused with a ReadProblem that
// says where and what, and reading goes on at the next record.
#pragma once

#include <cstdio>

#include "detection_input.h"
#include "detection_record.h"
#include "read_problem.h"

enum class HeaderStatus {
    Read,     // the header was read, or the file holds nothing but whitespace
    Cut,      // the file ends inside its header
    Damaged,  // a line of the header is longer than any header line can be
    Failed,   // the file could not be read
};

enum class ReadStatus {
    Record,   // a record was read into the record
    End,      // no further record in the file
    Damaged,  // a damaged record was refused; reading can go on
    Failed,   // the file could not be read further
};

// Starts reading `file` from its first byte; the buffer of an earlier file
// is kept for reuse.
void startDetectionInput(DetectionInput& input, std::FILE* file);

// Consumes the header: the first eleven non-blank lines. Cut when the file
// ends after the header has begun but before its eleventh line (a cut
// file, or one whose lines end in CR alone); an empty file, or one of
// blank lines only, has no records either but is no damage. After Cut,
// Damaged and Failed, `problem` says where and what.
HeaderStatus readDetectionHeader(DetectionInput& input, ReadProblem& problem);

// Reads the next record into `record`. A record is handed on only when the
// next non-blank line does not continue it: a line of numbers there is a
// segment line beyond its #Segments, and the record is refused. After
// Damaged, `problem` says what was wrong and where; the input already
// stands at the next separator line, and nothing of the refused record is
// kept in `record` that a later Record result would show. After Failed,
// `problem` says why.
ReadStatus readDetectionRecord(DetectionInput& input, DetectionRecord& record,
                               ReadProblem& problem);

// After the last record that is to be read: Record when a further record
// begins (its separator line and a line after it), End when none does,
// Failed when the file could not be read, with `problem` saying why.
ReadStatus checkForFurtherRecord(DetectionInput& input, ReadProblem& problem);
