// Runs that meet on one folder: a scheduled merge and an observer's run,
// while a camera adds or removes its file. Each run has the folder to
// itself from its listing to its merged file's name.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ff_folder.h"
#include "run_program.h"
#include "test_files.h"

namespace {

const std::string kListing = "MergeListing_KELdetectinfo.txt";

std::string camera(int number) {
    return "KELdetectinfo_000" + std::to_string(number) + "_x.txt";
}

// A per-camera file of about 2 MB, so that runs on the folder overlap.
std::string perCameraFile(int number) {
    std::string text = perCameraHeader(4000);
    for (int meteor = 1; meteor <= 4000; ++meteor) {
        text += perCameraRecord(number, meteor, 2);
    }
    return text;
}

// The merged file and the listing a run leaves, line 3 of the merged file
// aside.
struct Outcome {
    std::string merged;
    std::string listing;
    bool operator==(const Outcome&) const = default;
};

Outcome outcomeIn(const FfFolder& ff) {
    return {withoutTime(ff.merged()), readFile(ff.file(kListing))};
}

// The folder's entries that are not per-camera files.
std::vector<std::string> runFiles(const FfFolder& ff) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(ff.path)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("KELdetectinfo_000", 0) != 0 || name == "KELdetectinfo_0000_night1.txt") {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ConcurrentRuns, RunsStartedTogetherEachMergeOneStateOfTheFolder) {
    FfFolder ff;
    const std::string files[] = {perCameraFile(1), perCameraFile(2), perCameraFile(3)};
    // The three states the folder passes through: cameras 1 and 2, then
    // camera 3 added, then camera 1 gone.
    auto setState = [&](int state) {
        writeFile(ff.file(camera(1)), files[0]);
        writeFile(ff.file(camera(2)), files[1]);
        std::filesystem::remove(ff.file(camera(3)));
        if (state >= 1) {
            writeFile(ff.file(camera(3)), files[2]);
        }
        if (state >= 2) {
            std::filesystem::remove(ff.file(camera(1)));
        }
    };
    std::vector<Outcome> states;
    writeFile(ff.mergedPath(), "an earlier merged file, listed as the runs below find one\r\n");
    for (int state = 0; state < 3; ++state) {
        setState(state);
        ASSERT_EQ(runProgram(programPath(), {ff.path}).status, 0);
        states.push_back(outcomeIn(ff));
    }

    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        setState(0);
        std::vector<StartedProgram> runs;
        runs.push_back(startProgram(programPath(), {ff.path}));
        writeFile(ff.file(camera(3)), files[2]);
        runs.push_back(startProgram(programPath(), {ff.path}));
        std::filesystem::remove(ff.file(camera(1)));
        runs.push_back(startProgram(programPath(), {ff.path}));
        // A run may find camera 1 gone between reading the folder's names
        // and looking at the file: it leaves it out, saying so; or between
        // its listing and its open of the file: it ends as any run that
        // cannot open a listed file.
        const std::string waiting = " Waiting for another run on folder " + ff.path + "/ to end \n";
        const std::string unseen = " File " + ff.file(camera(1)) +
                                   " cannot be looked at (No such file or directory); not merged \n";
        const std::string gone = " Cannot open file " + ff.file(camera(1)) +
                                 " for reading \n (No such file or directory) \n\n"
                                 " Enter CR to exit program \n";
        for (StartedProgram& started : runs) {
            const RunResult run = finishProgram(started);
            std::string output = run.output;
            if (output.rfind(kBanner + waiting, 0) == 0) {
                output.erase(kBanner.size(), waiting.size());
            }
            const std::string done = kBanner + kDone;
            const std::string merged = ff.mergedPath();
            EXPECT_TRUE((run.status == 0 && (output == done + mergedLine(8000, 2, merged) ||
                                             output == done + mergedLine(12000, 3, merged))) ||
                        (run.status == 1 && output == kBanner + gone) ||
                        (run.status == 2 && output == kBanner + unseen + kDone +
                                                          mergedLine(8000, 2, merged) +
                                                          notMergedLine(ff.path + "/", 0, 1)))
                << run.status << run.output;
        }
        const Outcome last = outcomeIn(ff);
        EXPECT_TRUE(last == states[0] || last == states[1] || last == states[2])
            << "line 1: " << last.merged.substr(0, 23) << "listing:\n" << last.listing;
        EXPECT_EQ(runFiles(ff), (std::vector<std::string>{"KELdetectinfo_0000_night1.txt", kListing}))
            << "a staging or lock file was left";
    }
}

// Holds the lock a run takes on `folder` for as long as the object lives,
// as a run on the folder would.
struct FolderLockedByAnother {
    explicit FolderLockedByAnother(const std::string& folder) {
        descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_EQ(flock(descriptor, LOCK_EX), 0);
    }
    ~FolderLockedByAnother() { close(descriptor); }
    FolderLockedByAnother(const FolderLockedByAnother&) = delete;
    FolderLockedByAnother& operator=(const FolderLockedByAnother&) = delete;
    int descriptor = -1;
};

TEST(ConcurrentRuns, SecondRunWaitsForTheFolderSayingSoOnce) {
    FfFolder ff;
    writeFile(ff.file(camera(1)), perCameraHeader(1) + perCameraRecord(1, 1, 1));
    const std::string waiting = " Waiting for another run on folder " + ff.path + "/ to end \n";
    StartedProgram started;
    {
        FolderLockedByAnother held(ff.path);
        started = startProgram(programPath(), {ff.path});
        ASSERT_TRUE(readUntil(started, waiting)) << started.seen;
        EXPECT_TRUE(stillRunningAfter(started, 300));
        EXPECT_FALSE(fileExists(ff.file(kListing))) << "the waiting run listed the folder";
        EXPECT_FALSE(fileExists(ff.mergedPath()));
    }
    const RunResult run = finishProgram(started);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + waiting + kDone + mergedLine(1, 1, ff.mergedPath()));
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000001\r\n");
}

TEST(ConcurrentRuns, WaitingRunGoesOnWhenTheRunBeforeItIsKilled) {
    FfFolder ff;
    writeFile(ff.file(camera(1)), perCameraHeader(1) + perCameraRecord(1, 1, 1));
    // A process that holds the folder as a run would, until it is killed.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int folder = open(ff.path.c_str(), O_RDONLY | O_DIRECTORY);
        flock(folder, LOCK_EX);
        ssize_t ignored = write(ready[1], "x", 1);
        (void)ignored;
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    StartedProgram started = startProgram(programPath(), {ff.path});
    EXPECT_TRUE(readUntil(started, "to end \n")) << started.seen;
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    const RunResult run = finishProgram(started);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000001\r\n");
}

}  // namespace
