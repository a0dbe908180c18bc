// The header lines and the count line as the merged file holds them.
#include <gtest/gtest.h>

#include <string>

#include "record_format.h"

namespace {

std::string countLine(std::int32_t count) {
    char line[32];
    return std::string(line, formatCountLine(line, count));
}

TEST(RecordFormat, CountLineIsSixDigitsAtLeast) {
    EXPECT_EQ(countLine(0), "Meteor Count = 000000\r\n");
    EXPECT_EQ(countLine(7), "Meteor Count = 000007\r\n");
    EXPECT_EQ(countLine(999999), "Meteor Count = 999999\r\n");
    EXPECT_EQ(countLine(0).size(), kCountLineLength);
    EXPECT_EQ(countLine(1000000), "Meteor Count = 1000000\r\n");
}

TEST(RecordFormat, ProcessingTimeUsesEnglishNamesAndZeroPaddedDay) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 8;
    when.tm_wday = 2;
    when.tm_hour = 3;
    when.tm_min = 4;
    when.tm_sec = 5;
    char text[64];
    EXPECT_EQ(std::string(text, formatProcessingTime(text, when)), "Tue Dec 08 03:04:05 2026\r\n");
    when.tm_mon = 0;
    when.tm_mday = 31;
    when.tm_wday = 0;
    when.tm_hour = 23;
    when.tm_min = 59;
    when.tm_sec = 60;  // a leap second
    EXPECT_EQ(std::string(text, formatProcessingTime(text, when)), "Sun Jan 31 23:59:60 2026\r\n");
}

}  // namespace
