// Several FF folders in one run: each merged in the order given under one
// banner, one tally at the end, and relative folders shown as whole paths.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "ff_folder.h"
#include "run_program.h"
#include "test_files.h"

namespace {

// What a folder of a test holds, and so how its merge ends.
enum class Night { Whole, LeftOut, Empty, Failed };

// Makes FF folder `name` below `ffRoot` (a HALD/ff folder) and returns its path.
std::string makeNight(const std::string& ffRoot, const std::string& name, Night kind) {
    const std::string folder = ffRoot + "/" + name;
    makeFolders(folder);
    if (kind == Night::Whole || kind == Night::LeftOut) {
        writeFile(folder + "/KELdetectinfo_0001_a.txt", perCameraHeader(1) + perCameraRecord(1, 1, 1));
    }
    if (kind == Night::Whole) {
        writeFile(folder + "/KELdetectinfo_0002_b.txt", perCameraHeader(1) + perCameraRecord(2, 1, 0));
    }
    if (kind == Night::LeftOut) {
        writeFile(folder + "/KELdetectinfo_abc.txt", perCameraHeader(1) + perCameraRecord(3, 1, 0));
    }
    if (kind == Night::Failed) {
        // The merged file's name is taken by a folder: it cannot be created.
        writeFile(folder + "/KELdetectinfo_0001_a.txt", perCameraHeader(1) + perCameraRecord(1, 1, 1));
        makeFolders(folder + "/KELdetectinfo_0000_" + name + ".txt");
    }
    return folder;
}

std::string mergedPathOf(const std::string& folder, const std::string& name) {
    return folder + "/KELdetectinfo_0000_" + name + ".txt";
}

// Line 1 of a merged file, or a note that there is none.
std::string countLine(const std::string& mergedPath) {
    return fileExists(mergedPath) ? readFile(mergedPath).substr(0, 23) : "no merged file";
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(ManyFolders, EachFolderInTurnThenOneTally) {
    // The failed folder comes second: the folders after it are merged all the same.
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff";
    const std::string whole = makeNight(ff, "night1", Night::Whole);
    const std::string failed = makeNight(ff, "night2", Night::Failed);
    const std::string leftOut = makeNight(ff, "night3", Night::LeftOut);
    const std::string empty = makeNight(ff, "night4", Night::Empty);

    RunResult run = runProgram(programPath(), {whole, failed, leftOut, empty});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output,
              kBanner + mergedLine(2, 2, mergedPathOf(whole, "night1")) +
                  " Cannot open KEL detection log file " + mergedPathOf(failed, "night2") +
                  " for writing \n (Is a directory) \n" +
                  " File " + leftOut + "/KELdetectinfo_abc.txt has no camera number in its name; not merged \n" +
                  mergedLine(1, 1, mergedPathOf(leftOut, "night3")) +
                  " Not merged in folder " + leftOut + "/: 0 damaged record(s); 1 listed file(s) "
                  "refused or not read to their end \n" +
                  " No per-camera files (KELdetectinfo_<camera>_<text>.txt) in folder " + empty + "/ \n" +
                  mergedLine(0, 0, mergedPathOf(empty, "night4")) +
                  "\n Tally of 4 folders: 1 merged whole, 1 with something left out, 1 with no "
                  "per-camera files, 1 failed \n" +
                  " Failed: " + failed + "/ (merged file cannot be created) \n" +
                  " Left out: " + leftOut + "/ (1 file left out) \n" +
                  " No per-camera files: " + empty + "/ \n");
    EXPECT_EQ(countLine(mergedPathOf(whole, "night1")), "Meteor Count = 000002\r\n");
    EXPECT_EQ(countLine(mergedPathOf(leftOut, "night3")), "Meteor Count = 000001\r\n");
    EXPECT_EQ(countLine(mergedPathOf(empty, "night4")), "Meteor Count = 000000\r\n");
}

struct StatusCase {
    std::vector<Night> nights;
    int status;
    std::string tally;
};

TEST(ManyFolders, StatusIsTheWorstOutcome) {
    const std::vector<StatusCase> cases = {
        {{Night::Whole, Night::Whole}, 0, "2 folders: 2 merged whole, 0 with something left out, 0 with no per-camera files, 0 failed"},
        {{Night::Whole, Night::Empty}, 0, "2 folders: 1 merged whole, 0 with something left out, 1 with no per-camera files, 0 failed"},
        {{Night::Empty, Night::LeftOut, Night::Whole}, 2, "3 folders: 1 merged whole, 1 with something left out, 1 with no per-camera files, 0 failed"},
        {{Night::Failed, Night::Whole}, 1, "2 folders: 1 merged whole, 0 with something left out, 0 with no per-camera files, 1 failed"},
        {{Night::LeftOut, Night::Failed, Night::LeftOut}, 1, "3 folders: 0 merged whole, 2 with something left out, 0 with no per-camera files, 1 failed"},
    };
    for (const StatusCase& entry : cases) {
        TempFolder temp;
        std::vector<std::string> folders;
        for (Night kind : entry.nights) {
            folders.push_back(makeNight(temp.path + "/HALD/ff", "night" + std::to_string(folders.size() + 1), kind));
        }
        RunResult run = runProgram(programPath(), folders);
        EXPECT_EQ(run.status, entry.status) << entry.tally << "\n" << run.output;
        EXPECT_NE(run.output.find("\n Tally of " + entry.tally + " \n"), std::string::npos)
            << entry.tally << "\n" << run.output;
        EXPECT_EQ(occurrences(run.output, kBanner), 1U) << run.output;
    }
}

TEST(ManyFolders, FolderNamedAgainIsMergedOnce) {
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff";
    const std::string folder = makeNight(ff, "a", Night::Whole);
    ASSERT_EQ(symlink("a", (ff + "/link").c_str()), 0);  // the same folder by another name
    RunOptions options;
    options.workingFolder = ff;
    RunResult run = runProgram(programPath(), {"a", "a/", "./a", "link"}, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + mergedLine(2, 2, mergedPathOf(folder, "a")) +
                              " FF folder a/ is " + folder + "/ again; merged once \n" +
                              " FF folder ./a is " + folder + "/ again; merged once \n" +
                              " FF folder link is " + ff + "/link/ again; merged once \n" +
                              "\n Tally of 1 folder: 1 merged whole, 0 with something left out, 0 "
                              "with no per-camera files, 0 failed \n");
}

TEST(ManyFolders, NeverWaitsForTheKeyboard) {
    // Standard input stays open and silent, as a terminal where nobody types:
    // the failed folder's run would wait for a number, and no folder is asked for.
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff";
    const std::string failed = makeNight(ff, "night1", Night::Failed);
    const std::string whole = makeNight(ff, "night2", Night::Whole);
    StartedProgram started = startProgram(programPath(), {failed, whole});
    const bool ended = !stillRunningAfter(started, 10000);
    EXPECT_TRUE(ended) << "the run waited for the keyboard";
    RunResult run = finishProgram(started);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output.find("Enter"), std::string::npos) << run.output;
    EXPECT_EQ(countLine(mergedPathOf(whole, "night2")), "Meteor Count = 000002\r\n");
}

struct RelativeCase {
    std::string workingFolder;  // below the test's folder
    std::string argument;
    std::string shownFolder;    // the FF folder as header and messages show it
};

TEST(ManyFolders, RelativeFolderIsShownAsAWholePath) {
    // Against the process's current folder; `.` and `..` resolved by name,
    // a link in the typed part kept as typed.
    const std::vector<RelativeCase> cases = {
        {"/HALD/ff", "night1", "/HALD/ff/night1/"},
        {"/HALD/ff/night1", ".", "/HALD/ff/night1/"},
        {"/HALD/ff/other", "../night1", "/HALD/ff/night1/"},
        {"/HALD", "ff/./night1/", "/HALD/ff/night1/"},
        {"/HALD", "nights/other/../night1", "/HALD/nights/night1/"},
    };
    for (const RelativeCase& entry : cases) {
        FfFolder ff;
        makeFolders(ff.temp.path + "/HALD/ff/other");
        ASSERT_EQ(symlink("ff", (ff.temp.path + "/HALD/nights").c_str()), 0);
        writeFile(ff.file("KELdetectinfo_0001_a.txt"), perCameraHeader(1) + perCameraRecord(1, 1, 0));
        RunOptions options;
        options.workingFolder = ff.temp.path + entry.workingFolder;
        RunResult run = runProgram(programPath(), {entry.argument}, options);
        const std::string shown = ff.temp.path + entry.shownFolder;
        EXPECT_EQ(run.status, 0) << entry.argument;
        EXPECT_EQ(run.output, kBanner + kDone + mergedLine(1, 1, shown + "KELdetectinfo_0000_night1.txt"))
            << entry.argument;
        const std::string header = mergedHeader(1, shown, ff.temp.path + "/HALD/Cal/");
        EXPECT_EQ(withoutTime(ff.merged()).substr(0, header.size()), header) << entry.argument;
    }
}

TEST(ManyFolders, FolderAboveTheNightsShowsHowToMergeThem) {
    // Two nights below hold per-camera files; a folder of notes and one
    // that holds only a merged file do not count.
    TempFolder temp;
    const std::string ff = temp.path + "/HALD/ff";
    makeNight(ff, "night1", Night::Whole);
    makeNight(ff, "night2", Night::LeftOut);
    makeFolders(ff + "/notes");
    makeFolders(ff + "/old");
    writeFile(ff + "/old/KELdetectinfo_0000_old.txt", perCameraHeader(1) + perCameraRecord(1, 1, 0));
    RunResult run = runProgram(programPath(), {ff});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, kBanner + kDone +
                              " No per-camera files (KELdetectinfo_<camera>_<text>.txt) in folder " + ff + "/ \n" +
                              " 2 folders below it hold per-camera files; to merge them: "
                              "kel_combine_detectinfo " + ff + "/*/ \n" +
                              mergedLine(0, 0, mergedPathOf(ff, "ff")));
}

}  // namespace
