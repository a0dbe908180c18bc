// Runs that end before their time: killed at any system call, interrupted
// by a signal, writing into a pipe that was closed, or started with a
// standard stream closed. Whatever happens, the merged file's name holds
// the earlier merged file or the new complete one, never a part of one,
// and no staging file stays for the next run to trip over.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "ff_folder.h"
#include "run_program.h"
#include "test_files.h"

namespace {

const char kEarlierMerged[] = "Meteor Count = 000001\r\nthe merged file of an earlier run\r\n";

// A folder of `cameras` per-camera files of `records` records each.
void fillFolder(const FfFolder& ff, int cameras, int records) {
    for (int camera = 1; camera <= cameras; ++camera) {
        std::string text = perCameraHeader(records);
        for (int meteor = 1; meteor <= records; ++meteor) {
            text += perCameraRecord(camera, meteor, 3);
        }
        writeFile(ff.file("KELdetectinfo_000" + std::to_string(camera) + "_x.txt"), text);
    }
}

// The merged file a complete run makes of the folder; the earlier merged
// file is put back afterwards.
std::string completeMerge(const FfFolder& ff) {
    writeFile(ff.mergedPath(), kEarlierMerged);
    EXPECT_EQ(runProgram(programPath(), {ff.path}).status, 0);
    const std::string complete = ff.merged();
    writeFile(ff.mergedPath(), kEarlierMerged);
    return complete;
}

// How often the program makes each system call of the file-system and
// descriptor kinds in a run on `ff`, as strace counts them.
std::map<std::string, int> fileSystemCalls(const FfFolder& ff) {
    const std::string trace = ff.temp.path + "/trace";
    RunResult traced = runProgram(stracePath(), {"-f", "-qq", "-o", trace, "-e",
                                                 "trace=%file,%desc,fsync,fdatasync",
                                                 programPath(), ff.path});
    EXPECT_EQ(traced.status, 0) << traced.output;
    std::map<std::string, int> counts;
    std::ifstream lines(trace);
    std::string pid;
    std::string call;
    while (lines >> pid && std::getline(lines, call)) {
        const std::size_t start = call.find_first_not_of(' ');
        const std::size_t paren = call.find('(');
        if (start != std::string::npos && paren != std::string::npos && call[start] != '<') {
            ++counts[call.substr(start, paren - start)];
        }
    }
    std::filesystem::remove(trace);
    return counts;
}

TEST(InterruptedRun, KilledAtAnyFileSystemCallLeavesTheEarlierOrTheNewMergedFile) {
    FfFolder ff;
    fillFolder(ff, 3, 2);
    const std::string complete = withoutTime(completeMerge(ff));
    const std::map<std::string, int> calls = fileSystemCalls(ff);
    ASSERT_GT(calls.count("renameat"), 0u);
    ASSERT_GT(calls.count("fsync"), 0u);

    int kills = 0;
    // The first execve is strace's start of the program, not one of its calls.
    for (const auto& [call, count] : calls) {
        if (call == "execve") {
            continue;
        }
        for (int n = 1; n <= count; ++n) {
            const std::string where = call + " #" + std::to_string(n);
            writeFile(ff.mergedPath(), kEarlierMerged);
            RunResult killed = runProgram(stracePath(), {"-f", "-qq", "-o", "/dev/null", "-e",
                                                         "inject=" + call + ":signal=KILL:when=" +
                                                             std::to_string(n),
                                                         programPath(), ff.path});
            // The sanitizer build's runtime makes calls of its own whose
            // number varies from run to run (it reads /proc/self/maps in as
            // many reads as the libraries' places need, maps memory and opens
            // files as it goes): the last of those may not come in every run.
            // A run that never made the call ran to its end, and must have
            // left the new file.
            if (killed.signal != SIGKILL && killed.status == 0) {
                EXPECT_EQ(withoutTime(ff.merged()), complete) << where;
                continue;
            }
            EXPECT_EQ(killed.signal, SIGKILL) << where;
            kills += killed.signal == SIGKILL;
            const std::string left = ff.merged();
            EXPECT_TRUE(left == kEarlierMerged || withoutTime(left) == complete)
                << "killed at " << where;
            RunResult next = runProgram(programPath(), {ff.path});
            EXPECT_EQ(next.status, 0) << where;
            EXPECT_FALSE(ff.stagingLeft()) << "after the run killed at " << where;
        }
    }
    EXPECT_GT(kills, 50);
}

// Ends a run on `ff` by `signalNumber`, which strace sends the program as
// it enters the system call `at` (a call on the staging file).
RunResult interruptAt(const FfFolder& ff, int signalNumber, const std::string& at) {
    // renameat names the file relative to the folder: strace matches it by
    // the folder, where the listing's renameat comes first.
    std::string injection = "inject=" + at + ":signal=" + std::to_string(signalNumber);
    std::vector<std::string> options{"-e", at == "renameat" ? injection + ":when=2" : injection};
    if (at == "renameat") {
        options.insert(options.end(), {"-P", ff.path});
    }
    const TracedRun traced = tracedOnStaging(ff, options);
    return runProgram(traced.program, traced.arguments);
}

TEST(InterruptedRun, SignalsRemoveTheStagingFileAndEndTheRunAsThemselves) {
    FfFolder ff;
    fillFolder(ff, 4, 8000);  // about 12 MB
    const std::string complete = completeMerge(ff);
    ASSERT_GT(complete.size(), 40u * 256 * 1024) << "20 writes make half of it";
    // The first and a middle write of the merged file and its flush to
    // disk leave the earlier merged file; a signal that comes as the rename
    // begins is handled once it is done, and leaves the new one.
    for (const char* at : {"write:when=1", "write:when=20", "fsync", "renameat"}) {
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
            writeFile(ff.mergedPath(), kEarlierMerged);
            const RunResult run = interruptAt(ff, signalNumber, at);
            // strace ends as its program did, or says so in its status.
            EXPECT_TRUE(run.signal == signalNumber || run.status == 128 + signalNumber)
                << strsignal(signalNumber) << " at " << at << ": status " << run.status;
            const std::string left = ff.merged();
            if (std::string(at) == "renameat") {
                EXPECT_TRUE(withoutTime(left) == withoutTime(complete)) << strsignal(signalNumber);
            } else {
                EXPECT_TRUE(left == kEarlierMerged) << strsignal(signalNumber) << " at " << at;
            }
            EXPECT_FALSE(ff.stagingLeft()) << strsignal(signalNumber) << " at " << at;
        }
    }
}

TEST(InterruptedRun, InterruptedWaitEndsTheProcessByTheSignal) {
    // Ctrl-C at the wait after a failure: the process ends as killed by
    // SIGINT, as a shell expects of an interrupted program.
    FfFolder ff;
    fillFolder(ff, 1, 2000);
    writeFile(ff.mergedPath(), kEarlierMerged);
    RunOptions options;
    options.fileSizeLimit = 2000;
    StartedProgram started = startProgram(programPath(), {ff.path}, options);
    ASSERT_TRUE(readUntil(started, "(File too large) \n")) << started.seen;
    kill(started.pid, SIGINT);
    const RunResult run = finishProgram(started);
    EXPECT_EQ(run.signal, SIGINT) << run.status;
    EXPECT_EQ(ff.merged(), kEarlierMerged);
    EXPECT_FALSE(ff.stagingLeft());
}

// Per-camera files of `damaged` damaged records in all, and one sound
// record in the first, whose messages fill more than one buffer of
// standard output: each file holds no more damaged records than are
// reported one by one.
void writeDamagedFile(const FfFolder& ff, int damaged) {
    for (int file = 0; file * 5 < damaged; ++file) {
        std::string text = perCameraHeader(6) + (file == 0 ? perCameraRecord(9, 1, 1) : "");
        for (int meteor = 0; meteor < 5; ++meteor) {
            text += kSeparator + "FF_damaged.fits\nCAL.txt\n0001 12abc 0000 25 1 1 1 1 1 1\n";
        }
        writeFile(ff.file("KELdetectinfo_0009_damaged" + std::to_string(file) + ".txt"), text);
    }
}

TEST(InterruptedRun, PipeClosedByTheReaderDoesNotStopTheMerge) {
    // Thousands of damage messages, read by `head -c 10` in a user's shell.
    FfFolder ff;
    writeDamagedFile(ff, 4000);
    writeFile(ff.mergedPath(), kEarlierMerged);
    RunResult run = runProgram("/bin/bash",
                               {"-c", "\"$0\" \"$1\" | head -c 10 > /dev/null; "
                                      "echo \"status ${PIPESTATUS[0]}\"",
                                programPath(), ff.path});
    EXPECT_EQ(run.output, "status 2\n");
    EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000001\r\n");
    EXPECT_NE(ff.merged().find("FF_c9_m1"), std::string::npos);
    EXPECT_FALSE(ff.stagingLeft());
}

TEST(InterruptedRun, ClosedStandardStreamsAreNoPlaceForTheRunsFiles) {
    // Damage messages make the run write to standard output while the
    // merged file is open.
    FfFolder ff;
    fillFolder(ff, 2, 3);
    writeDamagedFile(ff, 200);
    writeFile(ff.mergedPath(), kEarlierMerged);
    RunResult reference = runProgram(programPath(), {ff.path});
    ASSERT_EQ(reference.status, 2);
    const std::string complete = withoutTime(ff.merged());
    const std::string listing = readFile(ff.file("MergeListing_KELdetectinfo.txt"));
    for (const char* closed : {">&-", "2>&-", "<&-", "<&- >&- 2>&-"}) {
        writeFile(ff.mergedPath(), kEarlierMerged);
        RunResult run = runProgram(
            "/bin/bash", {"-c", std::string("exec \"$0\" \"$1\" ") + closed, programPath(), ff.path});
        EXPECT_EQ(run.status, 2) << closed;
        EXPECT_TRUE(withoutTime(ff.merged()) == complete) << closed;
        EXPECT_EQ(readFile(ff.file("MergeListing_KELdetectinfo.txt")), listing) << closed;
    }

    // With standard input closed, a wait for the user ends at once.
    std::filesystem::remove(ff.mergedPath());
    makeFolders(ff.mergedPath());
    RunResult waited =
        runProgram("/bin/bash", {"-c", "exec \"$0\" \"$1\" <&-", programPath(), ff.path});
    EXPECT_EQ(waited.status, 1);
    EXPECT_NE(waited.output.find(" for writing \n"), std::string::npos) << waited.output;
}

}  // namespace
