// Feeds arbitrary bytes to the reader as a per-camera file and writes every
// record it accepts. No input may crash, overflow, leak or hang it; every
// accepted record must fit the limits a merged file's readers rely on; and
// a record, once written, must read back as one record that is written
// again to the very same bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "detection_record.h"
#include "number_text.h"
#include "output_file.h"
#include "record_format.h"

namespace {

// The text of the eleven header lines that precede the records.
constexpr char kHeader[] =
    "Meteor Count = 000001\r\n-\r\nProcessed\r\n-\r\nFF  folder = x\r\nCAL folder = y\r\n"
    "-\r\nFF  file processed\r\nCAL file processed\r\nCam#\r\nPer segment:\r\n";

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

// The record lines of `record` as the merged file holds them.
std::string written(const DetectionRecord& record) {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* memory = open_memstream(&bytes, &size);
    if (memory == nullptr) {
        fail("open_memstream");
    }
    OutputFile output;
    startOutputFile(output, memory);
    writeRecordLines(output, record);
    if (!flushOutput(output) || std::fclose(memory) != 0) {
        fail("writing to memory");
    }
    std::string text(bytes, size);
    std::free(bytes);
    return text;
}

// A nonzero frame rate that the layout writes as zero reads back as zero
// and is then written as the default rate: the one value that is known not
// to survive a round trip.
bool frameRateWrittenAsZero(double fps) {
    char text[kMaxNumberTextLength];
    char* end = writeFixed(text, fps, 7, 2);
    double back = 1;
    return fps != 0 && parseDecimalNumber(std::string_view(text, static_cast<std::size_t>(end - text)), back) && back == 0;
}

// Reads `file` as a per-camera file that must hold exactly one record, and
// checks that it is written to the bytes `expected`.
void checkReadsBackAs(std::string file, const DetectionRecord& record, const std::string& expected) {
    std::FILE* in = fmemopen(file.data(), file.size(), "rb");
    if (in == nullptr) {
        fail("fmemopen");
    }
    auto input = std::make_unique<DetectionInput>();
    auto again = std::make_unique<DetectionRecord>();
    auto scratch = std::make_unique<DetectionRecord>();
    ReadProblem problem;
    startDetectionInput(*input, in);
    if (readDetectionHeader(*input, problem) != HeaderStatus::Read) {
        fail("the header before a written record");
    }
    if (readDetectionRecord(*input, *again, problem) != ReadStatus::Record) {
        fail("a written record does not read back as a record");
    }
    if (readDetectionRecord(*input, *scratch, problem) != ReadStatus::End) {
        fail("a written record reads back as more than one record");
    }
    std::fclose(in);
    if (again->camNumber != record.camNumber || again->meteorNumber != record.meteorNumber ||
        again->segmentCount != record.segmentCount) {
        fail("a written record reads back with other whole numbers");
    }
    if (written(*again) != expected) {
        fail("a written record, read back and written again, gives other bytes");
    }
}

// The record as written reads back to the same bytes, and so it does with
// the separator the fuzzed file used in place of the written one.
void checkRoundTrip(const DetectionRecord& record, const std::string& separator) {
    if (frameRateWrittenAsZero(record.fps)) {
        return;
    }
    const std::string first = written(record);
    checkReadsBackAs(kHeader + first, record, first);
    const std::string lines = first.substr(first.find('\n') + 1);
    checkReadsBackAs(kHeader + separator + "\r\n" + lines, record, first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* in = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb")
                             : std::fopen("/dev/null", "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    if (in == nullptr || out == nullptr) {
        fail("opening the input or /dev/null");
    }
    auto input = std::make_unique<DetectionInput>();
    auto record = std::make_unique<DetectionRecord>();
    OutputFile output;
    startOutputFile(output, out);
    startDetectionInput(*input, in);
    ReadProblem problem;
    const HeaderStatus header = readDetectionHeader(*input, problem);
    if (header != HeaderStatus::Read && (problem.line <= 0 || problem.what.empty())) {
        fail("a header problem reported without its line or what it is");
    }
    while (header == HeaderStatus::Read) {
        ReadStatus status = readDetectionRecord(*input, *record, problem);
        if (status == ReadStatus::End || status == ReadStatus::Failed) {
            break;
        }
        if (status == ReadStatus::Damaged) {
            if (problem.line <= 0 || problem.what.empty()) {
                fail("damage reported without its line or what it is");
            }
            continue;
        }
        if (record->segmentCount > kMaxSegments) {
            fail("a record with more segments than a record holds");
        }
        writeRecordLines(output, *record);
        checkRoundTrip(*record, input->separator);
    }
    flushOutput(output);
    std::fclose(in);
    std::fclose(out);
    return 0;
}
