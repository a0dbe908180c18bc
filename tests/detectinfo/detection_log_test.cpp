// The merged file as the log module leaves it: header, records, count.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <regex>
#include <string>

#include "detection_log.h"
#include "ff_folder.h"
#include "record_format.h"
#include "record_io.h"
#include "test_files.h"

namespace {

const char kHeaderPattern[] =
    "Meteor Count = 000000\r\n"
    "-----------------------------------------------------\r\n"
    "Processed with KEL 1\\.6 on (Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
    "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-3][0-9] "
    "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\r\n"
    "-----------------------------------------------------\r\n"
    "FF  folder = [^\r]*\r\n"
    "CAL folder = /data/HALD/Cal/\r\n"
    "-----------------------------------------------------\r\n"
    "FF  file processed\r\n"
    "CAL file processed\r\n"
    "Cam# Meteor# #Segments fps hnr mle bin Pix/fm Rho Phi\r\n"
    "Per segment:  Frame# Col Row RA Dec Azim Elev Inten\r\n";

// A record of two segments, as the reader fills it.
std::unique_ptr<DetectionRecord> sampleRecord(int meteor) {
    auto record = std::make_unique_for_overwrite<DetectionRecord>();
    EXPECT_EQ(readFirstRecord(perCameraHeader(1) + perCameraRecord(3, meteor, 2), *record),
              ReadStatus::Record);
    return record;
}

// The log's place, `folder` held open as a run holds it, and what the
// log says of its calls there.
struct LogTarget {
    explicit LogTarget(const std::string& folder, const std::string& merged = "merged.txt")
        : descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        place = LogPlace{descriptor, folder + "/", merged, true};
    }
    ~LogTarget() { close(descriptor); }
    LogTarget(const LogTarget&) = delete;
    LogTarget& operator=(const LogTarget&) = delete;
    bool open() { return openDetectionLog(place, "/data/HALD/Cal/", notes, failure); }
    FinishResult finish(std::int32_t count) { return finishDetectionLog(count, failure); }
    int descriptor;
    LogPlace place;
    LogNotes notes;
    LogFailure failure;
};

std::string header(const std::string& file) {
    std::size_t end = 0;
    for (int line = 0; line < 11; ++line) {
        end = file.find('\n', end) + 1;
    }
    return file.substr(0, end);
}

TEST(DetectionLog, EmptyLogIsTheElevenHeaderLines) {
    TempFolder folder;
    const std::string path = folder.path + "/merged.txt";
    LogTarget log(folder.path);
    writeFile(path, "an older file, longer than the header that replaces it\n" +
                        std::string(5000, 'x'));
    ASSERT_TRUE(log.open());
    ASSERT_EQ(log.finish(0), FinishResult::Finished);
    std::string file = readFile(path);
    EXPECT_TRUE(std::regex_match(file, std::regex(kHeaderPattern))) << file;
    EXPECT_NE(file.find("\r\nFF  folder = " + folder.path + "/\r\n"), std::string::npos);
}

// The lines of sampleRecord(meteor) in the merged file: the texts padded,
// the numbers in the written layout (fps 25.00 becomes 0025.00, the frame
// 010.0 becomes 0010.0), every line ending in CR LF.
std::string expectedRecord(char meteor) {
    std::string lines =
        "-------------------------------------------------------\r\n"
        "FF_c3_m?.fits                         \r\n"
        "CAL_c3.txt                 \r\n"
        "0003 000? 0002 0025.00 010.0 005.0 001.0 003.5 0100.0 0200.0\r\n"
        "0010.0 0100.25 0200.50 045.00 -10.50 180.00 030.00 001000\r\n"
        "0011.0 0100.25 0200.50 045.00 -10.50 180.00 030.00 001001\r\n";
    for (std::size_t at = lines.find('?'); at != std::string::npos; at = lines.find('?', at)) {
        lines[at] = meteor;
    }
    return lines;
}

TEST(DetectionLog, RecordsFollowTheHeaderAndTheCountFillsLineOne) {
    TempFolder folder;
    const std::string path = folder.path + "/merged.txt";
    LogTarget log(folder.path);
    ASSERT_TRUE(log.open());
    for (int meteor = 1; meteor <= 3; ++meteor) {
        ASSERT_TRUE(writeDetectionRecord(*sampleRecord(meteor)));
    }
    ASSERT_EQ(log.finish(3), FinishResult::Finished);
    std::string file = readFile(path);
    std::string head = header(file);
    EXPECT_EQ(head.substr(0, 23), "Meteor Count = 000003\r\n");
    EXPECT_EQ(file.substr(head.size()),
              expectedRecord('1') + expectedRecord('2') + expectedRecord('3'));
}

TEST(DetectionLog, CountBeyondSixDigitsWidensLineOneAndMovesNothingElse) {
    // Enough records that the move crosses several buffer-sized blocks.
    TempFolder folder;
    const std::string path = folder.path + "/merged.txt";
    LogTarget log(folder.path);
    ASSERT_TRUE(log.open());
    for (int meteor = 1; meteor <= 4000; ++meteor) {
        ASSERT_TRUE(writeDetectionRecord(*sampleRecord(meteor)));
    }
    ASSERT_EQ(log.finish(0), FinishResult::Finished);
    const std::string six = readFile(path);

    for (std::int32_t count : {1000000, 1234567, 2147483647}) {
        ASSERT_TRUE(log.open());
        for (int meteor = 1; meteor <= 4000; ++meteor) {
            ASSERT_TRUE(writeDetectionRecord(*sampleRecord(meteor)));
        }
        ASSERT_EQ(log.finish(count), FinishResult::Finished);
        std::string wide = readFile(path);
        std::string line1 = "Meteor Count = " + std::to_string(count) + "\r\n";
        EXPECT_EQ(wide.substr(0, line1.size()), line1);
        // Everything after line 1 moved on whole; only the time of
        // creation in line 3 may differ by a second between the two files.
        std::size_t shift = line1.size() - kCountLineLength;
        std::size_t line3 = six.find("Processed");
        std::size_t line4 = six.find('\n', line3) + 1;
        EXPECT_EQ(wide.size(), six.size() + shift);
        EXPECT_EQ(wide.substr(kCountLineLength + shift, line3 - kCountLineLength),
                  six.substr(kCountLineLength, line3 - kCountLineLength));
        EXPECT_EQ(wide.substr(line4 + shift), six.substr(line4));
    }
}

// A process number that no process has any longer.
long goneProcess() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

TEST(DetectionLog, NameHoldsTheEarlierFileUntilTheNewOneIsFinished) {
    TempFolder folder;
    const std::string path = folder.path + "/KELdetectinfo_0000_night1.txt";
    LogTarget log(folder.path, "KELdetectinfo_0000_night1.txt");
    const std::string earlier = "the earlier merged file\r\n";
    writeFile(path, earlier);
    chmod(path.c_str(), 0640);
    // Left by a killed run of this computer, by one of another computer,
    // and by an earlier version, whose run held the same folder lock.
    const std::string stem = folder.path + "/KELdetectinfo_0000_night1.";
    const std::string killed = stem + hostForFiles() + "." + std::to_string(goneProcess()) + ".tmp";
    const std::string elsewhere = stem + "othercomputer.4242.tmp";
    for (const std::string& left : {killed, elsewhere, stem + "tmp"}) {
        writeFile(left, "left by a run that was killed: " + std::string(5000, 'x'));
    }

    ASSERT_TRUE(log.open());
    const std::string staging = folder.path + "/" + log.notes.stagingName;
    EXPECT_EQ(staging, stem + hostForFiles() + "." + std::to_string(getpid()) + ".tmp");
    EXPECT_FALSE(fileExists(killed));
    EXPECT_FALSE(fileExists(stem + "tmp"));
    ASSERT_EQ(log.notes.leftAlone.shown.size(), 1u);
    EXPECT_EQ(log.notes.leftAlone.shown[0].path, elsewhere);
    ASSERT_TRUE(writeDetectionRecord(*sampleRecord(1)));
    EXPECT_EQ(readFile(path), earlier);
    abandonDetectionLog(log.failure);
    EXPECT_TRUE(log.failure.notRemoved.empty());
    EXPECT_EQ(readFile(path), earlier);
    EXPECT_FALSE(fileExists(staging));

    ASSERT_TRUE(log.open());
    EXPECT_EQ(readFile(path), earlier);
    ASSERT_EQ(log.finish(0), FinishResult::Finished);
    EXPECT_TRUE(std::regex_match(readFile(path), std::regex(kHeaderPattern)));
    EXPECT_FALSE(fileExists(staging));
    EXPECT_TRUE(fileExists(elsewhere)) << "another computer's run may still use it";
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u) << "the new file keeps the earlier one's permissions";
}

TEST(DetectionLog, UncreatableFileIsReportedWithTheTemporaryFile) {
    TempFolder folder;
    const std::string gone = folder.path + "/gone";
    makeFolders(gone);
    LogTarget log(gone);
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    EXPECT_FALSE(log.open());
    EXPECT_EQ(log.failure.reason, std::strerror(ENOENT));
    EXPECT_EQ(log.failure.step, LogStep::Create);
    EXPECT_FALSE(log.failure.atMergedFile);
    EXPECT_EQ(log.failure.path, gone + "/merged." + hostForFiles() + "." +
                                              std::to_string(getpid()) + ".tmp");
}

}  // namespace
