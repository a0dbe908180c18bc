// Every way a run ends with status 1 once it has begun to work on the
// folder: the message, the wait for the user that follows it, and the
// merged file, which keeps what an earlier run made of it. Failures of the
// system are caused with strace (inject=SYSCALL:error=...), with no hook in
// the program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ff_folder.h"
#include "run_program.h"
#include "test_files.h"

namespace {

enum class Wait { ForCharacter, ForNumber };

const char kEarlierMerged[] = "Meteor Count = 000001\r\nthe merged file of an earlier run\r\n";

// The folder of every case: three per-camera files, and the earlier merged
// file unless the case says otherwise.
struct Folder : FfFolder {
    explicit Folder(bool earlier) {
        for (int camera = 1; camera <= 3; ++camera) {
            writeFile(file("KELdetectinfo_000" + std::to_string(camera) + "_x.txt"),
                      perCameraHeader(1) + perCameraRecord(camera, 1, 2));
        }
        if (earlier) {
            writeFile(mergedPath(), kEarlierMerged);
        }
    }
    std::string staging;  // the run's temporary merged file, once it runs
    std::string listing() const { return file("MergeListing_KELdetectinfo.txt"); }
    // Lets user nobody write the folder and its merged file.
    void openToEveryone() const {
        for (const std::string& folder :
             {temp.path, temp.path + "/HALD", temp.path + "/HALD/ff", path}) {
            chmod(folder.c_str(), 0777);
        }
        chmod(mergedPath().c_str(), 0666);
    }
};

// What the program is started as: the program itself, or strace running
// it with one system call on one path made to fail.
struct Command {
    std::string program;
    std::vector<std::string> arguments;
};

Command plain(const Folder& ff) {
    return {programPath(), {ff.path}};
}

// An empty `path` fails the call whatever it works on: a call that the
// run makes on one file only, by a name relative to the held folder that
// -P would not know.
Command failing(const Folder& ff, const std::string& path, const std::string& injection) {
    std::vector<std::string> arguments{"-f", "-o", "/dev/null", "-e", "inject=" + injection,
                                       programPath(), ff.path};
    if (!path.empty()) {
        arguments.insert(arguments.begin() + 3, {"-P", path});
    }
    return {stracePath(), arguments};
}

// strace fails a call on the run's temporary merged file.
// renameat names it relative to the folder: strace matches that call by the
// folder (`byFolder`).
Command failingOnStaging(const Folder& ff, const std::string& injection, bool byFolder = false) {
    std::vector<std::string> options{"-e", "inject=" + injection};
    if (byFolder) {
        options.insert(options.end(), {"-P", ff.path});
    }
    const TracedRun traced = tracedOnStaging(ff, options);
    return {traced.program, traced.arguments};
}

struct FailureExit {
    std::string name;
    // Sets the folder up for the failure and says how the program starts.
    std::function<Command(Folder&, RunOptions&)> setUp;
    // What follows the banner.
    std::function<std::string(const Folder&)> message;
    Wait wait;
    bool earlier = true;           // an earlier merged file is there
    bool newFileNamed = false;     // the new merged file got its name before the failure
};

void PrintTo(const FailureExit& exit, std::ostream* out) {
    *out << exit.name;
}

const char kEarlierListing[] = "KELdetectinfo_0001_x.txt\r\n";
const std::string kTypeANumber = " Type a number and Enter to exit program \n";
const std::string kEnterCr = " Enter CR to exit program \n";

// A step on the run's temporary merged file failed: that file is named.
std::string cannotWrite(const Folder& ff, const std::string& reason,
                        const std::string& step = "write") {
    std::string message = " Cannot " + step + " temporary file " + ff.staging;
    if (step == "flush") {
        message += " to disk";
    } else if (step == "rename") {
        message += " to " + ff.mergedPath();
    }
    return message + " (" + reason + ") \n" + kTypeANumber;
}

std::string cannotCreate(const Folder& ff, const std::string& reason) {
    return " Cannot open KEL detection log file " + ff.mergedPath() + " for writing \n (" +
           reason + ") \n" + kTypeANumber;
}

std::string cannotWriteListing(const Folder& ff, const std::string& reason) {
    return " Cannot write KELdetectinfo directory listing file " + ff.listing() + " (" + reason +
           ") \n\n Enter CR to exit program \n";
}

std::string cannotOpen(const Folder& ff) {
    return " Cannot open file " + ff.file("KELdetectinfo_0002_x.txt") +
           " for reading \n (Permission denied) \n\n Enter CR to exit program \n";
}

// A per-camera file of 1,500 records, so that the merged file is written
// in several parts.
void makeLarge(Folder& ff) {
    std::string records;
    for (int meteor = 1; meteor <= 1500; ++meteor) {
        records += perCameraRecord(1, meteor, 2);
    }
    writeFile(ff.file("KELdetectinfo_0001_x.txt"), perCameraHeader(1500) + records);
}

const FailureExit kFailureExits[] = {
    {"MergedNameIsAFolder",
     [](Folder& ff, RunOptions&) {
         makeFolders(ff.mergedPath());
         return plain(ff);
     },
     [](const Folder& ff) { return cannotCreate(ff, "Is a directory"); }, Wait::ForNumber, false},
    {"MergedFileIsReadOnly",
     [](Folder& ff, RunOptions& options) {
         ff.openToEveryone();
         chmod(ff.mergedPath().c_str(), 0444);
         options.unprivileged = true;
         return plain(ff);
     },
     [](const Folder& ff) { return cannotCreate(ff, "Permission denied"); }, Wait::ForNumber},
    {"FileSizeLimitMidRun",
     [](Folder& ff, RunOptions& options) {
         makeLarge(ff);
         options.fileSizeLimit = 300000;
         return plain(ff);
     },
     [](const Folder& ff) { return cannotWrite(ff, "File too large"); }, Wait::ForNumber},
    {"FileSizeLimitAtTheLastWrite",
     [](Folder& ff, RunOptions& options) {
         makeLarge(ff);
         options.fileSizeLimit = 2000;
         return plain(ff);
     },
     [](const Folder& ff) { return cannotWrite(ff, "File too large"); }, Wait::ForNumber},
    {"DiskFull",
     [](Folder& ff, RunOptions&) {
         return failingOnStaging(ff, "write:error=ENOSPC:when=1");
     },
     [](const Folder& ff) { return cannotWrite(ff, "No space left on device"); }, Wait::ForNumber},
    {"FlushToDiskFails",
     [](Folder& ff, RunOptions&) { return failingOnStaging(ff, "fsync:error=EIO"); },
     [](const Folder& ff) { return cannotWrite(ff, "Input/output error", "flush"); },
     Wait::ForNumber},
    {"CloseFails",
     [](Folder& ff, RunOptions&) { return failingOnStaging(ff, "close:error=EIO"); },
     [](const Folder& ff) { return cannotWrite(ff, "Input/output error", "close"); },
     Wait::ForNumber},
    {"RenameFails",
     // The merged file's rename: the second renameat through the folder, after
     // the listing's.
     [](Folder& ff, RunOptions&) { return failingOnStaging(ff, "renameat:error=EIO:when=2", true); },
     [](const Folder& ff) { return cannotWrite(ff, "Input/output error", "rename"); },
     Wait::ForNumber},
    {"FolderFlushFails",
     [](Folder& ff, RunOptions&) { return failing(ff, ff.path, "fsync:error=EIO"); },
     [](const Folder& ff) {
         return " KEL detection log file " + ff.mergedPath() +
                " was written, but its folder could not be flushed to disk (Input/output "
                "error) \n" +
                kTypeANumber;
     },
     Wait::ForNumber, true, true},
    {"ListingInReadOnlyFolder",
     [](Folder& ff, RunOptions& options) {
         ff.openToEveryone();
         chmod(ff.path.c_str(), 0555);
         options.unprivileged = true;
         return plain(ff);
     },
     [](const Folder& ff) {
         // The folder, which takes no new file, is the obstacle, and named.
         return " Cannot create the KELdetectinfo directory listing in folder " + ff.path +
                "/ (Permission denied) \n\n Enter CR to exit program \n";
     },
     Wait::ForCharacter},
    {"ListingBeyondFileSizeLimit",
     [](Folder& ff, RunOptions& options) {
         options.fileSizeLimit = 10;
         return plain(ff);
     },
     [](const Folder& ff) { return cannotWriteListing(ff, "File too large"); },
     Wait::ForCharacter},
    {"ListingRenameFails",
     // The listing written aside cannot take its name: the earlier one stays.
     [](Folder& ff, RunOptions&) {
         writeFile(ff.listing(), kEarlierListing);
         return failing(ff, "", "renameat:error=EIO");
     },
     [](const Folder& ff) { return cannotWriteListing(ff, "Input/output error"); },
     Wait::ForCharacter},
    {"PerCameraFileCannotBeOpened",
     [](Folder& ff, RunOptions& options) {
         ff.openToEveryone();
         chmod(ff.file("KELdetectinfo_0002_x.txt").c_str(), 0);
         options.unprivileged = true;
         return plain(ff);
     },
     cannotOpen, Wait::ForCharacter},
    {"PerCameraFileCannotBeOpenedInAFolderNeverMerged",
     [](Folder& ff, RunOptions& options) {
         ff.openToEveryone();
         chmod(ff.file("KELdetectinfo_0002_x.txt").c_str(), 0);
         options.unprivileged = true;
         return plain(ff);
     },
     cannotOpen, Wait::ForCharacter, false},
};

class FailureExits : public testing::TestWithParam<FailureExit> {};

TEST_P(FailureExits, ReportWaitAndLeaveTheEarlierMergedFile) {
    const FailureExit& exit = GetParam();
    Folder ff(exit.earlier);
    RunOptions options;
    const Command command = exit.setUp(ff, options);
    StartedProgram started = startProgram(command.program, command.arguments, options);
    ff.staging = ff.stagingPrefix() + std::to_string(started.pid) + ".tmp";
    const std::string message = exit.message(ff);

    ASSERT_TRUE(readUntil(started, message)) << started.seen;
    if (exit.wait == Wait::ForNumber) {
        sendInput(started, "\n  \n");
        EXPECT_TRUE(stillRunningAfter(started, 300)) << "Enter alone ended the wait for a number";
        sendInput(started, "7\n");
    } else {
        EXPECT_TRUE(stillRunningAfter(started, 300)) << "the run did not wait";
        sendInput(started, "x");
    }
    EXPECT_FALSE(stillRunningAfter(started, 5000)) << "the answer did not end the wait";
    const RunResult run = finishProgram(started);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, kBanner + message);

    EXPECT_FALSE(ff.stagingLeft());
    for (const auto& entry : std::filesystem::directory_iterator(ff.path)) {
        EXPECT_EQ(entry.path().extension(), ".txt") << "left behind: " << entry.path();
    }
    if (fileExists(ff.listing())) {  // the earlier listing, or a whole one
        const std::string listing = readFile(ff.listing());
        EXPECT_TRUE(listing == kEarlierListing ||
                    listing.ends_with("KELdetectinfo_0003_x.txt\r\n"))
            << listing;
    }
    if (exit.newFileNamed) {
        EXPECT_EQ(ff.merged().substr(0, 23), "Meteor Count = 000003\r\n");
    } else if (std::filesystem::is_directory(ff.mergedPath())) {
        EXPECT_TRUE(std::filesystem::is_empty(ff.mergedPath()));
    } else if (exit.earlier) {
        EXPECT_EQ(ff.merged(), kEarlierMerged);
    } else {
        EXPECT_FALSE(fileExists(ff.mergedPath()));
    }
}

INSTANTIATE_TEST_SUITE_P(Run, FailureExits, testing::ValuesIn(kFailureExits),
                         [](const testing::TestParamInfo<FailureExit>& param) {
                             return param.param.name;
                         });

}  // namespace
