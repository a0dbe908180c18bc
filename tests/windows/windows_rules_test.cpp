// The Windows program where Windows' own rules meet the user's folders: a
// listing of an earlier run that cannot be replaced, folder names that the
// command interpreter would expand, path forms it cannot list, and
// characters that the ANSI code page has no place for.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"
#include "wine_program.h"

namespace {

const std::string kListingName = "MergeListing_KELdetectinfo.txt";
const std::string kExampleListing =
    "KELdetectinfo_0001_20261130_HALD01.txt\r\n"
    "KELdetectinfo_0002_20261130_HALD02.txt\r\n"
    "KELdetectinfo_0003_20261130_HALD03.txt\r\n";
// "Д" in UTF-8: Wine hands it to the program as '?', which the ANSI code
// page 1252 has in its place.
const std::string kCyrillic = "\xd0\x94";

// Linux's immutable flag on a file, for as long as the object lives: no
// one, root included, can then remove it. `set` is false where the flag
// cannot be set (not root, or a file system without it).
struct Immutable {
    explicit Immutable(const std::string& file) : path(file) { set = change(true); }
    ~Immutable() {
        if (set) {
            change(false);
        }
    }
    Immutable(const Immutable&) = delete;
    Immutable& operator=(const Immutable&) = delete;

    bool change(bool on) const {
        const int fd = open(path.c_str(), O_RDONLY);
        int flags = 0;
        bool changed = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        changed = changed && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) {
            close(fd);
        }
        return changed;
    }
    std::string path;
    bool set = false;
};

// A listing left by an earlier run that cannot be replaced: the run ends,
// saying why, before the merged file, and the earlier listing stays whole.
TEST(WindowsListing, AnEarlierListingThatCannotBeReplacedEndsTheRunFirst) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    const std::string listing = ff + "/" + kListingName;
    const std::string earlier = "KELdetectinfo_0001_20261130_HALD01.txt\r\n";
    const std::string expectedStart = kBanner +
                                      " Cannot write KELdetectinfo directory listing file " +
                                      windowsPath(listing) + " (";

    auto checkRefused = [&](const std::string& what) {
        SCOPED_TRACE(what);
        RunResult run = runWindowsProgram({windowsPath(ff)}, options("\n"));
        EXPECT_EQ(run.status, 1);
        // The reason is the system's own text, which differs between
        // Windows and Wine ("Access is denied", "Access denied").
        EXPECT_EQ(run.output.substr(0, expectedStart.size()), expectedStart) << run.output;
        EXPECT_GT(run.output.size(), expectedStart.size() + 4);
        const std::string end = ") \n\n Enter CR to exit program \n";
        ASSERT_GT(run.output.size(), end.size());
        EXPECT_EQ(run.output.substr(run.output.size() - end.size()), end) << run.output;
        EXPECT_FALSE(fileExists(ff + "/KELdetectinfo_0000_night1.txt"));
        EXPECT_EQ(readFile(listing), earlier);
    };

    // Immutable: Linux refuses Wine the rename over it. (Windows also
    // refuses to replace a read-only file, which Wine replaces.)
    writeFile(listing, earlier);
    {
        Immutable immutable(listing);
        if (immutable.set) {
            checkRefused("immutable");
        } else {
            std::printf("immutable listing not tried: the flag cannot be set here\n");
        }
    }

    // Once the listing can be replaced, the run lists the folder anew.
    RunResult run = runWindowsProgram({windowsPath(ff)});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + kDone +
                              mergedLine(6, 3, windowsPath(ff) + "\\KELdetectinfo_0000_night1.txt"));
    EXPECT_EQ(readFile(listing), kExampleListing);
}

// The command interpreter expands %NAME% even inside double quotes, and
// takes & ^ ( ) ! ; , = and blanks as its own unless they are quoted.
TEST(WindowsListing, FolderNamesReachTheCommandInterpreterUnchanged) {
    TempFolder temp;
    for (const std::string name :
         {"p%OS%q", "%PATH%", "lone%", "a%%b", "x & y^z (1) !v! ;,="}) {
        SCOPED_TRACE(name);
        const std::string ff = temp.path + "/HALD/ff/" + name;
        copyExample(ff);
        RunResult run = runWindowsProgram({windowsPath(ff)});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, kBanner + kDone +
                                  mergedLine(6, 3, windowsPath(ff) + "\\KELdetectinfo_0000_" + name + ".txt"));
        EXPECT_EQ(readFile(ff + "/" + kListingName), kExampleListing);
        const std::string merged = ff + "/KELdetectinfo_0000_" + name + ".txt";
        ASSERT_TRUE(fileExists(merged)) << testing::PrintToString(namesIn(ff));
        const std::string text = readFile(merged);
        EXPECT_EQ(line(text, 1), "Meteor Count = 000006");
        EXPECT_EQ(line(text, 5), "FF  folder = " + windowsPath(ff) + "\\");
    }
}

// The command interpreter cannot list \\?\ and \\.\ paths: an empty listing
// would replace a good merged file with an empty one.
TEST(WindowsPaths, ExtendedAndDevicePathFormsAreRefusedBeforeAnythingIsWritten) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    copyExample(ff);
    const std::string merged = ff + "/KELdetectinfo_0000_night1.txt";
    writeFile(merged, "an earlier run's merged file\r\n");
    const std::vector<std::string> before = namesIn(ff);
    const std::string native = windowsPath(ff);
    for (const std::string& typed :
         {"\\\\?\\" + native, "\\\\.\\" + native, "//?/Z:" + ff, std::string("\\\\?\\UNC\\server\\share")}) {
        SCOPED_TRACE(typed);
        RunResult run = runWindowsProgram({typed}, options("\n"));
        EXPECT_EQ(run.status, 1);
        std::string shown = typed;
        for (char& c : shown) {
            c = c == '/' ? '\\' : c;
        }
        EXPECT_EQ(run.output, kBanner + " Cannot list folder " + shown +
                                  "\\: the command interpreter cannot list paths that begin "
                                  "with \\\\?\\ or \\\\.\\ \n");
        EXPECT_EQ(namesIn(ff), before);
        EXPECT_EQ(readFile(merged), "an earlier run's merged file\r\n");
    }
}

// A character that the ANSI code page has no place for reaches the program
// as '?', which no Windows path holds: such a path names some other
// folder, or none. Typed so, it is one folder; a '?' typed as such is a
// wildcard, and the folder it matches is refused the same way.
TEST(WindowsPaths, FoldersWithCharactersOutsideTheAnsiCodePageAreRefused) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night_" + kCyrillic;
    copyExample(ff);
    const std::string shown = windowsPath(temp.path) + "\\HALD\\ff\\night_?\\";
    const std::string refused = " FF folder " + shown + " holds characters that this program cannot use (shown as ?) \n";
    RunResult typed = runWindowsProgram({windowsPath(ff)}, options("\n"));
    EXPECT_EQ(typed.status, 1);
    EXPECT_EQ(typed.output, kBanner + refused);
    RunResult pattern = runWindowsProgram({windowsPath(temp.path) + "\\HALD\\ff\\night_?"}, options("\n"));
    EXPECT_EQ(pattern.status, 1);
    EXPECT_EQ(pattern.output, kBanner + refused +
                                  "\n Tally of 1 folder: 0 merged whole, 0 with something left out, 0 with no "
                                  "per-camera files, 1 failed \n Failed: " + shown + " (path cannot be used) \n");
    EXPECT_EQ(namesIn(ff), namesIn(KEL_EXAMPLE_FOLDER));
}

// A listed name that lost a character on its way through the listing
// cannot be opened: it is named and left out, and the rest merged. A
// merged file (camera 0) stays out without a word, as always.
TEST(WindowsListing, ListedNamesThatLostACharacterAreNamedAndNotMerged) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff/night1";
    makeFolders(ff);
    writeFile(ff + "/KELdetectinfo_0001_a.txt", perCameraHeader(1) + perCameraRecord(1, 1, 1));
    writeFile(ff + "/KELdetectinfo_0002_" + kCyrillic + ".txt",
              perCameraHeader(1) + perCameraRecord(2, 1, 0));
    writeFile(ff + "/KELdetectinfo_0000_" + kCyrillic + ".txt",
              perCameraHeader(1) + perCameraRecord(9, 1, 0));
    writeFile(ff + "/KELdetectinfo_0003_c.txt",
              perCameraHeader(2) + perCameraRecord(3, 1, 0) + perCameraRecord(3, 2, 2));
    RunResult run = runWindowsProgram({windowsPath(ff)});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, kBanner + " File " + windowsPath(ff) +
                              "\\KELdetectinfo_0002_?.txt has characters in its name that this "
                              "program cannot use; not merged \n" +
                              kDone +
                              mergedLine(3, 2, windowsPath(ff) + "\\KELdetectinfo_0000_night1.txt") +
                              notMergedLine(windowsPath(ff) + "\\", 0, 1));
    const std::string text = readFile(ff + "/KELdetectinfo_0000_night1.txt");
    EXPECT_EQ(line(text, 1), "Meteor Count = 000003");
    EXPECT_EQ(text.find("FF_c2_"), std::string::npos);
    EXPECT_EQ(text.find("FF_c9_"), std::string::npos);
}

}  // namespace
