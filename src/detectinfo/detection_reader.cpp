// Reading detection-info files: the header, then record by record.

#include <cstring>
#include <string>
#include <string_view>

#include "detection_input.h"
#include "detection_record.h"
#include "number_text.h"
#include "written_line.h"

namespace {

constexpr int kHeaderLines = 11;

// The names of a record's text lines, as messages give them.
constexpr char kFfTextLine[] = "FF file";
constexpr char kCalTextLine[] = "CAL file";

// Sets `problem` to `reason` found at the current line; returns it for the
// details.
ReadProblem& note(const DetectionInput& input, ReadProblem& problem, ReadReason reason) {
    setProblem(problem, reason, input.text.lineNumber);
    return problem;
}

// Refuses the record whose problem was noted: reading resumes at the next
// separator line.
ReadStatus refused(DetectionInput& input) {
    skipToSeparator(input);
    return ReadStatus::Damaged;
}

// True when the end of the input came from a failed read, which `problem`
// then describes.
bool readFailed(const DetectionInput& input, ReadProblem& problem) {
    if (input.text.readError == 0) {
        return false;
    }
    setProblem(problem, ReadReason::ReadError, failedLineNumber(input.text));
    problem.error = input.text.readError;
    return true;
}

// No further item could be taken: a line too long to hold makes the record
// it stands in damaged; otherwise a failed read, or the end of the file,
// which cuts a record that has begun.
ReadStatus stopped(DetectionInput& input, ReadProblem& problem, bool insideRecord) {
    if (input.longLine != 0) {
        setProblem(problem, ReadReason::LineTooLong, input.longLine);
        return refused(input);
    }
    if (readFailed(input, problem)) {
        return ReadStatus::Failed;
    }
    if (!insideRecord) {
        return ReadStatus::End;
    }
    note(input, problem, ReadReason::EndsInsideRecord);
    return ReadStatus::Damaged;
}

enum class ItemResult { Ok, End, Bad };

char* putText(char* out, const char* first, const char* last) {
    const auto length = static_cast<std::size_t>(last - first);
    std::memcpy(out, first, length);
    return out + length;
}

// Reads the next item as a whole number of `column` into `value` and puts
// its written text at `out`, followed by a blank.
ItemResult readWholeField(DetectionInput& input, const NumberColumn& column,
                          std::int32_t& value, char*& out, std::string_view& item) {
    if (!nextItem(input, item)) {
        return ItemResult::End;
    }
    if (!parseWholeNumber(item, value)) {
        return ItemResult::Bad;
    }
    const char* first = item.data();
    const char* last = first + item.size();
    if (!input.convertByValue && isWrittenNumber(column, first, last)) {
        out = putText(out, first, last);
    } else {
        out = writeWholeNumber(out, value, column.width);
    }
    *out++ = ' ';
    return ItemResult::Ok;
}

// True when `first`..`end`, a plain decimal of `value` for `column`, is to
// be copied as it stands: it is in written form, and the column shows the
// value as read.
bool copiesAsWritten(const DetectionInput& input, const char* first, const char* end,
                     const NumberColumn& column, double value) {
    return !input.convertByValue && isWrittenNumber(column, first, end) &&
           showsAsRead(column, value);
}

// Reads the next item as a number of `column` and puts its written text at
// `out`, followed by a blank: copied when it stands in written form,
// converted from the value the column shows otherwise.
ItemResult readDecimalField(DetectionInput& input, const NumberColumn& column, char*& out,
                            std::string_view& item) {
    if (!skipBlanks(input)) {
        return ItemResult::End;
    }
    // Most items are plain decimals, converted in the same pass that finds
    // their end; every number in written form is one.
    double value = 0;
    const char* first = input.rest;
    const char* end = parsePlainDecimalPrefix(first, input.restEnd, value);
    if (end != nullptr && (end == input.restEnd || isBlank(*end))) {
        input.rest = end;
        if (copiesAsWritten(input, first, end, column, value)) {
            out = putText(out, first, end);
            *out++ = ' ';
            return ItemResult::Ok;
        }
    } else {
        nextItem(input, item);
        if (!parseDecimalNumber(item, value)) {
            return ItemResult::Bad;
        }
    }
    out = writeFixed(out, shownValue(column, value), column.width, column.precision);
    *out++ = ' ';
    return ItemResult::Ok;
}

char* putLineEnd(char* out) {
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

// Ends a line of numbers: the blank after its last number becomes CR LF.
void endNumbersLine(char*& out) {
    out = putLineEnd(out - 1);
}

// Puts the rest of the current line at `out` as a line of the record,
// ending it in CR LF, and moves past it.
void copyRestOfLine(DetectionInput& input, char*& out) {
    out = putLineEnd(putText(out, input.rest, input.restEnd));
    input.rest = input.restEnd;
}

// Copies the rest of the current line as the record's numbers line when it
// is one in written form whose numbers all show as read (a frame rate of
// zero does not); takes the whole numbers from it.
bool copyWrittenNumbersLine(DetectionInput& input, DetectionRecord& record, char*& out) {
    const char* ends[kNumbersLineColumnCount];
    if (input.convertByValue ||
        !isWrittenNumbersLine(input.rest, input.restEnd, readableEnd(input.text), ends)) {
        return false;
    }
    double frameRate = 0;
    const std::string_view rate = numberOfLine(input.rest, ends, kFrameRateColumn);
    parsePlainDecimalPrefix(rate.data(), rate.data() + rate.size(), frameRate);
    if (!showsAsRead(kNumbersLineColumns[kFrameRateColumn], frameRate)) {
        return false;
    }
    const char* first = input.rest;
    parseWholeNumber(std::string_view(first, static_cast<std::size_t>(ends[0] - first)),
                     record.camNumber);
    parseWholeNumber(std::string_view(ends[0] + 1, static_cast<std::size_t>(ends[1] - ends[0] - 1)),
                     record.meteorNumber);
    parseWholeNumber(std::string_view(ends[1] + 1, static_cast<std::size_t>(ends[2] - ends[1] - 1)),
                     record.segmentCount);
    copyRestOfLine(input, out);
    return true;
}

// Copies the rest of the current line as a segment line when it is one in
// written form.
bool copyWrittenSegmentLine(DetectionInput& input, char*& out) {
    if (input.convertByValue ||
        !isWrittenSegmentLine(input.rest, input.restEnd, readableEnd(input.text))) {
        return false;
    }
    copyRestOfLine(input, out);
    return true;
}

// Refuses the record for an item of `column` that is no number of its
// kind, in segment line `segment` (0 for the numbers line).
ReadStatus refuseValue(DetectionInput& input, ReadProblem& problem, const NumberColumn& column,
                       std::string_view item, int segment) {
    const bool whole = column.kind == NumberKind::Whole;
    ReadProblem& bad =
        note(input, problem, whole ? ReadReason::NotAWholeNumber : ReadReason::NotANumber);
    bad.value = quotedValue(item);
    bad.column = column.name;
    bad.segment = segment;
    return refused(input);
}

// Copies a record text line; the reason it cannot be held when it is
// longer than a record holds, or holds a NUL byte, which would end the
// text early when written (a leading NUL would leave a blank line that
// shifts every later line of the merged file).
ReadReason copyText(char* target, std::string_view text) {
    if (text.size() > kMaxTextLength) {
        return ReadReason::TextTooLong;
    }
    if (text.find('\0') != std::string_view::npos) {
        return ReadReason::TextHoldsNul;
    }
    std::memcpy(target, text.data(), text.size());
    target[text.size()] = '\0';
    return ReadReason::None;
}

}  // namespace

void startDetectionInput(DetectionInput& input, std::FILE* file) {
    startTextInput(input.text, file);
    input.rest = input.restEnd = input.lineStart = nullptr;
    input.longLine = 0;
    input.separator.clear();
}

HeaderStatus readDetectionHeader(DetectionInput& input, ReadProblem& problem) {
    for (int taken = 0; taken < kHeaderLines;) {
        if (!nextLine(input)) {
            if (input.longLine != 0) {
                setProblem(problem, ReadReason::LineTooLong, input.longLine);
                input.longLine = 0;
                return HeaderStatus::Damaged;
            }
            if (readFailed(input, problem)) {
                return HeaderStatus::Failed;
            }
            if (taken == 0) {
                return HeaderStatus::Read;
            }
            setProblem(problem, ReadReason::EndsInsideHeader, input.text.lineNumber);
            return HeaderStatus::Cut;
        }
        input.rest = skipBlanksIn(input.rest, input.restEnd);
        if (input.rest != input.restEnd) {
            ++taken;
        }
    }
    input.rest = input.restEnd;
    return HeaderStatus::Read;
}

ReadStatus checkForFurtherRecord(DetectionInput& input, ReadProblem& problem) {
    // A further record begins with its separator line and at least one
    // line after it; a lone separator at the end holds no record.
    if (!skipBlanks(input) && input.longLine == 0) {
        return readFailed(input, problem) ? ReadStatus::Failed : ReadStatus::End;
    }
    input.longLine = 0;
    input.rest = input.restEnd;
    if (skipBlanks(input) || input.longLine != 0) {
        return ReadStatus::Record;
    }
    return readFailed(input, problem) ? ReadStatus::Failed : ReadStatus::End;
}

ReadStatus readDetectionRecord(DetectionInput& input, DetectionRecord& record,
                               ReadProblem& problem) {
    // The separator: the next non-blank line, whatever it holds, unless it
    // is a line of numbers.
    std::string_view text;
    if (!nextText(input, text)) {
        return stopped(input, problem, false);
    }
    if (isNumberLine(text.data(), text.data() + text.size())) {
        note(input, problem, ReadReason::SeparatorExpected).value = quotedValue(text);
        return refused(input);
    }
    input.separator.assign(trimmed(text.data(), text.data() + text.size()));
    if (!nextText(input, text)) {
        return stopped(input, problem, false);  // a lone separator closes the file
    }
    if (const ReadReason why = copyText(record.ffFileName, text); why != ReadReason::None) {
        note(input, problem, why).column = kFfTextLine;
        return refused(input);
    }
    if (!nextText(input, text)) {
        return stopped(input, problem, true);
    }
    if (const ReadReason why = copyText(record.calFileName, text); why != ReadReason::None) {
        note(input, problem, why).column = kCalTextLine;
        return refused(input);
    }

    // The numbers, written into the record as the merged file gets them.
    std::string_view item;
    char* out = record.numberLines;
    if (!skipBlanks(input)) {
        return stopped(input, problem, true);
    }
    if (!copyWrittenNumbersLine(input, record, out)) {
        std::int32_t* const wholeFields[] = {&record.camNumber, &record.meteorNumber,
                                             &record.segmentCount};
        for (std::size_t i = 0; i < std::size(kNumbersLineColumns); ++i) {
            const NumberColumn& column = kNumbersLineColumns[i];
            ItemResult result = column.kind == NumberKind::Whole
                                    ? readWholeField(input, column, *wholeFields[i], out, item)
                                    : readDecimalField(input, column, out, item);
            if (result == ItemResult::End) {
                return stopped(input, problem, true);
            }
            if (result == ItemResult::Bad) {
                return refuseValue(input, problem, column, item, 0);
            }
            if (column.role == ColumnRole::SegmentCount && record.segmentCount > kMaxSegments) {
                break;
            }
        }
        endNumbersLine(out);
    }
    if (record.segmentCount > kMaxSegments) {
        ReadProblem& tooMany = note(input, problem, ReadReason::TooManySegments);
        tooMany.column = kNumbersLineColumns[kSegmentCountColumn].name;
        tooMany.count = record.segmentCount;
        return refused(input);
    }

    for (int s = 0; s < record.segmentCount; ++s) {
        if (!skipBlanks(input)) {
            return stopped(input, problem, true);
        }
        if (copyWrittenSegmentLine(input, out)) {
            continue;
        }
        for (const NumberColumn& column : kSegmentLineColumns) {
            std::int32_t intensity = 0;
            ItemResult result = column.kind == NumberKind::Whole
                                    ? readWholeField(input, column, intensity, out, item)
                                    : readDecimalField(input, column, out, item);
            if (result == ItemResult::End) {
                return stopped(input, problem, true);
            }
            if (result == ItemResult::Bad) {
                return refuseValue(input, problem, column, item, s + 1);
            }
        }
        endNumbersLine(out);
    }
    record.numberLinesLength = static_cast<std::size_t>(out - record.numberLines);

    // Text after the record's last value means the counts and the lines
    // disagree; the record is not to be trusted.
    input.rest = skipBlanksIn(input.rest, input.restEnd);
    if (input.rest != input.restEnd) {
        std::string_view extra(input.rest, static_cast<std::size_t>(input.restEnd - input.rest));
        input.rest = input.restEnd;
        note(input, problem, ReadReason::TextAfterLastValue).value = quotedValue(extra);
        return refused(input);
    }

    // The record ends where the next non-blank line does not read wholly
    // as numbers; a line of numbers there is one more segment line than
    // #Segments announced, so the count and the lines disagree. The look
    // ahead only moves through the buffered lines.
    if (skipBlanks(input) && isNumberLine(input.rest, input.restEnd)) {
        ReadProblem& more = note(input, problem, ReadReason::MoreSegmentLines);
        more.column = kNumbersLineColumns[kSegmentCountColumn].name;
        more.count = record.segmentCount;
        return refused(input);
    }
    return ReadStatus::Record;
}
