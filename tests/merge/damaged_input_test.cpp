// Every file of the damaged-input folder, merged between two sound files:
// the damage is reported with file and line, no byte of a refused record
// reaches the merged file, and the records around it are all merged.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"

namespace {

struct DamagedCase {
    std::string file;
    int status = 0;
    int merged = 0;
    std::string message;
};

std::string trimmed(const std::string& text) {
    std::size_t first = text.find_first_not_of(' ');
    std::size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::vector<DamagedCase> loadCases() {
    std::ifstream list(std::string(KEL_DAMAGED_FOLDER) + "/expected.txt");
    std::vector<DamagedCase> cases;
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::size_t a = line.find(" | ");
        std::size_t b = line.find(" | ", a + 3);
        std::size_t c = line.find(" | ", b + 3);
        DamagedCase entry;
        entry.file = trimmed(line.substr(0, a));
        entry.status = std::stoi(line.substr(a + 3, b - a - 3));
        entry.merged = std::stoi(line.substr(b + 3, c - b - 3));
        entry.message = line.substr(c + 3);
        cases.push_back(entry);
    }
    return cases;
}

std::string soundFile(const char* tag) {
    return perCameraHeader(1) + "-------------------------------------------------------\n" +
           "FF_" + tag + ".fits\nCAL_" + tag + ".txt\n" +
           "0001 0001 0000 0025.00 010.0 005.0 001.0 003.5 0100.0 0200.0\n";
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(DamagedInput, EveryDamagedFileIsRefusedAsExpected) {
    std::vector<DamagedCase> cases = loadCases();
    ASSERT_GE(cases.size(), 23u);
    for (const DamagedCase& c : cases) {
        TempFolder temp;
        const std::string ff = temp.path + "/HALD/ff/night1/";
        makeFolders(ff);
        writeFile(ff + "KELdetectinfo_0001_first.txt", soundFile("FIRST"));
        writeFile(ff + "KELdetectinfo_0002_case.txt",
                  readFile(std::string(KEL_DAMAGED_FOLDER) + "/" + c.file));
        writeFile(ff + "KELdetectinfo_0003_last.txt", soundFile("LAST"));

        RunResult run = runProgram(programPath(), {ff});
        EXPECT_EQ(run.status, c.status) << c.file << "\n" << run.output;
        if (c.message == "-") {
            EXPECT_EQ(run.output.find("Damaged"), std::string::npos) << c.file << run.output;
        } else {
            std::string message = c.message;
            message.replace(message.find("{file}"), 6, ff + "KELdetectinfo_0002_case.txt");
            EXPECT_NE(run.output.find(" " + message + " \n"), std::string::npos)
                << c.file << "\n" << run.output;
            const bool wholeFile = c.message.find("header") != std::string::npos;
            EXPECT_NE(run.output.find(wholeFile ? notMergedLine(ff, 0, 1) : notMergedLine(ff, 1, 0)),
                      std::string::npos)
                << c.file;
        }
        EXPECT_NE(run.output.find("\n Done with processing \n"), std::string::npos) << c.file;

        const std::string merged = readFile(ff + "KELdetectinfo_0000_night1.txt");
        char line1[32];
        std::snprintf(line1, sizeof line1, "Meteor Count = %06d\r\n", c.merged + 2);
        EXPECT_EQ(merged.substr(0, 23), line1) << c.file;
        EXPECT_EQ(occurrences(merged, "\r\n-------------------------------------------------------\r\n"),
                  static_cast<std::size_t>(c.merged + 2))
            << c.file;
        EXPECT_EQ(merged.find("DAMAGED"), std::string::npos) << c.file;
        EXPECT_LT(merged.find("FF_FIRST"), merged.find("FF_LAST")) << c.file;
        EXPECT_NE(merged.find("FF_LAST"), std::string::npos) << c.file;
    }
}

}  // namespace
