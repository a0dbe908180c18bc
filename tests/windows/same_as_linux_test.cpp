// The Windows program under Wine and the Linux program on the same FF
// folders: the same records, counts, messages and exit statuses. Paths are
// compared with the temporary folder taken out and separators made alike,
// so a difference in reading, number conversion or line ends shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"
#include "wine_program.h"

namespace {


// Fills an FF folder, given by its path on this machine.
using Setup = std::function<void(const std::string& ff)>;

struct Scenario {
    std::string name;
    Setup setup;
    std::string ffBelowTemp = "HALD/ff/night1";
    bool sameListing = true;  // false where the command interpreter lists a folder
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

// What one run left: the status, the console and the two files it writes,
// with the temporary folder as "<temp>", '/' as the separator and the time
// of header line 3 as "<time>".
struct Outcome {
    int status = -1;
    std::string output;
    std::string merged;
    std::string listing;
};

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string comparable(std::string text, const std::string& temp) {
    text = replaceAll(text, windowsPath(temp), "<temp>");
    text = replaceAll(text, temp, "<temp>");
    for (char& c : text) {
        if (c == '\\') {
            c = '/';
        }
    }
    static const std::regex time("on [A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\r\n");
    text = std::regex_replace(text, time, "on <time>\r\n", std::regex_constants::format_first_only);
    // The system's own words for a failure are the platform's: Windows
    // refuses to open a folder as a file with "Permission denied", Linux
    // says "Is a directory". That the reason is given is what counts here.
    static const std::regex reason("for (reading|writing) \n \\([^\n]*\\) \n");
    return std::regex_replace(text, reason, "for $1 \n (<reason>) \n");
}

std::string contentOrAbsent(const std::string& path) {
    return fileExists(path) ? readFile(path) : std::string("<absent>");
}

Outcome runScenario(const Scenario& scenario, bool onWindows) {
    TempFolder temp;
    const std::string ff = temp.path + "/" + scenario.ffBelowTemp;
    makeFolders(ff);
    scenario.setup(ff);
    RunResult run = onWindows ? runWindowsProgram({windowsPath(ff)}) : runProgram(programPath(), {ff});
    const std::string name = std::filesystem::path(ff).filename().string();
    Outcome outcome;
    outcome.status = run.status;
    outcome.output = comparable(run.output, temp.path);
    const std::string merged = ff + "/KELdetectinfo_0000_" + name + ".txt";
    outcome.merged = std::filesystem::is_directory(merged) ? "<folder>"
                                                           : comparable(contentOrAbsent(merged), temp.path);
    outcome.listing = contentOrAbsent(ff + "/MergeListing_KELdetectinfo.txt");
    return outcome;
}

void copyFolder(const std::string& from, const std::string& to) {
    for (const auto& entry : std::filesystem::directory_iterator(from)) {
        std::filesystem::copy_file(entry.path(), to + "/" + entry.path().filename().string());
    }
}

std::vector<Scenario> scenarios() {
    std::vector<Scenario> all;
    all.push_back({"Example", [](const std::string& ff) { copyFolder(KEL_EXAMPLE_FOLDER, ff); }});
    all.push_back({"LineEndsSpacingAndZeroFrameRate", [](const std::string& ff) {
        writeFile(ff + "/KELdetectinfo_0001_a.txt",
                  crlf(perCameraHeader(2) + perCameraRecord(1, 1, 2) + perCameraRecord(1, 2, 1)));
        writeFile(ff + "/KELdetectinfo_0002_b.txt",
                  perCameraHeader(1) + "\n  \t" + kSeparator + "  FF_c2_m1.fits\n\nCAL_c2.txt   \n" +
                      "2 1\n 1 25 10 5 1 3.5 100 200\n\n10 100.25 200.5 45 -10.5 180 30 1000\n");
        writeFile(ff + "/KELdetectinfo_0003_c.txt",
                  perCameraHeader(2) + perCameraRecord(3, 1, 0, "0000.00") + perCameraRecord(3, 2, 1, "-0"));
        writeFile(ff + "/KELdetectinfo_0004_d.txt", perCameraHeader(1) + perCameraRecord(7, 9, 0));
    }});
    all.push_back({"NumberForms", [](const std::string& ff) {
        writeFile(ff + "/KELdetectinfo_0001_a.txt",
                  perCameraHeader(3) + kSeparator + "FF\nCAL\n+1 -5 1 2.5e1 1e-3 .5 5. 0x1p3 -0 1e300\n"
                      "1.25 2.345 -0.005 99999.999 1e5 -1e5 0.125 -7\n" +
                  kSeparator + "FF\nCAL\n1 2 0 0.004 0.05 0.15 0.25 0.35 0.45 -0.55\n" +
                  kSeparator + "FF\nCAL\n1 3 0 inf -inf nan 1 1 1 1\n");
    }});
    all.push_back({"FileToldOnceAndFloodBounded", [](const std::string& ff) {
        std::string flood = perCameraHeader(9) + perCameraRecord(2, 1, 0);
        for (int i = 0; i < 8; ++i) {
            flood += kSeparator + "FF\nCAL\n0001 12abc 0000 25 1 1 1 1 1 1\n";
        }
        writeFile(ff + "/KELdetectinfo_0001_station.txt", stationFile(8, "XX0006", " Mag", " +2.31"));
        writeFile(ff + "/KELdetectinfo_0002_flood.txt", flood);
    }});
    all.push_back({"EmptyFolder", [](const std::string&) {}});
    all.push_back({"EarlierMergedFileIsSkipped", [](const std::string& ff) {
        writeFile(ff + "/KELdetectinfo_0000_night1.txt", perCameraHeader(1) + perCameraRecord(9, 9, 1));
        writeFile(ff + "/KELdetectinfo_0001_a.txt", perCameraHeader(2) + perCameraRecord(1, 1, 1) + perCameraRecord(1, 2, 0));
        writeFile(ff + "/KELdetectinfo_0002_b.txt", perCameraHeader(0));
        writeFile(ff + "/KELdetectinfo_0005_c.txt", perCameraHeader(1) + perCameraRecord(5, 1, 3));
    }});
    all.push_back({"NamesWithoutCameraNumber", [](const std::string& ff) {
        writeFile(ff + "/KELdetectinfo_abc.txt", perCameraHeader(1) + perCameraRecord(8, 1, 0));
        writeFile(ff + "/keldetectinfo_0001_lower.txt", perCameraHeader(1) + perCameraRecord(8, 2, 0));
        writeFile(ff + "/KELdetectinfo_7.txt", perCameraHeader(1) + perCameraRecord(7, 1, 0));
        writeFile(ff + "/KELdetectinfo_12345_wide.txt", perCameraHeader(1) + perCameraRecord(1, 1, 0));
    }});
    all.push_back({"MergedFileCannotBeCreated", [](const std::string& ff) {
        writeFile(ff + "/KELdetectinfo_0001_a.txt", perCameraHeader(1) + perCameraRecord(1, 1, 1));
        makeFolders(ff + "/KELdetectinfo_0000_night1.txt");
    }, "HALD/ff/night1", false});
    all.push_back({"LinksToTheMergedFile", [](const std::string& ff) {
        const std::string merged = ff + "/KELdetectinfo_0000_night1.txt";
        writeFile(merged, perCameraHeader(1) + perCameraRecord(9, 9, 0));
        writeFile(ff + "/KELdetectinfo_0001_a.txt", perCameraHeader(1) + perCameraRecord(1, 1, 1));
        std::filesystem::create_symlink("KELdetectinfo_0000_night1.txt", ff + "/KELdetectinfo_0005_sym.txt");
        std::filesystem::create_hard_link(merged, ff + "/KELdetectinfo_0006_hard.txt");
    }});
    all.push_back({"NoHaldFolderInThePath",
                   [](const std::string& ff) {
                       writeFile(ff + "/KELdetectinfo_0001_a.txt", perCameraHeader(1) + perCameraRecord(1, 1, 1));
                   },
                   "obs/ff/night1"});
    // Every damaged per-camera file of the tests, between two sound ones.
    for (const auto& entry : std::filesystem::directory_iterator(KEL_DAMAGED_FOLDER)) {
        const std::string file = entry.path().filename().string();
        if (file == "expected.txt") {
            continue;
        }
        std::string name = "Damaged_" + entry.path().stem().string();
        all.push_back({name, [source = entry.path().string()](const std::string& ff) {
            writeFile(ff + "/KELdetectinfo_0001_first.txt", perCameraHeader(1) + perCameraRecord(1, 1, 0));
            writeFile(ff + "/KELdetectinfo_0002_case.txt", readFile(source));
            writeFile(ff + "/KELdetectinfo_0003_last.txt", perCameraHeader(1) + perCameraRecord(3, 1, 0));
        }});
    }
    return all;
}

class SameAsLinux : public testing::TestWithParam<Scenario> {};

TEST_P(SameAsLinux, RecordsCountsMessagesAndStatus) {
    const Outcome linux = runScenario(GetParam(), false);
    const Outcome windows = runScenario(GetParam(), true);
    EXPECT_EQ(windows.status, linux.status);
    EXPECT_EQ(windows.output, linux.output);
    EXPECT_EQ(windows.merged, linux.merged);
    if (GetParam().sameListing) {
        EXPECT_EQ(windows.listing, linux.listing);
    }
    // A comparison of two empty results proves nothing: each run showed
    // its banner and wrote or reported the merged file.
    EXPECT_NE(windows.output.find("KEL Combine Detectinfo  1.61"), std::string::npos);
    EXPECT_NE(windows.merged, "<absent>");
}

INSTANTIATE_TEST_SUITE_P(Folders, SameAsLinux, testing::ValuesIn(scenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
