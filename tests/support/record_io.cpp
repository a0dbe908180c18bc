#include "record_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

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

namespace {

ReadOutcome readText(const std::string& fileText, bool convertByValue) {
    std::string copy = fileText;  // fmemopen wants a writable buffer
    std::FILE* in = fmemopen(copy.empty() ? nullptr : copy.data(), copy.size(), "rb");
    if (copy.empty()) {
        in = std::fopen("/dev/null", "rb");
    }
    if (in == nullptr) {
        throw std::runtime_error("fmemopen failed");
    }
    return readAndWrite(in, convertByValue);
}

bool sameProblems(const std::vector<ReadProblem>& a, const std::vector<ReadProblem>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameProblem);
}

}  // namespace

bool sameProblem(const ReadProblem& a, const ReadProblem& b) {
    return a.reason == b.reason && a.line == b.line && a.value == b.value &&
           std::string_view(a.column) == b.column && a.segment == b.segment &&
           a.count == b.count && a.error == b.error;
}

ReadOutcome readAndWrite(const std::string& fileText) {
    ReadOutcome outcome = readText(fileText, false);
    ReadOutcome byValue = readText(fileText, true);
    EXPECT_TRUE(byValue.written == outcome.written && byValue.records == outcome.records &&
                sameProblems(byValue.damaged, outcome.damaged) &&
                byValue.failed == outcome.failed)
        << "copying numbers in written form and converting every number by value differ";
    return outcome;
}

ReadOutcome readAndWrite(std::FILE* in, bool convertByValue) {
    MemoryOutput sink;
    OutputFile output;
    startOutputFile(output, sink.file);

    auto input = std::make_unique<DetectionInput>();
    auto record = std::make_unique_for_overwrite<DetectionRecord>();
    input->convertByValue = convertByValue;
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

ReadStatus readFirstRecord(const std::string& fileText, DetectionRecord& record) {
    std::string copy = fileText;
    std::FILE* in = fmemopen(copy.data(), copy.size(), "rb");
    if (in == nullptr) {
        throw std::runtime_error("fmemopen failed");
    }
    auto input = std::make_unique<DetectionInput>();
    startDetectionInput(*input, in);
    ReadProblem problem;
    ReadStatus status = readDetectionHeader(*input, problem) == HeaderStatus::Read
                            ? readDetectionRecord(*input, record, problem)
                            : ReadStatus::Failed;
    std::fclose(in);
    return status;
}

std::string recordLines(const DetectionRecord& record) {
    MemoryOutput sink;
    OutputFile output;
    startOutputFile(output, sink.file);
    writeRecordLines(output, record);
    flushOutput(output);
    return sink.take();
}
