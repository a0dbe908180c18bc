// The texts of the reader's problems as users see them: for every file of
// the damaged-input folder, the text built for the problem the reader
// reports is the one tests/damaged/expected.txt holds, at the same line;
// and every reason that a file can give is met there.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

#include "record_io.h"
#include "test_files.h"

namespace {

TEST(ReadProblem, MessagesAreThoseTheDamagedInputFolderExpects) {
    std::ifstream list(std::string(KEL_DAMAGED_FOLDER) + "/expected.txt");
    ASSERT_TRUE(list.is_open());
    // file | exit status | records merged | message
    const std::regex row(R"(^(\S+) \| \d+ \| \d+ \| (.*)$)");
    // A record: where it begins, its FF file when read, the reason, and
    // where the damage was found when that is another line.
    const std::regex damagedRecord(
        R"( at line (\d+)(?: \(FF file (.*?)\))?: (.*?)(?:, found at line (\d+))?; record not merged$)");
    const std::regex damagedHeader(R"( at line (\d+): (.*); no records merged from it$)");
    const std::regex cutHeader(R"( ends inside its header at line (\d+);)");
    std::set<ReadReason> met;
    std::string line;
    int rows = 0;
    while (std::getline(list, line)) {
        std::smatch fields;
        if (line.empty() || line[0] == '#' || !std::regex_match(line, fields, row)) {
            continue;
        }
        ++rows;
        const std::string file = fields[1];
        const std::string message = fields[2];
        const ReadOutcome outcome =
            readAndWrite(readFile(std::string(KEL_DAMAGED_FOLDER) + "/" + file));
        const bool inHeader = outcome.header != HeaderStatus::Read;
        const ReadProblem* problem = inHeader ? &outcome.headerProblem
                                     : outcome.damaged.empty() ? nullptr
                                                               : &outcome.damaged.front();
        std::smatch expected;
        if (std::regex_search(message, expected, damagedRecord)) {
            ASSERT_NE(problem, nullptr) << file;
            EXPECT_EQ(problem->recordLine, std::stol(expected[1])) << file;
            EXPECT_EQ(problem->ffFile, expected[2].str()) << file;
            EXPECT_EQ(readProblemText(*problem), expected[3].str()) << file;
            EXPECT_EQ(problem->line, std::stol(expected[4].matched ? expected[4] : expected[1])) << file;
        } else if (std::regex_search(message, expected, damagedHeader)) {
            ASSERT_NE(problem, nullptr) << file;
            EXPECT_EQ(problem->line, std::stol(expected[1])) << file;
            EXPECT_EQ(readProblemText(*problem), expected[2].str()) << file;
        } else if (std::regex_search(message, expected, cutHeader)) {
            ASSERT_EQ(outcome.header, HeaderStatus::Cut) << file;
            EXPECT_EQ(problem->line, std::stol(expected[1])) << file;
            EXPECT_EQ(problem->reason, ReadReason::EndsInsideHeader) << file;
        } else {
            EXPECT_EQ(message, "-") << file;
            EXPECT_EQ(problem, nullptr) << file;
        }
        if (problem != nullptr) {
            met.insert(problem->reason);
        }
    }
    EXPECT_GE(rows, 23);
    // Read errors come from the system, not from a file's bytes.
    for (int r = 1; r < static_cast<int>(ReadReason::ReadError); ++r) {
        EXPECT_EQ(met.count(static_cast<ReadReason>(r)), 1u)
            << "no damaged file gives reason " << r;
    }
}

}  // namespace
