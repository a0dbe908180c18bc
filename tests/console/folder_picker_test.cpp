// The folder source on Linux, through the built program started without
// exactly one argument: the console prompt, and zenity's folder chooser in
// a graphical session (here a stand-in script on the PATH).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstring>

#include <filesystem>
#include <string>
#include <vector>

#include "read_problem.h"
#include "run_program.h"
#include "test_files.h"

namespace {

const std::string kPrompt = " Navigate to and select the FF Folder: ";
const std::string kCancelled = " ERROR getting FF files folder pathname \n";

// An FF folder with one per-camera file of one record, and a folder for
// stand-in programs.
struct Station {
    TempFolder temp;
    std::string ff = temp.path + "/HALD/ff/night1";
    std::string bin = temp.path + "/bin";
    Station() {
        makeFolders(ff);
        makeFolders(bin);
        writeFile(ff + "/KELdetectinfo_0001_a.txt",
                  perCameraHeader(1) +
                      "-------------------------------------------------------\n"
                      "FF_a.fits\nCAL_a.txt\n1 1 0 25 1 1 1 1 1 1\n");
    }
    std::string merged() const { return ff + "/KELdetectinfo_0000_night1.txt"; }
    bool merges() const {
        return fileExists(merged()) && readFile(merged()).substr(0, 23) == "Meteor Count = 000001\r\n";
    }
    // A stand-in zenity: a shell script that uses no other program.
    void zenity(const std::string& body) const {
        writeFile(bin + "/zenity", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + temp.path +
                                       "/zenity-calls'\n" + body + "\n");
        chmod((bin + "/zenity").c_str(), 0755);
    }
    std::string zenityCalls() const {
        return fileExists(temp.path + "/zenity-calls") ? readFile(temp.path + "/zenity-calls") : "";
    }
};

// A session as seen by the program: its display variables and PATH.
RunOptions session(const Station& station, const std::string& display, const std::string& wayland,
                   const std::string& input) {
    RunOptions options;
    options.input = input;
    options.environment = {"DISPLAY=" + display, "WAYLAND_DISPLAY=" + wayland,
                           "PATH=" + station.bin};
    return options;
}

const std::string kZenityArguments =
    "--file-selection\n--directory\n--title=Navigate to and select the FF Folder\n";

TEST(ConsolePrompt, RefusesWhatIsNotAFolderAndAsksAgain) {
    Station station;
    const std::string file = station.ff + "/KELdetectinfo_0001_a.txt";
    RunResult run = runProgram(programPath(), {},
                               session(station, "", "", "/no/such/folder\n" + file + "\n" + station.ff + "\n"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + kPrompt + "/no/such/folder\n /no/such/folder is not a folder \n" +
                              kPrompt + file + "\n " + file + " is not a folder \n" + kPrompt +
                              station.ff + "\n" + kDone + mergedLine(1, 1, station.merged()));
    EXPECT_TRUE(station.merges());
    EXPECT_NE(readFile(station.merged()).find("\nFF  folder = " + station.ff + "/\r\n"),
              std::string::npos);
}

TEST(ConsolePrompt, DroppedOrHomeRelativePathIsTakenAsMeant) {
    // As a terminal hands over a dropped path, as typed with ~/ or as ~
    // alone, and with an unpaired quote, which is taken literally.
    Station station;
    for (const std::string& answer :
         std::vector<std::string>{"'" + station.ff + "' ", "  \"" + station.ff + "\"\t", "~/night1", "'~/night1'", "~"}) {
        SCOPED_TRACE(answer);
        std::filesystem::remove(station.merged());
        RunOptions options = session(station, "", "", answer + "\n");
        options.environment.push_back("HOME=" + (answer == "~" ? station.ff : station.temp.path + "/HALD/ff"));
        RunResult run = runProgram(programPath(), {}, options);
        EXPECT_EQ(run.status, 0);
        // The answer is echoed as messages show names: the tab as \x09.
        EXPECT_EQ(run.output, kBanner + kPrompt + shownText(answer) + "\n" + kDone +
                                  mergedLine(1, 1, station.merged()));
        EXPECT_TRUE(station.merges());
    }
    RunOptions unpaired = session(station, "", "", "'" + station.ff + "\n");
    RunResult refused = runProgram(programPath(), {}, unpaired);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.output, kBanner + kPrompt + "'" + station.ff + "\n '" + station.ff +
                                  " is not a folder \n" + kPrompt + "\n" + kCancelled);
}

TEST(ConsolePrompt, EmptyLineOrEndOfInputCancelsAtOnce) {
    for (int variant = 0; variant < 3; ++variant) {
        Station station;
        // Nothing, an empty line, an empty line before a folder that must
        // not be read.
        const std::string input = variant == 0 ? "" : variant == 1 ? "\n" : "\n" + station.ff + "\n";
        SCOPED_TRACE(input);
        RunResult run = runProgram(programPath(), {}, session(station, "", "", input));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, kBanner + kPrompt + "\n" + kCancelled);
        EXPECT_FALSE(fileExists(station.merged()));
        EXPECT_FALSE(fileExists(station.ff + "/MergeListing_KELdetectinfo.txt"));
    }
}

TEST(ConsolePrompt, AskedWithNoArgument) {
    Station station;
    RunResult run = runProgram(programPath(), {}, session(station, "", "", station.ff + "\n"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + kPrompt + station.ff + "\n" + kDone + mergedLine(1, 1, station.merged()));
    EXPECT_TRUE(station.merges());
}

TEST(ConsolePrompt, UsedWithoutADisplayOrWithoutZenity) {
    Station station;
    station.zenity("echo '" + station.ff + "'");
    RunResult noDisplay = runProgram(programPath(), {}, session(station, "", "", station.ff + "\n"));
    EXPECT_EQ(noDisplay.output, kBanner + kPrompt + station.ff + "\n" + kDone + mergedLine(1, 1, station.merged()));
    EXPECT_EQ(station.zenityCalls(), "");

    std::remove((station.bin + "/zenity").c_str());
    RunResult noZenity = runProgram(programPath(), {}, session(station, ":0", "wayland-0", station.ff + "\n"));
    EXPECT_EQ(noZenity.status, 0);
    EXPECT_EQ(noZenity.output, kBanner + kPrompt + station.ff + "\n" + kDone + mergedLine(1, 1, station.merged()));
}

TEST(ZenityChooser, ChosenFolderIsMergedOnX11AndWayland) {
    for (const auto& [display, wayland] : {std::pair{":0", ""}, std::pair{"", "wayland-0"}}) {
        Station station;
        station.zenity("echo '" + station.ff + "'");
        RunResult run = runProgram(programPath(), {}, session(station, display, wayland, "not read\n"));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, kBanner + kDone + mergedLine(1, 1, station.merged()));
        EXPECT_EQ(station.zenityCalls(), kZenityArguments);
        EXPECT_TRUE(station.merges());
    }
}

TEST(ZenityChooser, CancelEndsTheRunWithoutAFile) {
    Station station;
    station.zenity("exit 1");
    RunResult run = runProgram(programPath(), {}, session(station, ":0", "", station.ff + "\n"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, kBanner + kCancelled);
    EXPECT_EQ(station.zenityCalls(), kZenityArguments);
    EXPECT_FALSE(fileExists(station.merged()));
}

TEST(ZenityChooser, AnswerThatIsNotAFolderIsRefusedAndAskedAgain) {
    Station station;
    station.zenity("if [ -e '" + station.temp.path + "/asked' ]; then echo '" + station.ff +
                   "'; else : > '" + station.temp.path + "/asked'; echo /no/such/folder; fi");
    RunResult run = runProgram(programPath(), {}, session(station, ":0", "", ""));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + " /no/such/folder is not a folder \n" + kDone + mergedLine(1, 1, station.merged()));
    EXPECT_EQ(station.zenityCalls(), kZenityArguments + kZenityArguments);
    EXPECT_TRUE(station.merges());
}

TEST(ZenityChooser, ChooserThatFailsGivesWayToTheConsolePrompt) {
    Station station;
    station.zenity("echo 'cannot open display' >&2; exit 255");
    RunResult run = runProgram(programPath(), {}, session(station, ":0", "", station.ff + "\n"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + " zenity's folder chooser failed (exit status 255); asking on "
                                    "the console \n" + kPrompt + station.ff + "\n" + kDone + mergedLine(1, 1, station.merged()));
    EXPECT_TRUE(station.merges());
}

TEST(ZenityChooser, RealZenityWithoutAServerGivesWayToTheConsolePrompt) {
    // A stale session: DISPLAY names a display that no server answers.
    // zenity then exits with status 1, as for Cancel, yet nothing was
    // cancelled.
    Station station;
    RunOptions options = session(station, ":77", "", station.ff + "\n");
    options.environment.back() = "PATH=/usr/bin:/bin";
    RunResult run = runProgram(programPath(), {}, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + " zenity's folder chooser cannot reach the display; asking on "
                                    "the console \n" + kPrompt + station.ff + "\n" + kDone + mergedLine(1, 1, station.merged()));
    EXPECT_TRUE(station.merges());
}

TEST(ZenityChooser, StartsWithNoSignalIgnored) {
    // The program ignores SIGPIPE and SIGXFSZ for itself; zenity must get
    // them at their defaults, as from a shell.
    Station station;
    station.zenity("while read -r key value; do [ \"$key\" = SigIgn: ] && echo \"$value\" > '" +
                   station.temp.path + "/ignored'; done < /proc/$$/status\necho '" + station.ff +
                   "'");
    RunResult run = runProgram(programPath(), {}, session(station, ":0", "", ""));
    EXPECT_EQ(run.status, 0) << run.output;
    const unsigned long long ignored = std::stoull(readFile(station.temp.path + "/ignored"), nullptr, 16);
    for (int signalNumber : {SIGPIPE, SIGXFSZ}) {
        EXPECT_EQ(ignored & (1ULL << (signalNumber - 1)), 0u) << strsignal(signalNumber);
    }
}

}  // namespace
