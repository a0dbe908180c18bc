// Reading per-camera files: what each record holds once read, shown as the
// record lines the merged file gets for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
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
                            "0012.0 0345.67 0210.11 063.48\n\t 021.90 112.35 041.20 001534\n"
                            "  0013.0 0349.91 0214.02\n063.52 -21.86 112.41 041.15 001720   \n\n\n" +
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

TEST(DetectionReader, NumbersInWrittenFormAreCopiedAndNearMissesConverted) {
    // Lines in written form, with numbers at the width of their columns or
    // wider, a minus sign on whole numbers, and near misses of each kind;
    // readAndWrite also checks that converting every number gives the same.
    const std::string record = kSeparator + "FF_w\nCAL_w\n" +
                               "-012 12345 0003 -000.00 -01.5 999.9 001.0 000.0 -999.9 12345.6\n"
                               "-001.0 -345.67 0000.00 -63.48 -00.01 359.99 -90.00 -00012\n"
                               "0012.0\t0345.67 0210.11 063.48 021.90 112.35 041.20 001534 \n"
                               "-000.0 0002.675 +210.11 63.48 021.9 112.350 41.2e0 -000000\n";
    ReadOutcome outcome = readAndWrite(file(record));
    ASSERT_EQ(outcome.records, 1);
    EXPECT_EQ(outcome.written,
              crlf(kSeparator + "FF_w                                  \n" +
                   "CAL_w                      \n" +
                   "-012 12345 0003 0029.97 -01.5 999.9 001.0 000.0 -999.9 12345.6\n"
                   "-001.0 -345.67 0000.00 -63.48 -00.01 359.99 -90.00 -00012\n"
                   "0012.0 0345.67 0210.11 063.48 021.90 112.35 041.20 001534\n"
                   "-000.0 0002.67 0210.11 063.48 021.90 112.35 041.20 000000\n"));
}

TEST(DetectionReader, RecordKeepsItsLinesWhenTheLookAheadRefillsTheBuffer) {
    // The record before the separator that the end of the first 256 KiB
    // read cuts: looking for its end reads on, and the bytes it was read
    // from are replaced.
    const std::string head = crlf(perCameraHeader(0));
    const std::string record = crlf(kRecordA);
    const std::size_t firstRead = kMaxLineLength + 2;
    const std::size_t records = (firstRead - head.size()) / record.size() - 1;
    const std::size_t padding = firstRead - head.size() - (records + 1) * record.size() - 3;
    std::string text = head;
    for (std::size_t i = 0; i < records; ++i) {
        text += record;
    }
    text += std::string(padding, '\n') + record + record;
    ASSERT_EQ(text.find(kSeparator.substr(0, 3), firstRead - 3), firstRead - 3);
    ReadOutcome outcome = readAndWrite(text);
    ASSERT_EQ(outcome.records, static_cast<int>(records + 2));
    std::string expected;
    for (std::size_t i = 0; i < records + 2; ++i) {
        expected += kMergedA;
    }
    EXPECT_EQ(outcome.written, expected);
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
        EXPECT_EQ(outcome.header, HeaderStatus::Read);
    }
    ReadOutcome cut = readAndWrite(perCameraHeader(0).substr(0, 120));
    EXPECT_EQ(cut.records, 0);
    EXPECT_EQ(cut.header, HeaderStatus::Cut);
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
        EXPECT_EQ(outcome.damaged[0].reason, ReadReason::TextHoldsNul);
    }
}

TEST(DetectionReader, RecordsAcrossManyBufferFillsAndTheLongestLineArriveWhole) {
    // A header line of the longest length held, and records across several
    // 256 KiB reads.
    std::string records;
    std::string expected;
    for (int i = 0; i < 6000; ++i) {
        records += kRecordA;
        expected += kMergedA;
    }
    std::string header = perCameraHeader(6000);
    const std::size_t folderAt = header.find("FF  folder = ");
    const std::size_t folderEnd = header.find('\n', folderAt);
    header.replace(folderAt, folderEnd - folderAt, std::string(kMaxLineLength, 'x'));
    ReadOutcome outcome = readAndWrite(crlf(header) + records);
    EXPECT_EQ(outcome.header, HeaderStatus::Read);
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
    ReadReason reason;              // of the first problem
    const char* column;             // the column or text line it names
    std::string cause = "";         // how its damageCause begins
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
         kMergedB, {15}, ReadReason::NotAWholeNumber, "Meteor#"},
        {"decimal where a whole number belongs", head + "1 123.0 0 25 1 1 1 1 1 1\n" + kRecordB,
         kMergedB, {15}, ReadReason::NotAWholeNumber, "Meteor#"},
        {"whole number beyond 32 bits", head + "2147483648 1 0 25 1 1 1 1 1 1\n" + kRecordB,
         kMergedB, {15}, ReadReason::NotAWholeNumber, "Cam#"},
        {"segment value that is no number", head + numbersLine("2") + "1 2 3 4 5 6 7 8\n" +
                                                "1 2 x 4 5 6 7 8\n" + kRecordB,
         kMergedB, {17}, ReadReason::NotANumber, "Row"},
        {"fewer segment lines than announced", head + numbersLine("3") + segments(2) + kRecordB,
         kMergedB, {18}, ReadReason::NotANumber, "Frame#"},
        {"segment line where the first separator belongs", "1 2 3 4 5 6 7 8\nFF_DAMAGED\nCAL\n" +
                                                              numbersLine("0") + kRecordB,
         kMergedB, {12}, ReadReason::SeparatorExpected, ""},
        {"more values on the last line", head + numbersLine("1") + "1 2 3 4 5 6 7 8 9\n" + kRecordB,
         kMergedB, {16}, ReadReason::TextAfterLastValue, "", "segment lines of 9 values"},
        {"a ninth value, which would slide into the next segment line",
         head + numbersLine("2") + "0012.0 0345.67 0210.11 063.48 021.90 112.35 041.20 001534 0013.0\n"
                                   "0349.91 0214.02 063.52 -21.86 112.41 041.15 001720\n" + kRecordB,
         kMergedB, {16}, ReadReason::ValueCount, "", "segment lines of 9 values; the layout has 8 ("},
        {"seven values, the next segment line's first taken for the eighth",
         head + numbersLine("2") + "1 2 3 4 5 6 7\n" + segments(1) + kRecordB, kMergedB, {16},
         ReadReason::ValueCount, "", "segment lines of 7 values"},
        {"seven values on the last segment line", head + numbersLine("1") + "1 2 3 4 5 6 7\n" + kRecordB,
         kMergedB, {16}, ReadReason::ValueCount, "", "segment lines of 7 values"},
        {"values that go on over two lines past a line end",
         head + numbersLine("2") + "1 2 3 4\n5 6 7 8 9\n" + segments(1) + kRecordB, kMergedB, {16},
         ReadReason::ValueCount, "", "segment lines of 4 values"},
        {"eleven values on the numbers line", head + "1 1 1 25 1 1 1 1 1 1 9\n" + segments(1) + kRecordB,
         kMergedB, {15}, ReadReason::ValueCount, "", "numbers lines of 11 values; the layout has 10 ("},
        {"nine values on the numbers line", head + "1 1 1 25 1 1 1 1 1\n" + segments(1) + kRecordB,
         kMergedB, {15}, ReadReason::ValueCount, "", "numbers lines of 9 values"},
        {"too many segments", head + numbersLine("513") + segments(513) + kRecordB, kMergedB,
         {15}, ReadReason::TooManySegments, "#Segments"},
        {"first text line too long", kSeparator + std::string(256, 'F') + "\nCAL\n" +
                                         numbersLine("0") + kRecordB,
         kMergedB, {13}, ReadReason::TextTooLong, "FF file"},
        {"second text line too long", kSeparator + "FF\n" + std::string(300, 'C') + "\n" +
                                          numbersLine("0") + kRecordB,
         kMergedB, {14}, ReadReason::TextTooLong, "CAL file"},
        {"file ends inside the numbers", kRecordB + head + "0001 0002 0000 25 1", kMergedB, {19},
         ReadReason::EndsInsideRecord, ""},
        {"file ends after the first text line", kRecordB + kSeparator + "FF_DAMAGED\n", kMergedB,
         {17}, ReadReason::EndsInsideRecord, ""},
        {"file ends inside the segments", kRecordB + head + numbersLine("4") + segments(3),
         kMergedB, {22}, ReadReason::EndsInsideRecord, ""},
    };
    for (const DamageCase& c : cases) {
        ReadOutcome outcome = readAndWrite(file(c.records));
        EXPECT_EQ(outcome.written, c.expected) << c.name;
        ASSERT_EQ(outcome.damaged.size(), c.damagedLines.size()) << c.name;
        for (std::size_t i = 0; i < c.damagedLines.size(); ++i) {
            EXPECT_EQ(outcome.damaged[i].line, c.damagedLines[i]) << c.name;
        }
        EXPECT_EQ(outcome.damaged[0].reason, c.reason) << c.name;
        EXPECT_STREQ(outcome.damaged[0].column, c.column) << c.name;
        EXPECT_EQ(damageCause(outcome.damaged[0]).rfind(c.cause, 0), 0u) << c.name;
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

TEST(DetectionReader, SeparatorIsWhateverItsLineHolds) {
    // Separators of other writers or of hand-edited files; only the
    // merged file's own separator is written.
    const std::string records = "=======\n" + kRecordA.substr(kSeparator.size()) +
                                "  *****  \r\n" + kRecordB.substr(kSeparator.size()) +
                                "\n\n- - -\n" + kRecordA.substr(kSeparator.size()) +
                                "#12 of 40\n" + kRecordB.substr(kSeparator.size()) +
                                "1 2 x\n" + kRecordB.substr(kSeparator.size()) +
                                "\t-\n" + kRecordB.substr(kSeparator.size());
    ReadOutcome outcome = readAndWrite(file(records));
    EXPECT_TRUE(outcome.damaged.empty());
    EXPECT_EQ(outcome.written, kMergedA + kMergedB + kMergedA + kMergedB + kMergedB + kMergedB);
}

TEST(DetectionReader, RecordFollowedByMoreSegmentLinesThanItsCountIsRefusedWhole) {
    const std::string head = kSeparator + "FF_DAMAGED\nCAL_DAMAGED\n";  // lines 12-14
    const struct {
        const char* name;
        std::string records;
        long line;  // the first extra segment line
        std::int32_t count;
    } cases[] = {
        {"one line too many", head + numbersLine("1") + segments(2) + kRecordB, 17, 1},
        {"after blank lines, in another form", head + numbersLine("0") + "\n  \n  -1 +2.5 inf 0x1p3\n" +
                                                    kRecordB, 18, 0},
        {"at the end of the file, without its line end", kRecordB + head + numbersLine("2") +
                                                             segments(2) + "1 2 3",
         22, 2},
    };
    for (const auto& c : cases) {
        ReadOutcome outcome = readAndWrite(file(c.records));
        EXPECT_EQ(outcome.written, kMergedB) << c.name;
        ASSERT_EQ(outcome.damaged.size(), 1u) << c.name;
        EXPECT_EQ(outcome.damaged[0].line, c.line) << c.name;
        EXPECT_EQ(outcome.damaged[0].reason, ReadReason::MoreSegmentLines) << c.name;
        EXPECT_EQ(outcome.damaged[0].count, c.count) << c.name;
    }
    // The record's last line ends the first buffer fill, so that the extra
    // line comes only with the next one: blank lines move the record there.
    const std::string before = perCameraHeader(0) + kRecordB;
    const std::string damaged = head + numbersLine("1") + segments(1);
    const std::size_t fill = kMaxLineLength + 2;  // what the first read takes
    for (std::size_t shift = 0; shift <= 4; ++shift) {
        // The record's last line end falls 2 bytes before to 2 bytes after
        // the end of the first fill.
        const std::string blanks(fill - 2 + shift - before.size() - damaged.size(), '\n');
        ReadOutcome outcome = readAndWrite(before + blanks + damaged + segments(1) + kRecordB);
        EXPECT_EQ(outcome.written, kMergedB + kMergedB) << shift;
        ASSERT_EQ(outcome.damaged.size(), 1u) << shift;
        EXPECT_EQ(outcome.damaged[0].reason, ReadReason::MoreSegmentLines);
    }
}

TEST(DetectionReader, ReadingResumesAtTheFilesOwnSeparator) {
    // After damage, reading resumes at a line equal to the separator the
    // file used last, surrounding blanks aside, or at a line of hyphens.
    const std::string own = "==== record ====\n";
    const std::string body = kRecordB.substr(kSeparator.size());
    const std::string records = own + body +                                      // merged
                                own + "FF_DAMAGED\nCAL\n1 x 0 25 1 1 1 1 1 1\n" +  // bad value
                                "  ==== record ====  \n" + body +                // merged
                                own + "FF_DAMAGED\nCAL\n" + numbersLine("0") + segments(1) +
                                "*** other ***\n" + "FF_DAMAGED\nCAL\n" + numbersLine("0") +
                                "\t==== record ====\r\n" + body +                // merged
                                // A new separator: the earlier one no longer counts.
                                "*** other ***\nFF_DAMAGED\nCAL\n1 1 1 25 1 1 1 1 1 1\n" +
                                "==== record ====\nFF_DAMAGED\nCAL\n" + numbersLine("0") + kRecordB;
    ReadOutcome outcome = readAndWrite(file(records));
    EXPECT_EQ(outcome.written, kMergedB + kMergedB + kMergedB + kMergedB);
    ASSERT_EQ(outcome.damaged.size(), 3u);
    EXPECT_EQ(outcome.damaged[0].reason, ReadReason::NotAWholeNumber);
    EXPECT_EQ(outcome.damaged[0].value, "\"x\"");
    EXPECT_STREQ(outcome.damaged[0].column, "Meteor#");
    EXPECT_EQ(outcome.damaged[1].reason, ReadReason::MoreSegmentLines);
    EXPECT_EQ(outcome.damaged[2].reason, ReadReason::NotANumber);
    EXPECT_STREQ(outcome.damaged[2].column, "Frame#");
    EXPECT_EQ(outcome.written.find("DAMAGED"), std::string::npos);
}

TEST(DetectionReader, LineLongerThanAnyRecordNeedsIsDamageSkippedWhole) {
    const std::string longLine(kMaxLineLength + 1, '7');
    const std::string head = kSeparator + "FF_DAMAGED\nCAL_DAMAGED\n";  // lines 12-14
    const struct {
        const char* name;
        std::string records;
        std::string expected;
        std::vector<long> lines;
    } cases[] = {
        {"as the first text line", kSeparator + longLine + "\nCAL\n" + numbersLine("0") + kRecordB,
         kMergedB, {13}},
        {"among the numbers, with CR LF", head + "1 1 " + longLine + "\r\n" + numbersLine("0") + kRecordB,
         kMergedB, {15}},
        {"where a separator belongs", kRecordB + longLine + "\nFF_DAMAGED\nCAL\n" + numbersLine("0") +
                                          kRecordB,
         kMergedB + kMergedB, {16}},
        {"skipped with the damage before it", head + "x\n" + longLine + "\n" + kRecordB + "\n" +
                                                  longLine + longLine,
         kMergedB, {15, 22}},
        {"of blanks", head + numbersLine("1") + std::string(kMaxLineLength + 1, ' ') + "\n" + kRecordB,
         kMergedB, {16}},
    };
    for (const auto& c : cases) {
        ReadOutcome outcome = readAndWrite(file(c.records));
        EXPECT_EQ(outcome.written, c.expected) << c.name;
        ASSERT_EQ(outcome.damaged.size(), c.lines.size()) << c.name;
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            EXPECT_EQ(outcome.damaged[i].line, c.lines[i]) << c.name;
        }
        EXPECT_EQ(outcome.damaged.back().reason, ReadReason::LineTooLong) << c.name;
    }
    // In the header the file is refused: it is no detection-info file.
    std::string header = perCameraHeader(1);
    header.insert(header.find("FF  folder = "), longLine);
    ReadOutcome refused = readAndWrite(header + kRecordB);
    EXPECT_EQ(refused.header, HeaderStatus::Damaged);
    EXPECT_EQ(refused.headerProblem.line, 5);
    EXPECT_EQ(refused.headerProblem.reason, ReadReason::LineTooLong);
    EXPECT_EQ(refused.records, 0);
}

}  // namespace

namespace {

// A stream that gives `text` and then fails, as a disk with a bad sector.
struct FailingSource {
    std::string text;
    std::size_t at = 0;
};

ssize_t readThenFail(void* cookie, char* buffer, size_t size) {
    auto& source = *static_cast<FailingSource*>(cookie);
    if (source.at == source.text.size()) {
        errno = EIO;
        return -1;
    }
    const std::size_t taken = std::min(size, source.text.size() - source.at);
    std::memcpy(buffer, source.text.data() + source.at, taken);
    source.at += taken;
    return static_cast<ssize_t>(taken);
}

TEST(DetectionReader, ReadErrorIsReportedNotTakenForTheEnd) {
    const std::string header = perCameraHeader(1);
    const std::string fiveLines = header.substr(0, header.find("CAL folder"));
    const struct {
        const char* name;
        std::string text;
        HeaderStatus header;
        int records;
        long line;  // where reading failed
    } cases[] = {
        {"inside the header", fiveLines, HeaderStatus::Failed, 0, 6},
        {"inside a record, part way through a line", header + kRecordA + kSeparator + "FF_x\nCA",
         HeaderStatus::Read, 1, 20},
        {"right after a record", header + kRecordA, HeaderStatus::Read, 1, 18},
    };
    for (const auto& c : cases) {
        FailingSource source{c.text};
        cookie_io_functions_t io{readThenFail, nullptr, nullptr, nullptr};
        ReadOutcome outcome = readAndWrite(fopencookie(&source, "r", io));
        EXPECT_EQ(outcome.header, c.header) << c.name;
        EXPECT_EQ(outcome.records, c.records) << c.name;
        const ReadProblem& problem =
            c.header == HeaderStatus::Read ? outcome.failure : outcome.headerProblem;
        EXPECT_TRUE(c.header != HeaderStatus::Read || outcome.failed) << c.name;
        EXPECT_EQ(problem.line, c.line) << c.name;
        EXPECT_EQ(problem.reason, ReadReason::ReadError) << c.name;
        EXPECT_EQ(problem.error, EIO) << c.name;
    }

    // Reading a folder as a file fails on Linux at the first read.
    TempFolder folder;
    ReadOutcome outcome = readAndWrite(std::fopen(folder.path.c_str(), "rb"));
    EXPECT_EQ(outcome.header, HeaderStatus::Failed);
    EXPECT_EQ(outcome.headerProblem.line, 1);
    EXPECT_EQ(outcome.headerProblem.reason, ReadReason::ReadError);
    EXPECT_EQ(outcome.headerProblem.error, EISDIR);
}

}  // namespace

// Allocations made while `countAllocations` is set.
namespace {
std::size_t allocations = 0;
bool countAllocations = false;
}  // namespace

void* operator new(std::size_t size) {
    if (countAllocations) {
        ++allocations;
    }
    if (void* block = std::malloc(size > 0 ? size : 1)) {
        return block;
    }
    throw std::bad_alloc();
}

// The replaced operator new takes its blocks from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
#pragma GCC diagnostic pop

namespace {

TEST(DetectionReader, ReadingRecordsAllocatesNothing) {
    // Once the first record is read: separators whose first item is a long
    // number, judged at every record's end and again as the separator.
    const std::string separator = "0x1" + std::string(150, '0') + "p1 x\n";
    std::string text = perCameraHeader(300);
    for (int i = 0; i < 300; ++i) {
        text += separator + kRecordA.substr(kSeparator.size());
    }
    std::FILE* in = fmemopen(text.data(), text.size(), "rb");
    ASSERT_NE(in, nullptr);
    auto input = std::make_unique<DetectionInput>();
    auto record = std::make_unique_for_overwrite<DetectionRecord>();
    ReadProblem problem;
    startDetectionInput(*input, in);
    ASSERT_EQ(readDetectionHeader(*input, problem), HeaderStatus::Read);
    ASSERT_EQ(readDetectionRecord(*input, *record, problem), ReadStatus::Record);
    int records = 1;
    countAllocations = true;
    while (readDetectionRecord(*input, *record, problem) == ReadStatus::Record) {
        ++records;
    }
    countAllocations = false;
    std::fclose(in);
    EXPECT_EQ(records, 300);
    EXPECT_EQ(allocations, 0u);
}

}  // namespace
