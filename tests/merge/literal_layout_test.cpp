// Well-formed FF folders whose per-camera files use random separator texts
// (anything but a line of numbers), random texts, number forms, spacing
// and line ends: the program merges them with status 0 into exactly the
// record lines that a literal reading gives, one made here with fscanf and
// the layout's own patterns, written with printf and the layout's formats.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "run_program.h"
#include "test_files.h"

namespace {

using Random = std::mt19937;

int pick(Random& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

bool chance(Random& random, int percent) {
    return pick(random, 1, 100) <= percent;
}

template <std::size_t N>
const char* oneOf(Random& random, const char* const (&choices)[N]) {
    return choices[pick(random, 0, static_cast<int>(N) - 1)];
}

std::string formatted(const char* format, double value) {
    char text[512];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A line each of whose items strtod takes whole.
bool isNumberLine(const std::string& line) {
    std::vector<std::string> items;
    std::string item;
    for (char c : line + ' ') {
        if (c == ' ' || c == '\t') {
            if (!item.empty()) {
                items.push_back(item);
            }
            item.clear();
        } else {
            item += c;
        }
    }
    for (const std::string& each : items) {
        char* end = nullptr;
        std::strtod(each.c_str(), &end);
        if (end != each.c_str() + each.size()) {
            return false;
        }
    }
    return !items.empty();
}

std::string randomSeparator(Random& random) {
    std::string text;
    switch (pick(random, 0, 3)) {
    case 0:  // one character repeated, as "=====" or "- - -"
    {
        const char c = "=*-~#_+.:"[pick(random, 0, 8)];
        const bool spaced = chance(random, 30);
        for (int i = pick(random, 1, 70); i > 0; --i) {
            text += c;
            if (spaced && i > 1) {
                text += ' ';
            }
        }
        break;
    }
    case 1:  // printable characters, blanks and tabs
        for (int i = pick(random, 1, 90); i > 0; --i) {
            text += chance(random, 10) ? (chance(random, 50) ? '\t' : ' ')
                                       : static_cast<char>(pick(random, 0x21, 0x7e));
        }
        break;
    case 2:  // texts that are almost numbers, long ones included
    {
        static const char* const numbers[] = {"12", "-3.5", "inf", "nan", "0x1p3", "1e5", "+7",
                                              ".5", "-0"};
        static const char* const others[] = {"x", "1e", "--", "0x", "12abc", ".", "+-1",
                                             "nanx", "1,5", "0x1q", "infinit", "-"};
        std::vector<std::string> items;
        for (int i = pick(random, 0, 5); i > 0; --i) {
            items.push_back(chance(random, 15) ? std::string(static_cast<std::size_t>(pick(random, 120, 160)), '7')
                                               : oneOf(random, numbers));
        }
        std::string other = chance(random, 15) ? std::string(140, '1') + "z" : oneOf(random, others);
        items.insert(items.begin() + pick(random, 0, static_cast<int>(items.size())), other);
        for (const std::string& item : items) {
            text += (text.empty() ? "" : chance(random, 20) ? "\t" : " ") + item;
        }
        break;
    }
    default:  // bytes of other encodings
        text = chance(random, 50) ? "D\xC3\xA9tection n\xC2\xB0 " + std::to_string(pick(random, 1, 99))
                                  : "\xA7\xA7\xA7";
    }
    if (chance(random, 20)) {
        text = std::string(static_cast<std::size_t>(pick(random, 1, 3)), ' ') + text;
    }
    if (chance(random, 20)) {
        text += "  ";
    }
    if (text.find_first_not_of(" \t") == std::string::npos || isNumberLine(text)) {
        return randomSeparator(random);
    }
    return text;
}

std::string randomText(Random& random) {
    std::string text(1, static_cast<char>(pick(random, 0x21, 0x7e)));
    for (int i = pick(random, 0, 254); i > 0; --i) {
        text += chance(random, 10)  ? ' '
                : chance(random, 3) ? static_cast<char>(pick(random, 0x80, 0xff))
                                    : static_cast<char>(pick(random, 0x21, 0x7e));
    }
    return text;
}

std::string randomDecimal(Random& random) {
    static const char* const specials[] = {"0", "-0.0", "0e0", "inf", "-inf", "nan", "-nan",
                                           "1e-320", "+0x1.8p1"};
    if (chance(random, 10)) {
        return oneOf(random, specials);
    }
    static const char* const formats[] = {"%.2f", "%.1f", "%g", "%.17g", "%e", "%a", "%.0f",
                                          "%+.3f", "%07.2f", "%.9f"};
    const double value = std::uniform_real_distribution<double>(-2000, 2000)(random) *
                         (chance(random, 10) ? 1e-6 : 1.0);
    return formatted(oneOf(random, formats), value);
}

std::string randomWhole(Random& random, int low, int high) {
    const int value = pick(random, low, high);
    char text[32];
    std::snprintf(text, sizeof text, chance(random, 30) ? "%+05d" : "%04d", value);
    return text;
}

// The items of one record's numbers or of one segment, on one line or
// spread over several.
std::string spread(Random& random, const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += chance(random, 8) ? (chance(random, 50) ? "\n" : "\n\n   ")
                                      : chance(random, 10) ? "\t " : " ";
        }
        text += items[i];
    }
    return text + (chance(random, 10) ? "  \n" : "\n");
}

std::string randomFile(Random& random) {
    std::string file = perCameraHeader(pick(random, 0, 9));
    for (int records = pick(random, 0, 8); records > 0; --records) {
        if (chance(random, 15)) {
            file += "\n";
        }
        file += randomSeparator(random) + "\n" + (chance(random, 10) ? "\t" : "") +
                randomText(random) + "\n" + randomText(random) + "\n";
        const int segments = chance(random, 10) ? -pick(random, 1, 3) : pick(random, 0, 4);
        std::vector<std::string> numbers = {randomWhole(random, -9, 9999),
                                            randomWhole(random, 0, 9999), std::to_string(segments)};
        for (int i = 0; i < 7; ++i) {
            numbers.push_back(randomDecimal(random));
        }
        file += spread(random, numbers);
        for (int s = 0; s < segments; ++s) {
            std::vector<std::string> values;
            for (int i = 0; i < 7; ++i) {
                values.push_back(randomDecimal(random));
            }
            values.push_back(randomWhole(random, -99999, 999999));
            file += spread(random, values);
        }
    }
    if (chance(random, 10)) {
        file += randomSeparator(random) + "\n";  // a lone separator closes a file
    }
    if (chance(random, 10)) {
        file.pop_back();  // no final line end
    }
    return chance(random, 50) ? crlf(file) : file;
}

// The record lines of one per-camera file, read pattern by pattern as the
// layout states them and written with its formats; line ends CR LF.
std::string readLiterally(const std::string& bytes, int& recordCount) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) {
            text += bytes[i];
        }
    }
    std::FILE* in = fmemopen(text.data(), text.size(), "r");
    static char line[4096], ff[4096], cal[4096], written[16384];
    std::string records;
    int count = 0;
    EXPECT_EQ(std::fscanf(in, "Meteor Count = %6d\n", &count), 1);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(std::fscanf(in, "%4095[^\n]\n", line), 1);
    }
    while (!std::feof(in)) {
        if (std::fscanf(in, "%4095[^\n]\n", line) != 1 || std::feof(in) ||
            std::fscanf(in, "%4095[^\n]\n", ff) != 1 || std::feof(in)) {
            break;
        }
        long cam = 0, meteor = 0, segments = 0, inten = 0;
        double v[8];
        EXPECT_EQ(std::fscanf(in, "%4095[^\n]\n", cal), 1);
        EXPECT_EQ(std::fscanf(in, "%ld %ld %ld %lf %lf %lf %lf %lf %lf %lf\n", &cam, &meteor,
                              &segments, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]),
                  10);
        if (v[0] == 0) {
            v[0] = 29.97;
        }
        std::snprintf(written, sizeof written,
                      "%-38s\n%-27s\n%04ld %04ld %04ld %07.2lf %05.1lf %05.1lf %05.1lf %05.1lf "
                      "%06.1lf %06.1lf\n",
                      ff, cal, cam, meteor, segments, v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
        records += kSeparator + written;
        ++recordCount;
        for (long s = 0; s < segments; ++s) {
            EXPECT_EQ(std::fscanf(in, "%lf %lf %lf %lf %lf %lf %lf %ld\n", &v[0], &v[1], &v[2],
                                  &v[3], &v[4], &v[5], &v[6], &inten),
                      8);
            std::snprintf(written, sizeof written,
                          "%06.1lf %07.2lf %07.2lf %06.2lf %06.2lf %06.2lf %06.2lf %06ld\n", v[0],
                          v[1], v[2], v[3], v[4], v[5], v[6], inten);
            records += written;
        }
    }
    std::fclose(in);
    return crlf(records);
}

TEST(LiteralLayout, RandomSeparatorTextsMergeAsTheLayoutReads) {
    Random random(20261208);
    for (int folder = 0; folder < 60; ++folder) {
        TempFolder temp;
        const std::string ff = temp.path + "/HALD/ff/night1";
        makeFolders(ff);
        std::string expected;
        int count = 0;
        const int cameras = pick(random, 1, 3);
        for (int camera = 1; camera <= cameras; ++camera) {
            const std::string file = randomFile(random);
            writeFile(ff + "/KELdetectinfo_000" + std::to_string(camera) + "_x.txt", file);
            expected += readLiterally(file, count);
        }
        RunResult run = runProgram(programPath(), {ff});
        EXPECT_EQ(run.status, 0) << "folder " << folder << "\n" << run.output;
        EXPECT_EQ(run.output, kBanner + kDone +
                                  mergedLine(count, cameras, ff + "/KELdetectinfo_0000_night1.txt"))
            << "folder " << folder;
        const std::string merged = readFile(ff + "/KELdetectinfo_0000_night1.txt");
        char line1[32];
        std::snprintf(line1, sizeof line1, "Meteor Count = %06d\r\n", count);
        EXPECT_EQ(merged.substr(0, 23), line1) << "folder " << folder;
        std::size_t headerEnd = 0;
        for (int line = 0; line < 11; ++line) {
            headerEnd = merged.find('\n', headerEnd) + 1;
        }
        ASSERT_EQ(merged.substr(headerEnd), expected) << "folder " << folder;
    }
}

}  // namespace
