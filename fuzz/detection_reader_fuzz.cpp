// Feeds arbitrary bytes to the reader as a per-camera file and writes every
// record it accepts: no input may crash, overflow, leak or hang it, and every
// accepted record must fit the limits a merged file's readers rely on.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "detection_record.h"
#include "output_file.h"
#include "record_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* in = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb")
                             : std::fopen("/dev/null", "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    if (in == nullptr || out == nullptr) {
        std::abort();
    }
    auto input = std::make_unique<DetectionInput>();
    auto record = std::make_unique<DetectionRecord>();
    OutputFile output;
    startOutputFile(output, out);
    startDetectionInput(*input, in);
    readDetectionHeader(*input);
    ReadProblem problem;
    for (;;) {
        ReadStatus status = readDetectionRecord(*input, *record, problem);
        if (status == ReadStatus::End || status == ReadStatus::Failed) {
            break;
        }
        if (status == ReadStatus::Damaged) {
            if (problem.line <= 0 || problem.what.empty()) {
                std::abort();
            }
            continue;
        }
        if (record->segmentCount > kMaxSegments) {
            std::abort();
        }
        writeRecordLines(output, *record);
    }
    flushOutput(output);
    std::fclose(in);
    std::fclose(out);
    return 0;
}
