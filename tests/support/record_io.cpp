#include "record_io.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "output_file.h"
#include "record_format.h"

namespace {

// A FILE that collects what is written to it in memory.
struct MemoryOutput {
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = nullptr;
    MemoryOutput() : file(open_memstream(&data, &size)) {}
    ~MemoryOutput() {
        if (file != nullptr) {
            std::fclose(file);
        }
        std::free(data);
    }
    std::string take() {
        std::fflush(file);
        return std::string(data, size);
    }
};

}  // namespace

ReadOutcome readAndWrite(const std::string& fileText) {
    std::string copy = fileText;  // fmemopen wants a writable buffer
    std::FILE* in = fmemopen(copy.empty() ? nullptr : copy.data(), copy.size(), "rb");
    if (copy.empty()) {
        in = std::fopen("/dev/null", "rb");
    }
    if (in == nullptr) {
        throw std::runtime_error("fmemopen failed");
    }
    return readAndWrite(in);
}

ReadOutcome readAndWrite(std::FILE* in) {
    MemoryOutput sink;
    OutputFile output;
    startOutputFile(output, sink.file);

    auto input = std::make_unique<DetectionInput>();
    auto record = std::make_unique<DetectionRecord>();
    startDetectionInput(*input, in);
    ReadOutcome outcome;
    outcome.header = readDetectionHeader(*input, outcome.headerProblem);
    ReadProblem problem;
    while (outcome.header == HeaderStatus::Read) {
        ReadStatus status = readDetectionRecord(*input, *record, problem);
        if (status == ReadStatus::End) {
            break;
        }
        if (status == ReadStatus::Failed) {
            outcome.failed = true;
            outcome.failure = problem;
            break;
        }
        if (status == ReadStatus::Damaged) {
            outcome.damaged.push_back(problem);
            continue;
        }
        writeRecordLines(output, *record);
        ++outcome.records;
    }
    std::fclose(in);
    flushOutput(output);
    outcome.written = sink.take();
    return outcome;
}

std::string recordLines(const DetectionRecord& record) {
    MemoryOutput sink;
    OutputFile output;
    startOutputFile(output, sink.file);
    writeRecordLines(output, record);
    flushOutput(output);
    return sink.take();
}
