// Feeds arbitrary bytes to the reader as a per-camera file and writes every
// record it accepts. No input may crash, overflow, leak or hang it; every
// accepted record must fit the limits a merged file's readers rely on; a
// record, once written, must read back, with every number converted, as
// one record that is written again to the very same bytes; and reading
// with numbers in written form copied must give exactly what reading with
// every number converted gives, records, damage and lines alike.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "detection_reader.h"
#include "number_text.h"
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

// Reads `file` as a per-camera file that must hold exactly one record, with
// every number kept as its value, and checks that it is written to the
// bytes `expected`. A nonzero frame rate that the layout writes as zero
// reads back as zero and is then written as the default rate: the one
// value that is known not to survive a round trip, so such a record is
// only read back.
void checkReadsBackAs(std::string file, const DetectionRecord& record, const std::string& expected) {
    std::FILE* in = fmemopen(file.data(), file.size(), "rb");
    if (in == nullptr) {
        fail("fmemopen");
    }
    auto input = std::make_unique<DetectionInput>();
    auto again = std::make_unique_for_overwrite<DetectionRecord>();
    auto scratch = std::make_unique_for_overwrite<DetectionRecord>();
    ReadProblem problem;
    startDetectionInput(*input, in);
    input->convertByValue = true;
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
    if (again->segmentCount != record.segmentCount) {
        fail("a written record reads back with another #Segments");
    }
    const double frameRate = again->numbersLine.numbers[kFrameRateColumn].decimal;
    if (frameRate != 0.0 && written(*again) != expected) {
        fail("a written record, read back and written again, gives other bytes");
    }
}

// The record as written reads back to the same bytes, and so it does with
// the separator the fuzzed file used in place of the written one.
void checkRoundTrip(const DetectionRecord& record, const std::string& separator) {
    const std::string first = written(record);
    checkReadsBackAs(kHeader + first, record, first);
    const std::string lines = first.substr(first.find('\n') + 1);
    checkReadsBackAs(kHeader + separator + "\r\n" + lines, record, first);
}

// Reads `data` as a per-camera file and returns what it gives: the record
// lines of every accepted record and every problem reported, in order.
// With `checkRecords`, each accepted record is checked as well.
std::string readAll(const std::uint8_t* data, std::size_t size, bool copyWrittenForms,
                    bool checkRecords) {
    std::FILE* in = size > 0 ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb")
                             : std::fopen("/dev/null", "rb");
    if (in == nullptr) {
        fail("opening the input");
    }
    auto input = std::make_unique<DetectionInput>();
    auto record = std::make_unique_for_overwrite<DetectionRecord>();
    input->convertByValue = !copyWrittenForms;
    startDetectionInput(*input, in);
    std::string result;
    ReadProblem problem;
    const HeaderStatus header = readDetectionHeader(*input, problem);
    if (header != HeaderStatus::Read) {
        if (problem.line <= 0 || problem.reason == ReadReason::None) {
            fail("a header problem reported without its line or what it is");
        }
        result += "header: line " + std::to_string(problem.line) + ": " +
                  readProblemText(problem) + "\n";
    }
    while (header == HeaderStatus::Read) {
        ReadStatus status = readDetectionRecord(*input, *record, problem);
        if (status == ReadStatus::End) {
            break;
        }
        if (status != ReadStatus::Record) {
            if (problem.line <= 0 || problem.reason == ReadReason::None) {
                fail("damage reported without its line or what it is");
            }
            result +=
                "line " + std::to_string(problem.line) + ": " + readProblemText(problem) + "\n";
            if (status == ReadStatus::Failed) {
                break;
            }
            continue;
        }
        if (record->segmentCount > kMaxSegments) {
            fail("a record with more segments than a record holds");
        }
        result += written(*record);
        if (checkRecords) {
            checkRoundTrip(*record, input->separator);
        }
    }
    std::fclose(in);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string copied = readAll(data, size, true, true);
    if (readAll(data, size, false, false) != copied) {
        fail("copying numbers in written form gives other results than converting them");
    }
    return 0;
}
