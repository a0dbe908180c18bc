#include "record_format.h"

#include <cerrno>
#include <cstring>

#include "number_text.h"

// The buffered output.
namespace {
constexpr std::size_t kOutputBufferSize = 256 * 1024;
}

void startOutputFile(OutputFile& output, std::FILE* file) {
    if (output.data.empty()) {
        output.data.resize(kOutputBufferSize);
    }
    output.file = file;
    output.used = 0;
    output.writeError = 0;
}

void makeRoom(OutputFile& output, std::size_t length) {
    flushOutput(output);
    if (output.data.size() < length) {
        output.data.resize(length);
    }
}

void writeOutput(OutputFile& output, const char* data, std::size_t length) {
    for (;;) {
        const std::size_t room = output.data.size() - output.used;
        const std::size_t part = length < room ? length : room;
        std::memcpy(output.data.data() + output.used, data, part);
        output.used += part;
        if (part == length) {
            return;
        }
        data += part;
        length -= part;
        flushOutput(output);
    }
}

bool flushOutput(OutputFile& output) {
    if (output.used > 0 && output.writeError == 0) {
        errno = 0;
        std::size_t written = std::fwrite(output.data.data(), 1, output.used, output.file);
        if (written != output.used) {
            output.writeError = errno != 0 ? errno : EIO;
        }
    }
    // After a failure the text is dropped: the merged file is incomplete
    // either way, and the caller stops the run.
    output.used = 0;
    return output.writeError == 0;
}

// The line formats.

namespace {

constexpr char kHeaderSeparator[] =
    "-----------------------------------------------------\r\n";  // 53 hyphens
constexpr char kRecordSeparator[] =
    "-------------------------------------------------------\r\n";  // 55 hyphens
// What the header's column lines, lines 10 and 11, hold before the column
// names of the numbers line and of the segment lines.
constexpr char kNumbersLineLabel[] = "";
constexpr char kSegmentLineLabel[] = "Per segment:  ";
// The widths that a record's first and second text lines are padded to.
constexpr std::size_t kFfTextWidth = 38;
constexpr std::size_t kCalTextWidth = 27;

char* put(char* out, const char* text, std::size_t length) {
    std::memcpy(out, text, length);
    return out + length;
}

template <std::size_t N>
char* put(char* out, const char (&literal)[N]) {
    return put(out, literal, N - 1);
}

char* putLineEnd(char* out) {
    return put(out, "\r\n");
}

void writeLiteral(OutputFile& output, const char* text, std::size_t length) {
    commitOutput(output, put(reserveOutput(output, length), text, length));
}

template <std::size_t N>
void writeLiteral(OutputFile& output, const char (&literal)[N]) {
    writeLiteral(output, literal, N - 1);
}

void writeLabelledLine(OutputFile& output, const char* label, std::size_t labelLength,
                       const std::string& value) {
    char* out = reserveOutput(output, labelLength + value.size() + 2);
    out = put(out, label, labelLength);
    out = put(out, value.data(), value.size());
    commitOutput(output, putLineEnd(out));
}

// A text padded with blanks on the right to `width`, as "%-<width>s" has it;
// the text ends at its first NUL, as a C string would.
char* putPaddedText(char* out, const char* text, std::size_t width) {
    std::size_t length = strnlen(text, kMaxTextLength + 1);
    out = put(out, text, length);
    if (length < width) {
        std::memset(out, ' ', width - length);
        out += width - length;
    }
    return putLineEnd(out);
}

char* putTwoDigits(char* out, int value) {
    *out++ = static_cast<char>('0' + value / 10 % 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

// A header line naming the columns of a line kind: `label`, then the
// names, one blank between each two.
template <std::size_t L, std::size_t N>
void writeColumnNames(OutputFile& output, const char (&label)[L],
                      const NumberColumn (&columns)[N]) {
    std::size_t length = L - 1 + N + 2;
    for (const NumberColumn& column : columns) {
        length += std::strlen(column.name);
    }
    char* out = put(reserveOutput(output, length), label);
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0) {
            *out++ = ' ';
        }
        out = put(out, columns[i].name, std::strlen(columns[i].name));
    }
    commitOutput(output, putLineEnd(out));
}

// A number held by its value or in its written form, in the format of
// `column`.
char* putNumber(char* out, const DetectionRecord& record, const NumberColumn& column,
                const ReadNumber& number) {
    if (number.written.length != 0) {
        return put(out, record.writtenText + number.written.start, number.written.length);
    }
    if (column.kind == NumberKind::Whole) {
        return writeWholeNumber(out, number.whole, column.width);
    }
    return writeFixed(out, shownValue(column, number.decimal), column.width, column.precision);
}

// Copies the record's written text from `from` to `to`: lines in written
// form, one after another (detection_record.h says why they lie so).
void copyWrittenLines(OutputFile& output, const DetectionRecord& record, std::uint32_t from,
                      std::uint32_t to) {
    if (to != from) {
        writeOutput(output, record.writtenText + from, to - from);
    }
}

// Formats a line held number by number, column by column.
template <std::size_t N>
void formatNumberLine(OutputFile& output, const DetectionRecord& record,
                      const NumberColumn (&columns)[N], const NumberLine<N>& line) {
    char* out = reserveOutput(output, longestLine(columns, longestFormattedNumber) + 2);
    // Unrolled, so that each column's kind and format are constants.
#pragma GCC unroll 16
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0) {
            *out++ = ' ';
        }
        out = putNumber(out, record, columns[i], line.numbers[i]);
    }
    commitOutput(output, putLineEnd(out));
}

// Writes one number line of the record in its turn: a line in written form
// waits to be copied with the lines after it; a line held number by number
// is formatted, after the lines in written form before it, from `copied`
// on. Returns where the written text still to be copied begins.
template <std::size_t N>
std::uint32_t writeNumberLine(OutputFile& output, const DetectionRecord& record,
                              const NumberColumn (&columns)[N], const NumberLine<N>& line,
                              std::uint32_t copied) {
    if (line.inWrittenForm) {
        return copied;
    }
    copyWrittenLines(output, record, copied, line.text.start);
    formatNumberLine(output, record, columns, line);
    return line.text.start + line.text.length;
}

}  // namespace

char* formatCountLine(char* out, std::int32_t count) {
    out = put(out, "Meteor Count = ");
    out = writeWholeNumber(out, count, 6);
    return putLineEnd(out);
}

char* formatProcessingTime(char* out, const std::tm& when) {
    static constexpr char kDays[] = "SunMonTueWedThuFriSat";
    static constexpr char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    out = put(out, kDays + 3 * (when.tm_wday % 7), 3);
    *out++ = ' ';
    out = put(out, kMonths + 3 * (when.tm_mon % 12), 3);
    *out++ = ' ';
    out = putTwoDigits(out, when.tm_mday);
    *out++ = ' ';
    out = putTwoDigits(out, when.tm_hour);
    *out++ = ':';
    out = putTwoDigits(out, when.tm_min);
    *out++ = ':';
    out = putTwoDigits(out, when.tm_sec);
    *out++ = ' ';
    out = writeWholeNumber(out, when.tm_year + 1900, 4);
    return putLineEnd(out);
}

void writeHeaderLines(OutputFile& output, double programVersion, const std::tm& created,
                      const std::string& ffFolder, const std::string& calFolder) {
    char* out = reserveOutput(output, 256);
    out = formatCountLine(out, 0);
    out = put(out, kHeaderSeparator);
    out = put(out, "Processed with KEL ");
    out = writeFixed(out, programVersion, 3, 1);
    out = put(out, " on ");
    out = formatProcessingTime(out, created);
    out = put(out, kHeaderSeparator);
    commitOutput(output, out);

    static constexpr char kFfLabel[] = "FF  folder = ";
    static constexpr char kCalLabel[] = "CAL folder = ";
    writeLabelledLine(output, kFfLabel, sizeof kFfLabel - 1, ffFolder);
    writeLabelledLine(output, kCalLabel, sizeof kCalLabel - 1, calFolder);

    writeLiteral(output, kHeaderSeparator);
    writeLiteral(output, "FF  file processed\r\n");
    writeLiteral(output, "CAL file processed\r\n");
    writeColumnNames(output, kNumbersLineLabel, kNumbersLineColumns);
    writeColumnNames(output, kSegmentLineLabel, kSegmentLineColumns);
}

void writeRecordLines(OutputFile& output, const DetectionRecord& record) {
    char* out = reserveOutput(output, sizeof kRecordSeparator + 2 * (kMaxTextLength + 2));
    out = put(out, kRecordSeparator);
    out = putPaddedText(out, record.ffFileName, kFfTextWidth);
    out = putPaddedText(out, record.calFileName, kCalTextWidth);
    commitOutput(output, out);
    std::uint32_t copied =
        writeNumberLine(output, record, kNumbersLineColumns, record.numbersLine, 0);
    for (std::int32_t s = 0; s < record.segmentCount; ++s) {
        copied =
            writeNumberLine(output, record, kSegmentLineColumns, record.segmentLines[s], copied);
    }
    copyWrittenLines(output, record, copied, record.writtenTextLength);
}
