// Reading detection-info files. Whitespace, line ends included, separates
// the items of a file, so numbers may share or span lines and blank lines
// or leading blanks change nothing; a text line is everything from its
// first non-blank character to its line end, trailing blanks included.

#include <cstring>
#include <string>
#include <string_view>

#include "detection_record.h"
#include "number_text.h"
#include "shown_text.h"

namespace {

constexpr int kHeaderLines = 11;

// The whitespace of C's isspace in the C locale: blank, \t \n \v \f \r.
bool isBlank(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte <= ' ' && (byte == ' ' || (byte >= '\t' && byte <= '\r'));
}

// A record separator: a line made only of hyphen-minus characters,
// surrounding blanks aside.
bool isSeparatorLine(const char* first, const char* last) {
    while (first != last && isBlank(*first)) {
        ++first;
    }
    while (last != first && isBlank(last[-1])) {
        --last;
    }
    if (first == last) {
        return false;
    }
    for (; first != last; ++first) {
        if (*first != '-') {
            return false;
        }
    }
    return true;
}

bool nextLine(DetectionInput& input) {
    const char* first = nullptr;
    const char* last = nullptr;
    if (!takeLine(input.text, first, last)) {
        input.rest = input.restEnd = input.lineStart = nullptr;
        return false;
    }
    input.lineStart = input.rest = first;
    input.restEnd = last;
    return true;
}

// Skips whitespace up to the next item; false at the end of the file.
bool skipBlanks(DetectionInput& input) {
    for (;;) {
        while (input.rest != input.restEnd && isBlank(*input.rest)) {
            ++input.rest;
        }
        if (input.rest != input.restEnd) {
            return true;
        }
        if (!nextLine(input)) {
            return false;
        }
    }
}

bool nextText(DetectionInput& input, std::string_view& text) {
    if (!skipBlanks(input)) {
        return false;
    }
    text = std::string_view(input.rest, static_cast<std::size_t>(input.restEnd - input.rest));
    input.rest = input.restEnd;
    return true;
}

bool nextItem(DetectionInput& input, std::string_view& item) {
    if (!skipBlanks(input)) {
        return false;
    }
    const char* start = input.rest;
    while (input.rest != input.restEnd && !isBlank(*input.rest)) {
        ++input.rest;
    }
    item = std::string_view(start, static_cast<std::size_t>(input.rest - start));
    return true;
}

// Leaves the input at the next separator line, the current line included,
// so that the record after a damaged one is still read.
void skipToSeparator(DetectionInput& input) {
    if (input.lineStart == nullptr) {
        return;
    }
    while (!isSeparatorLine(input.lineStart, input.restEnd)) {
        if (!nextLine(input)) {
            return;
        }
    }
    input.rest = input.lineStart;
}

ReadStatus refuse(DetectionInput& input, ReadProblem& problem, std::string what) {
    problem.line = input.text.lineNumber;
    problem.what = std::move(what);
    skipToSeparator(input);
    return ReadStatus::Damaged;
}

// True when the end of the input came from a failed read, which `problem`
// then describes.
bool readFailed(const DetectionInput& input, ReadProblem& problem) {
    if (input.text.readError == 0) {
        return false;
    }
    problem.line = input.text.lineNumber;
    problem.what = std::string("read error: ") + std::strerror(input.text.readError);
    return true;
}

// The end of the file inside a record: a read error, or a cut record.
ReadStatus endInsideRecord(DetectionInput& input, ReadProblem& problem) {
    if (readFailed(input, problem)) {
        return ReadStatus::Failed;
    }
    problem.line = input.text.lineNumber;
    problem.what = "the file ends inside the record";
    return ReadStatus::Damaged;
}

ReadStatus endBetweenRecords(DetectionInput& input, ReadProblem& problem) {
    return readFailed(input, problem) ? ReadStatus::Failed : ReadStatus::End;
}

// A value as messages show it: at most 40 characters, in quotes.
std::string quoted(std::string_view item) {
    constexpr std::size_t kShown = 40;
    std::string text(1, '"');
    text += shownText(item.substr(0, kShown));
    text += item.size() > kShown ? "...\"" : "\"";
    return text;
}

struct NumberField {
    const char* name;
    bool whole;
};

constexpr NumberField kNumbersLine[] = {
    {"Cam#", true},     {"Meteor#", true}, {"#Segments", true}, {"fps", false},
    {"hnr", false},     {"mle", false},    {"bin", false},      {"Pix/fm", false},
    {"Rho", false},     {"Phi", false},
};

constexpr NumberField kSegmentLine[] = {
    {"Frame#", false}, {"Col", false},  {"Row", false},  {"RA", false},
    {"Dec", false},    {"Azim", false}, {"Elev", false}, {"Inten", true},
};

enum class ItemResult { Ok, End, Bad };

ItemResult readWhole(DetectionInput& input, std::int32_t& value, std::string_view& item) {
    if (!nextItem(input, item)) {
        return ItemResult::End;
    }
    return parseWholeNumber(item, value) ? ItemResult::Ok : ItemResult::Bad;
}

ItemResult readDecimal(DetectionInput& input, double& value, std::string_view& item) {
    if (!skipBlanks(input)) {
        return ItemResult::End;
    }
    // Most items are plain decimals, converted in the same pass that finds
    // their end.
    const char* end = parsePlainDecimalPrefix(input.rest, input.restEnd, value);
    if (end != nullptr && (end == input.restEnd || isBlank(*end))) {
        input.rest = end;
        return ItemResult::Ok;
    }
    nextItem(input, item);
    return parseDecimalNumber(item, value) ? ItemResult::Ok : ItemResult::Bad;
}

std::string badValue(const NumberField& field, std::string_view item) {
    return std::string("value ") + quoted(item) + " of " + field.name + " is not " +
           (field.whole ? "a whole number within 32 bits" : "a number");
}

// Copies a record text line; the reason it cannot be held when it is
// longer than a record holds, or holds a NUL byte, which would end the
// text early when written (a leading NUL would leave a blank line that
// shifts every later line of the merged file).
const char* copyText(char* target, std::string_view text) {
    if (text.size() > kMaxTextLength) {
        return "is longer than 255 characters";
    }
    if (text.find('\0') != std::string_view::npos) {
        return "holds a NUL byte";
    }
    std::memcpy(target, text.data(), text.size());
    target[text.size()] = '\0';
    return nullptr;
}

}  // namespace

void startDetectionInput(DetectionInput& input, std::FILE* file) {
    startTextInput(input.text, file);
    input.rest = input.restEnd = input.lineStart = nullptr;
}

bool readDetectionHeader(DetectionInput& input) {
    for (int taken = 0; taken < kHeaderLines;) {
        if (!nextLine(input)) {
            return taken == 0 && input.text.readError == 0;
        }
        while (input.rest != input.restEnd && isBlank(*input.rest)) {
            ++input.rest;
        }
        if (input.rest != input.restEnd) {
            ++taken;
        }
    }
    input.rest = input.restEnd;
    return true;
}

bool detectionInputAtEnd(DetectionInput& input) {
    return !skipBlanks(input);
}

ReadStatus readDetectionRecord(DetectionInput& input, DetectionRecord& record,
                               ReadProblem& problem) {
    std::string_view text;
    if (!nextText(input, text)) {
        return endBetweenRecords(input, problem);
    }
    if (!isSeparatorLine(text.data(), text.data() + text.size())) {
        return refuse(input, problem, "a record separator line was expected, found " + quoted(text));
    }
    if (!nextText(input, text)) {
        return endBetweenRecords(input, problem);  // a lone separator closes the file
    }
    if (const char* why = copyText(record.ffFileName, text)) {
        return refuse(input, problem, std::string("the FF file line ") + why);
    }
    if (!nextText(input, text)) {
        return endInsideRecord(input, problem);
    }
    if (const char* why = copyText(record.calFileName, text)) {
        return refuse(input, problem, std::string("the CAL file line ") + why);
    }

    std::string_view item;
    std::int32_t* const wholeFields[] = {&record.camNumber, &record.meteorNumber,
                                         &record.segmentCount};
    double* const decimalFields[] = {&record.fps, &record.hnr,            &record.mle,
                                     &record.bin, &record.pixelsPerFrame, &record.rho,
                                     &record.phi};
    for (int i = 0; i < 10; ++i) {
        ItemResult result = i < 3 ? readWhole(input, *wholeFields[i], item)
                                  : readDecimal(input, *decimalFields[i - 3], item);
        if (result == ItemResult::End) {
            return endInsideRecord(input, problem);
        }
        if (result == ItemResult::Bad) {
            return refuse(input, problem, badValue(kNumbersLine[i], item));
        }
        if (i == 2 && record.segmentCount > kMaxSegments) {
            return refuse(input, problem,
                          "#Segments is " + std::to_string(record.segmentCount) +
                              ", more than the 512 segments a record can hold");
        }
    }
    if (record.fps == 0.0) {
        record.fps = kDefaultFrameRate;
    }

    for (int s = 0; s < record.segmentCount; ++s) {
        double* const segmentFields[] = {&record.frame[s], &record.col[s],  &record.row[s],
                                         &record.ra[s],    &record.dec[s],  &record.azim[s],
                                         &record.elev[s]};
        for (int i = 0; i < 8; ++i) {
            ItemResult result = i < 7 ? readDecimal(input, *segmentFields[i], item)
                                      : readWhole(input, record.inten[s], item);
            if (result == ItemResult::End) {
                return endInsideRecord(input, problem);
            }
            if (result == ItemResult::Bad) {
                return refuse(input, problem,
                              badValue(kSegmentLine[i], item) + " (segment " +
                                  std::to_string(s + 1) + ")");
            }
        }
    }

    // Text after the record's last value means the counts and the lines
    // disagree; the record is not to be trusted.
    while (input.rest != input.restEnd && isBlank(*input.rest)) {
        ++input.rest;
    }
    if (input.rest != input.restEnd) {
        std::string_view extra(input.rest, static_cast<std::size_t>(input.restEnd - input.rest));
        input.rest = input.restEnd;
        return refuse(input, problem, "unexpected text " + quoted(extra) +
                                          " after the record's last value");
    }
    return ReadStatus::Record;
}
