// Every file of the damaged-input folder, merged between two sound files:
// the damage is reported with file and line, no byte of a refused record
// reaches the merged file, and the records around it are all merged.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
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

// Runs the program on a folder that holds `file` between two sound files;
// `ff` gets the folder, with a trailing '/'.
RunResult runBetweenSoundFiles(const TempFolder& temp, const std::string& file, std::string& ff) {
    ff = temp.path + "/HALD/ff/night1/";
    makeFolders(ff);
    writeFile(ff + "KELdetectinfo_0001_first.txt", soundFile("FIRST"));
    writeFile(ff + "KELdetectinfo_0002_case.txt", file);
    writeFile(ff + "KELdetectinfo_0003_last.txt", soundFile("LAST"));
    return runProgram(programPath(), {ff});
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
        std::string ff;
        RunResult run = runBetweenSoundFiles(
            temp, readFile(std::string(KEL_DAMAGED_FOLDER) + "/" + c.file), ff);
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

TEST(DamagedInput, FileRefusedWholeIsToldOnceAndFloodsAreBounded) {
    const std::string magnitude =
        " File {file} has segment lines with a magnitude column (its header names Mag after "
        "Inten), as other station software writes them; the merged layout has no such column, "
        "and the program does not convert such files \n";
    std::string flood = perCameraHeader(9) + perCameraRecord(2, 1, 0);  // lines 12-15
    for (int i = 0; i < 8; ++i) {
        flood += kSeparator + "FF_DAMAGED.fits\nCAL.txt\n0001 12abc 0000 25 1 1 1 1 1 1\n";
    }
    const struct {
        const char* name;
        std::string file;
        int merged;
        int damaged;
        std::size_t oneByOne;  // records reported one by one
        std::string closing;   // the lines after them; {file} is the file's path
    } cases[] = {
        {"every record refused for its station code", stationFile(6, "XX0006", " Mag", " +2.31"), 0,
         6, 0,
         " Damaged records in file {file}: all 6, from line 12 to line 45, refused for the same "
         "damage: value \"XX0006\" of Cam# is not a whole number within 32 bits; no records "
         "merged from it \n" + magnitude},
        {"every record refused for segment lines of 12 values",
         stationFile(6, "0006", "", " +2.31 0041 05.2 0"), 0, 6, 0,
         " Damaged records in file {file}: all 6, from line 12 to line 46, refused for the same "
         "damage: segment lines of 12 values; the layout has 8 (Frame# Col Row RA Dec Azim Elev "
         "Inten); no records merged from it \n"
         " File {file} has segment lines with magnitude, background, SNR and saturated-pixel "
         "count columns (12 values each), as other station software writes them; the merged "
         "layout has no such columns, and the program does not convert such files \n"},
        {"as few refused alike as are reported one by one",
         stationFile(5, "XX0006", " Mag", " +2.31"), 0, 5, 5, magnitude},
        {"a flood after a merged record", flood, 1, 8, 5,
         " Damaged records in file {file}: 3 more, from line 36 to line 47, not reported one by "
         "one; records not merged \n"},
    };
    for (const auto& c : cases) {
        TempFolder temp;
        std::string ff;
        RunResult run = runBetweenSoundFiles(temp, c.file, ff);
        EXPECT_EQ(run.status, 2) << c.name;
        const std::string tail = std::regex_replace(c.closing, std::regex("\\{file\\}"),
                                                    ff + "KELdetectinfo_0002_case.txt") +
                                 kDone +
                                 mergedLine(c.merged + 2, 3, ff + "KELdetectinfo_0000_night1.txt") +
                                 notMergedLine(ff, c.damaged, 0);
        ASSERT_TRUE(run.output.starts_with(kBanner) && run.output.ends_with(tail))
            << c.name << "\n" << run.output;
        const std::string reports =
            run.output.substr(kBanner.size(), run.output.size() - kBanner.size() - tail.size());
        EXPECT_EQ(occurrences(reports, "\n"), c.oneByOne) << c.name;
        EXPECT_EQ(occurrences(reports, " Damaged record in file "), c.oneByOne) << c.name;
    }
}

}  // namespace
