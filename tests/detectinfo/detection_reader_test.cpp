// Reading per-camera files: what each record holds once read, shown as the
// record lines the merged file gets for it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "record_io.h"
#include "test_files.h"

namespace {


// One record in the layout's own written form (LF line ends).
const std::string kRecordA = kSeparator +
                             "FF_HALD01_20261130_021533.fits\n"
                             "CAL_HALD01.txt\n"
                             "0001 0007 0002 0025.00 012.4 008.1 001.0 004.7 0123.5 0271.2\n"
                             "0012.0 0345.67 0210.11 063.48 021.90 112.35 041.20 001534\n"
                             "0013.0 0349.91 0214.02 063.52 -21.86 112.41 041.15 001720\n";
// What the merged file holds for it: CR LF, texts padded to 38 and 27.
const std::string kMergedA = crlf(kSeparator +
                                  "FF_HALD01_20261130_021533.fits        \n"
                                  "CAL_HALD01.txt             \n"
                                  "0001 0007 0002 0025.00 012.4 008.1 001.0 004.7 0123.5 0271.2\n"
                                  "0012.0 0345.67 0210.11 063.48 021.90 112.35 041.20 001534\n"
                                  "0013.0 0349.91 0214.02 063.52 -21.86 112.41 041.15 001720\n");

const std::string kRecordB = kSeparator +
                             "FF_b.fits\n"
                             "CAL_b.txt\n"
                             "0002 0001 0000 0030.00 001.0 002.0 001.0 000.5 0010.0 -020.0\n";
const std::string kMergedB = crlf(kSeparator +
                                  "FF_b.fits                             \n"
                                  "CAL_b.txt                  \n"
                                  "0002 0001 0000 0030.00 001.0 002.0 001.0 000.5 0010.0 -020.0\n");

std::string file(const std::string& records) {
    return perCameraHeader(0) + records;
}

TEST(DetectionReader, ReadsRecordsAsWrittenInTheLayout) {
    ReadOutcome outcome = readAndWrite(file(kRecordA + kRecordB));
    EXPECT_EQ(outcome.records, 2);
    EXPECT_TRUE(outcome.damaged.empty());
    EXPECT_EQ(outcome.written, kMergedA + kMergedB);
}

TEST(DetectionReader, CrLfAndLfLineEndsReadTheSame) {
    ReadOutcome lf = readAndWrite(file(kRecordA + kRecordB));
    ReadOutcome crLf = readAndWrite(crlf(file(kRecordA + kRecordB)));
    EXPECT_EQ(crLf.records, 2);
    EXPECT_EQ(crLf.written, lf.written);
}

TEST(DetectionReader, BlankLinesLeadingBlanksAndSpreadNumbersChangeNothing) {
    const std::string odd = "\n\n   " + kSeparator +
                            "\t  FF_HALD01_20261130_021533.fits\n"
                            "\n"
                            "   CAL_HALD01.txt\n"
                            "0001 0007\n 0002 0025.00 012.4\n\n 008.1 001.0 004.7 0123.5 0271.2\n"
                            "0012.0 0345.67 0210.11 063.48 021.90 112.35 041.20 001534 0013.0\n"
                            "0349.91 0214.02 063.52 -21.86 112.41 041.15 001720   \n\n\n" +
                            "  " + kRecordB + "\n\n";
    ReadOutcome outcome = readAndWrite(file(odd));
    EXPECT_TRUE(outcome.damaged.empty());
    EXPECT_EQ(outcome.written, kMergedA + kMergedB);
}

TEST(DetectionReader, TextLinesKeepTrailingBlanksAndLoneCarriageReturns) {
    const std::string record = kSeparator + "FF_x.fits   \n" + "CAL\rx.txt\r\r\n" +
                               "1 2 0 25 1 2 3 4 5 6\n";
    ReadOutcome outcome = readAndWrite(file(record));
    ASSERT_EQ(outcome.records, 1);
    // Only the CR right before the LF belongs to the line end.
    EXPECT_NE(outcome.written.find("FF_x.fits                             \r\n"), std::string::npos);
    EXPECT_NE(outcome.written.find("CAL\rx.txt\r                 \r\n"), std::string::npos);
}

TEST(DetectionReader, EveryNumberFormStrtolAndStrtodTakeIsRead) {
    const std::string record = kSeparator + "FF_n.fits\nCAL_n.txt\n" +
                               "+3 -5 0002 5. .5 1e1 -0x1p3 inf -inf 0010\n"
                               "007 -0.125 2.675 nan 1E-2 +4.0 1e400 -08\n"
                               "1.5 2 3 4 5 6 7 +0\n";
    ReadOutcome outcome = readAndWrite(file(record));
    ASSERT_EQ(outcome.records, 1);
    EXPECT_EQ(outcome.written,
              crlf(kSeparator + "FF_n.fits                             \n" +
                   "CAL_n.txt                  \n" +
                   "0003 -005 0002 0005.00 000.5 010.0 -08.0   inf   -inf 0010.0\n"
                   "0007.0 -000.12 0002.67    nan 000.01 004.00    inf -00008\n"
                   "0001.5 0002.00 0003.00 004.00 005.00 006.00 007.00 000000\n"));
}

TEST(DetectionReader, ZeroFrameRateInAnyFormBecomesTheDefault) {
    for (const char* zero : {"0", "-0", "0.0", "-0.000", "0e7", "0x0p0", "+0"}) {
        const std::string record = kSeparator + "FF\nCAL\n1 1 0 " + zero + " 1 1 1 1 1 1\n";
        ReadOutcome outcome = readAndWrite(file(record));
        ASSERT_EQ(outcome.records, 1) << zero;
        EXPECT_NE(outcome.written.find("0001 0001 0000 0029.97 "), std::string::npos) << zero;
    }
}

TEST(DetectionReader, SegmentCountOfZeroOrBelowHasNoSegmentLines) {
    const std::string records = kSeparator + "FF_z\nCAL_z\n1 1 0 25 1 1 1 1 1 1\n" + kSeparator +
                                "FF_n\nCAL_n\n1 2 -3 25 1 1 1 1 1 1\n" + kRecordB;
    ReadOutcome outcome = readAndWrite(file(records));
    EXPECT_EQ(outcome.records, 3);
    EXPECT_TRUE(outcome.damaged.empty());
    EXPECT_NE(outcome.written.find("0001 0002 -003 0025.00"), std::string::npos);
    EXPECT_EQ(outcome.written.substr(outcome.written.size() - kMergedB.size()), kMergedB);
}

TEST(DetectionReader, FilesWithoutRecordsGiveNone) {
    for (const std::string& text : {std::string(), std::string("\n \n\t\n"), perCameraHeader(0),
                                     perCameraHeader(0) + "\n\n   \n"}) {
        ReadOutcome outcome = readAndWrite(text);
        EXPECT_EQ(outcome.records, 0);
        EXPECT_FALSE(outcome.headerCut);
    }
    ReadOutcome cut = readAndWrite(perCameraHeader(0).substr(0, 120));
    EXPECT_EQ(cut.records, 0);
    EXPECT_TRUE(cut.headerCut);
    // A separator alone at the end closes the file without a record.
    ReadOutcome trailing = readAndWrite(file(kRecordA + kSeparator));
    EXPECT_EQ(trailing.records, 1);
    EXPECT_TRUE(trailing.damaged.empty());
}

TEST(DetectionReader, HeaderIsTheFirstElevenNonBlankLines) {
    const std::string header = perCameraHeader(2);
    const std::string variants[] = {
        "\xEF\xBB\xBF" + header,                       // byte-order mark
        "\n\n" + header,                               // blank first lines
        "   " + header,                                // indented first line
        "Meteor Count = 1234567\n" + header.substr(header.find('\n') + 1),  // seven digits
        "Detections of another program\n" + header.substr(header.find('\n') + 1),
        crlf(header),
    };
    for (const std::string& variant : variants) {
        ReadOutcome outcome = readAndWrite(variant + kRecordA + kRecordB);
        EXPECT_EQ(outcome.records, 2) << variant.substr(0, 30);
        EXPECT_TRUE(outcome.damaged.empty()) << variant.substr(0, 30);
        EXPECT_EQ(outcome.written, kMergedA + kMergedB) << variant.substr(0, 30);
    }
}

TEST(DetectionReader, CtrlZEndsTheFile) {
    ReadOutcome outcome = readAndWrite(file(kRecordA + "\x1A" + kRecordB));
    EXPECT_EQ(outcome.records, 1);
    EXPECT_TRUE(outcome.damaged.empty());
    EXPECT_EQ(outcome.written, kMergedA);
}

TEST(DetectionReader, NulInATextLineIsDamage) {
    // Written as a C string the text would end at the NUL, and a leading
    // NUL would leave a blank line that shifts the merged file.
    const std::string nul(1, '\0');
    for (const std::string& texts : {"FF_a" + nul + "junk\nCAL\n", nul + "FF_a\nCAL\n",
                                     "FF_a\nCAL" + nul + "\n"}) {
        ReadOutcome outcome =
            readAndWrite(file(kSeparator + texts + "1 1 0 25 1 1 1 1 1 1\n" + kRecordB));
        EXPECT_EQ(outcome.records, 1);
        EXPECT_EQ(outcome.written, kMergedB);
        ASSERT_EQ(outcome.damaged.size(), 1u);
        EXPECT_NE(outcome.damaged[0].what.find("holds a NUL byte"), std::string::npos);
    }
}

TEST(DetectionReader, LinesLongerThanTheReadBufferArriveWhole) {
    // A header line and many records across several 256 KiB reads.
    std::string records;
    std::string expected;
    for (int i = 0; i < 6000; ++i) {
        records += kRecordA;
        expected += kMergedA;
    }
    std::string header = perCameraHeader(6000);
    header.insert(header.find("FF  folder = ") + 13, std::string(700000, 'x'));
    ReadOutcome outcome = readAndWrite(header + records);
    EXPECT_EQ(outcome.records, 6000);
    EXPECT_EQ(outcome.written, expected);
}

TEST(DetectionReader, MergedFileReadsBackToTheSameRecordLines) {
    // Reading a merged file and writing its records again changes nothing.
    const std::string merged = crlf(perCameraHeader(3)) + kMergedA + kMergedB +
                               crlf(kSeparator + "FF_r" + std::string(34, ' ') + "\nCAL_r" +
                                    std::string(22, ' ') + "\n" +
                                    "-012 0003 0001 0012.35 -01.5 999.9 001.0 000.0 -999.9 12345.6\n"
                                    "-001.0 -345.67 0000.00 -63.48 -00.01 359.99 -90.00 -00012\n");
    ReadOutcome first = readAndWrite(merged);
    ASSERT_EQ(first.records, 3);
    EXPECT_EQ(first.written, merged.substr(crlf(perCameraHeader(3)).size()));
    ReadOutcome second = readAndWrite(crlf(perCameraHeader(3)) + first.written);
    EXPECT_EQ(second.written, first.written);
}

}  // namespace

namespace {

struct DamageCase {
    const char* name;
    std::string records;            // after the eleven header lines
    std::string expected;           // the record lines written
    std::vector<long> damagedLines; // line of each refused record
    const char* what;               // part of the first problem's text
};

std::string numbersLine(const std::string& segmentCount) {
    return "0009 0009 " + segmentCount + " 25 1 1 1 1 1 1\n";
}

std::string segments(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        lines += "1 2 3 4 5 6 7 8\n";
    }
    return lines;
}

TEST(DetectionReader, DamagedRecordsAreRefusedWholeAndReadingGoesOn) {
    const std::string head = kSeparator + "FF_DAMAGED\nCAL_DAMAGED\n";  // lines 12-14
    const DamageCase cases[] = {
        {"value with trailing letters", head + "0001 12abc 0000 25 1 1 1 1 1 1\n" + kRecordB,
         kMergedB, {15}, "\"12abc\" of Meteor#"},
        {"decimal where a whole number belongs", head + "1 123.0 0 25 1 1 1 1 1 1\n" + kRecordB,
         kMergedB, {15}, "\"123.0\" of Meteor#"},
        {"whole number beyond 32 bits", head + "2147483648 1 0 25 1 1 1 1 1 1\n" + kRecordB,
         kMergedB, {15}, "\"2147483648\" of Cam#"},
        {"segment value that is no number", head + numbersLine("2") + "1 2 3 4 5 6 7 8\n" +
                                                "1 2 x 4 5 6 7 8\n" + kRecordB,
         kMergedB, {17}, "\"x\" of Row"},
        {"fewer segment lines than announced", head + numbersLine("3") + segments(2) + kRecordB,
         kMergedB, {18}, "of Frame#"},
        {"more segment lines than announced", kRecordB + kRecordB + segments(0) +
                                                 "1 2 3 4 5 6 7 8\n" + kRecordB,
         kMergedB + kMergedB + kMergedB, {20}, "record separator line was expected"},
        {"more values on the last line", head + numbersLine("1") + "1 2 3 4 5 6 7 8 9\n" + kRecordB,
         kMergedB, {16}, "unexpected text \"9\""},
        {"too many segments", head + numbersLine("513") + segments(513) + kRecordB, kMergedB,
         {15}, "#Segments is 513"},
        {"first text line too long", kSeparator + std::string(256, 'F') + "\nCAL\n" +
                                         numbersLine("0") + kRecordB,
         kMergedB, {13}, "FF file line is longer than 255"},
        {"second text line too long", kSeparator + "FF\n" + std::string(300, 'C') + "\n" +
                                          numbersLine("0") + kRecordB,
         kMergedB, {14}, "CAL file line is longer than 255"},
        {"file ends inside the numbers", kRecordB + head + "0001 0002 0000 25 1", kMergedB, {19},
         "ends inside the record"},
        {"file ends after the first text line", kRecordB + kSeparator + "FF_DAMAGED\n", kMergedB,
         {17}, "ends inside the record"},
        {"file ends inside the segments", kRecordB + head + numbersLine("4") + segments(3),
         kMergedB, {22}, "ends inside the record"},
    };
    for (const DamageCase& c : cases) {
        ReadOutcome outcome = readAndWrite(file(c.records));
        EXPECT_EQ(outcome.written, c.expected) << c.name;
        ASSERT_EQ(outcome.damaged.size(), c.damagedLines.size()) << c.name;
        for (std::size_t i = 0; i < c.damagedLines.size(); ++i) {
            EXPECT_EQ(outcome.damaged[i].line, c.damagedLines[i]) << c.name;
        }
        EXPECT_NE(outcome.damaged[0].what.find(c.what), std::string::npos)
            << c.name << ": " << outcome.damaged[0].what;
        EXPECT_EQ(outcome.written.find("DAMAGED"), std::string::npos) << c.name;
    }
}

TEST(DetectionReader, LimitsThemselvesAreNotDamage) {
    const std::string longest = kSeparator + std::string(255, 'F') + "\n" +
                                std::string(255, 'C') + "\n" +
                                "-2147483648 2147483647 512 25 1 1 1 1 1 1\n" + segments(512);
    ReadOutcome outcome = readAndWrite(file(longest + kRecordB));
    EXPECT_TRUE(outcome.damaged.empty());
    EXPECT_EQ(outcome.records, 2);
    EXPECT_NE(outcome.written.find("-2147483648 2147483647 0512 "), std::string::npos);
}

}  // namespace

namespace {

TEST(DetectionReader, ReadErrorIsReportedNotTakenForTheEnd) {
    TempFolder folder;
    // Reading a folder as a file fails on Linux with EISDIR.
    std::FILE* file = std::fopen(folder.path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    auto input = std::make_unique<DetectionInput>();
    auto record = std::make_unique<DetectionRecord>();
    startDetectionInput(*input, file);
    readDetectionHeader(*input);
    ReadProblem problem;
    EXPECT_EQ(readDetectionRecord(*input, *record, problem), ReadStatus::Failed);
    EXPECT_NE(problem.what.find("read error"), std::string::npos) << problem.what;
    std::fclose(file);
}

}  // namespace
