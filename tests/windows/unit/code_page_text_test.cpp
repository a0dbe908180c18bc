// Listed names from the console's code page to the ANSI code page, with
// both code pages given: under Wine the command interpreter writes its
// listing in the ANSI code page, so the program alone cannot show this.
// Runs under Wine, which converts with the same code page tables.
#include <gtest/gtest.h>

#include <string>

#include "code_page_text.h"

namespace {

struct Case {
    const char* what;
    unsigned from, to;
    std::string listed, expected;
};

TEST(CodePageText, OemNamesBecomeTheAnsiNamesFopenTakes) {
    const Case cases[] = {
        {"e acute, 850 to 1252", 850, 1252, "KELdetectinfo_0001_caf\x82.txt",
         "KELdetectinfo_0001_caf\xe9.txt"},
        {"A and o umlaut, n tilde, 850 to 1252", 850, 1252, "\x8e\x94\xa4", "\xc4\xf6\xf1"},
        {"e acute and u umlaut, 437 to 1252", 437, 1252, "caf\x82_\x81", "caf\xe9_\xfc"},
        {"Cyrillic, 866 to 1251", 866, 1251, "KELdetectinfo_0002_\x84\xae\xac.txt",
         "KELdetectinfo_0002_\xc4\xee\xec.txt"},
        {"plain ASCII", 437, 1252, "KELdetectinfo_0003_20261130_HALD03.txt",
         "KELdetectinfo_0003_20261130_HALD03.txt"},
        {"to UTF-8, the ANSI code page where Windows is set to it", 850, 65001, "caf\x82",
         "caf\xc3\xa9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string converted;
        EXPECT_TRUE(convertCodePage(c.listed, c.from, c.to, converted));
        EXPECT_EQ(converted, c.expected);
    }
}

// A character the ANSI code page has no place for is lost, and no
// look-alike stands in for it: the name would name another file.
TEST(CodePageText, NamesThatLoseACharacterAreRefused) {
    const Case cases[] = {
        {"Cyrillic into 1252", 866, 1252, "KELdetectinfo_0002_\x84.txt",
         "KELdetectinfo_0002_?.txt"},
        {"dotless i into 1252, not as i", 850, 1252, "x\xd5y", "x?y"},
        {"Latin e acute into 1251, not as e", 850, 1251, "caf\x82", "caf?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string converted;
        EXPECT_FALSE(convertCodePage(c.listed, c.from, c.to, converted));
        EXPECT_EQ(converted, c.expected);
    }
}

}  // namespace
