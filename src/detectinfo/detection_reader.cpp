// Reading detection-info files: the header, then record by record, each
// into the one DetectionRecord as the file said it. The parts of a record
// are read in turn, each returning Record when it was read.
#include "detection_reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "number_text.h"

// Lines of numbers in their written form.

namespace {

constexpr std::size_t kMostColumns = std::max(kNumbersLineColumnCount, kSegmentLineColumnCount);

// What each byte of a line of numbers is when every number has exactly the
// width of its column: byte i fits when it lies from low[i] to low[i] +
// span[i], or equals other[i]. Digits, a point in each decimal column, a
// blank between two numbers, and in a decimal column of at least two whole
// digits a minus sign in place of the first digit. A decimal number of
// exactly its column's width is always in written form, a minus sign or
// zeros in front included; a whole number with a minus sign may not be
// (-000 is written 0000), and is left to the number-by-number check.
// Positions past the line fit any byte.
struct LineShape {
    std::size_t length;
    std::size_t ends[kMostColumns];
    unsigned char low[kShapeBytes];
    unsigned char span[kShapeBytes];
    unsigned char other[kShapeBytes];
};

template <std::size_t N>
constexpr LineShape shapeOf(const NumberColumn (&columns)[N]) {
    LineShape shape{};
    for (std::size_t i = 0; i < kShapeBytes; ++i) {
        shape.span[i] = 255;
    }
    auto set = [&shape](std::size_t at, char low, unsigned char span, char other) {
        shape.low[at] = static_cast<unsigned char>(low);
        shape.span[at] = span;
        shape.other[at] = static_cast<unsigned char>(other);
    };
    std::size_t at = 0;
    for (std::size_t c = 0; c < N; ++c) {
        const NumberColumn& column = columns[c];
        const bool whole = column.kind == NumberKind::Whole;
        const int point = whole ? column.width : column.width - column.precision - 1;
        for (int k = 0; k < column.width; ++k, ++at) {
            if (k == point) {
                set(at, '.', 0, '.');
            } else {
                set(at, '0', 9, k == 0 && !whole && point >= 2 ? '-' : '0');
            }
        }
        shape.ends[c] = at;
        if (c + 1 < N) {
            set(at++, ' ', 0, ' ');
        }
    }
    shape.length = at;
    return shape;
}

constexpr LineShape kNumbersLineShape = shapeOf(kNumbersLineColumns);
constexpr LineShape kSegmentLineShape = shapeOf(kSegmentLineColumns);
static_assert(kNumbersLineShape.length < kShapeBytes && kSegmentLineShape.length < kShapeBytes);

// True when the kShapeBytes bytes at `first` fit `shape`. One pass without
// branches, which compilers turn into a few vector instructions.
bool fitsShape(const char* first, const LineShape& shape) {
    unsigned char misfits = 0;
    for (std::size_t i = 0; i < kShapeBytes; ++i) {
        const auto byte = static_cast<unsigned char>(first[i]);
        const bool outside = static_cast<unsigned char>(byte - shape.low[i]) > shape.span[i];
        misfits |= static_cast<unsigned char>(outside & (byte != shape.other[i]));
    }
    return misfits == 0;
}

// The line compared with `shape` when the bytes for it can be read.
bool hasShape(const char* first, const char* last, const char* readable,
              const LineShape& shape) {
    return static_cast<std::size_t>(last - first) == shape.length &&
           static_cast<std::size_t>(readable - first) >= kShapeBytes && fitsShape(first, shape);
}

// The line checked number by number; `ends` gets where each number ends.
// A line shorter than its shape has a number shorter than its column.
// Kept out of the callers, whose common case is the shape alone.
template <std::size_t N>
[[gnu::noinline]] bool hasWrittenNumbers(const char* first, const char* last,
                                         const NumberColumn (&columns)[N], const LineShape& shape,
                                         const char* (&ends)[N]) {
    if (static_cast<std::size_t>(last - first) < shape.length) {
        return false;
    }
    for (std::size_t i = 0;; ++i) {
        const auto* blank = static_cast<const char*>(
            std::memchr(first, ' ', static_cast<std::size_t>(last - first)));
        const char* end = blank != nullptr ? blank : last;
        if (!isWrittenNumber(columns[i], first, end)) {
            return false;
        }
        ends[i] = end;
        if (i + 1 == N || end == last) {
            return i + 1 == N && end == last;
        }
        first = end + 1;
    }
}

}  // namespace

bool isWrittenSegmentLine(const char* first, const char* last, const char* readable) {
    if (hasShape(first, last, readable, kSegmentLineShape)) {
        return true;
    }
    const char* ends[kSegmentLineColumnCount];
    return hasWrittenNumbers(first, last, kSegmentLineColumns, kSegmentLineShape, ends);
}

bool isWrittenNumbersLine(const char* first, const char* last, const char* readable,
                          const char* (&ends)[kNumbersLineColumnCount]) {
    if (hasShape(first, last, readable, kNumbersLineShape)) {
        for (std::size_t i = 0; i < std::size(ends); ++i) {
            ends[i] = first + kNumbersLineShape.ends[i];
        }
        return true;
    }
    return hasWrittenNumbers(first, last, kNumbersLineColumns, kNumbersLineShape, ends);
}

// Reading records.

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

// The next text line into `target`, a text line of the record named
// `name`; `insideRecord` when the record has begun before it.
ReadStatus readText(DetectionInput& input, char* target, const char* name, bool insideRecord,
                    ReadProblem& problem) {
    std::string_view text;
    if (!nextText(input, text)) {
        return stopped(input, problem, insideRecord);
    }
    if (const ReadReason why = copyText(target, text); why != ReadReason::None) {
        note(input, problem, why).column = name;
        return refused(input);
    }
    return ReadStatus::Record;
}

// The separator, the next non-blank line, whatever it holds unless it is
// a line of numbers; then the two text lines. A lone separator closes the
// file.
ReadStatus readTexts(DetectionInput& input, DetectionRecord& record, ReadProblem& problem) {
    std::string_view text;
    if (!nextText(input, text)) {
        return stopped(input, problem, false);
    }
    problem.recordLine = input.text.lineNumber;
    if (isNumberLine(text.data(), text.data() + text.size())) {
        note(input, problem, ReadReason::SeparatorExpected).value = quotedValue(text);
        return refused(input);
    }
    input.separator.assign(trimmed(text.data(), text.data() + text.size()));
    const ReadStatus ff = readText(input, record.ffFileName, kFfTextLine, false, problem);
    return ff != ReadStatus::Record
               ? ff
               : readText(input, record.calFileName, kCalTextLine, true, problem);
}

enum class ItemResult { Ok, End, Bad };

// Where the values of a line of numbers (a numbers line or a segment line)
// stand. Each begins on a line of its own; its values may go on over the
// lines that follow, but the line that holds its last value must end with
// it, so that no value slides into the next line's place.
struct ValueLines {
    NumberLineKind kind;
    long first;               // the line of its first value
    int firstValues;          // the values that line holds once they went on past it, else 0
    long current;             // the line of the value read last
    std::size_t currentFrom;  // the column of the first value read from that line
};

ValueLines valueLinesAt(const DetectionInput& input, NumberLineKind kind) {
    const long line = input.text.lineNumber;
    return ValueLines{kind, line, 0, line, 0};
}

// The value of column `at` was read from a further line than the one before.
[[gnu::noinline]] void wentOnAt(const DetectionInput& input, ValueLines& lines, std::size_t at) {
    if (lines.firstValues == 0) {
        lines.firstValues = static_cast<int>(at);
    }
    lines.current = input.text.lineNumber;
    lines.currentFrom = at;
}

// Refuses the record whose line of numbers holds more or fewer values than
// its columns, at the line where it begins.
ReadStatus valueCountWrong(DetectionInput& input, ReadProblem& problem, const ValueLines& lines,
                           int values) {
    setProblem(problem, ReadReason::ValueCount, lines.first);
    problem.lineKind = lines.kind;
    problem.lineValues = values;
    return refused(input);
}

// Keeps the rest of the current line as `line` in written form.
template <std::size_t N>
void keepRestOfLine(DetectionInput& input, DetectionRecord& record, NumberLine<N>& line) {
    const char* first = input.rest;
    input.rest = input.restEnd;
    keepWrittenLine(record, line, first, static_cast<std::uint32_t>(input.restEnd - first));
}

// Reads the next item as a whole number of `column` into `number`.
ItemResult readWhole(DetectionInput& input, const NumberColumn& column, ReadNumber& number,
                     DetectionRecord& record, std::string_view& item) {
    if (!nextItem(input, item)) {
        return ItemResult::End;
    }
    if (!parseWholeNumber(item, number.whole)) {
        return ItemResult::Bad;
    }
    const char* first = item.data();
    const char* end = first + item.size();
    const bool written = !input.convertByValue && isWrittenNumber(column, first, end);
    number.written = written ? keepWrittenNumber(record, first, end) : WrittenText{};
    return ItemResult::Ok;
}

// Reads the next item as a decimal of `column` into `number`. Most items
// are plain decimals, converted in the same pass that finds their end;
// every number in written form is one.
ItemResult readDecimal(DetectionInput& input, const NumberColumn& column, ReadNumber& number,
                       DetectionRecord& record, std::string_view& item) {
    if (!skipBlanks(input)) {
        return ItemResult::End;
    }
    const char* first = input.rest;
    const char* end = parsePlainDecimalPrefix(first, input.restEnd, number.decimal);
    if (end != nullptr && (end == input.restEnd || isBlank(*end))) {
        input.rest = end;
        const bool written = !input.convertByValue && isWrittenNumber(column, first, end) &&
                             showsAsRead(column, number.decimal);
        number.written = written ? keepWrittenNumber(record, first, end) : WrittenText{};
        return ItemResult::Ok;
    }
    nextItem(input, item);
    number.written = WrittenText{};
    return parseDecimalNumber(item, number.decimal) ? ItemResult::Ok : ItemResult::Bad;
}

// Reads a line of `columns` number by number into `line`; `at` is left at
// the column of the last item read, and `lines` follows the lines they
// come from. #Segments goes to the record as well, and the numbers after
// it are not read when it is more than a record holds.
template <std::size_t N>
ItemResult readNumbers(DetectionInput& input, const NumberColumn (&columns)[N],
                       NumberLine<N>& line, DetectionRecord& record, std::size_t& at,
                       std::string_view& item, ValueLines& lines) {
    beginHeldLine(record, line);
    // Unrolled, so that each column's kind and role are constants.
#pragma GCC unroll 16
    for (at = 0; at < N; ++at) {
        const NumberColumn& column = columns[at];
        ReadNumber& number = line.numbers[at];
        const ItemResult result = column.kind == NumberKind::Whole
                                      ? readWhole(input, column, number, record, item)
                                      : readDecimal(input, column, number, record, item);
        if (input.text.lineNumber != lines.current) [[unlikely]] {
            wentOnAt(input, lines, at);
        }
        if (result != ItemResult::Ok) {
            return result;
        }
        if (column.role == ColumnRole::SegmentCount) {
            record.segmentCount = number.whole;
            if (record.segmentCount > kMaxSegments) {
                return ItemResult::Ok;
            }
        }
    }
    endHeldLine(record, line);
    return ItemResult::Ok;
}

// A line of numbers of `N` columns that could not be read whole: the end
// of the input, or the item of column `at` that is no number of its kind.
// Such an item on a further line, where the values before it ended with
// their line or where more items follow than the columns left, tells a
// line of fewer values than its columns.
template <std::size_t N>
ReadStatus numbersFailed(DetectionInput& input, ReadProblem& problem, ItemResult result,
                         const NumberColumn (&columns)[N], std::size_t at, std::string_view item,
                         const ValueLines& lines, int segment) {
    if (result == ItemResult::End) {
        return stopped(input, problem, true);
    }
    if (lines.current != lines.first &&
        (at == lines.currentFrom ||
         static_cast<std::size_t>(countItems(input.lineStart, input.restEnd)) >
             N - lines.currentFrom)) {
        return valueCountWrong(input, problem, lines, lines.firstValues);
    }
    const NumberColumn& column = columns[at];
    const bool whole = column.kind == NumberKind::Whole;
    ReadProblem& bad =
        note(input, problem, whole ? ReadReason::NotAWholeNumber : ReadReason::NotANumber);
    bad.value = quotedValue(item);
    bad.column = column.name;
    bad.segment = segment;
    return refused(input);
}

// After the last value of a line of numbers of `N` columns: its line ends
// with it. More values there belong to no column: the line holds more
// values than its columns, or, when its values began on an earlier line,
// that line held fewer. After the record's last value that is told as the
// text that follows it.
template <std::size_t N>
ReadStatus checkLineEnd(DetectionInput& input, ReadProblem& problem, const ValueLines& lines,
                        bool lastOfRecord) {
    const char* extra = skipBlanksIn(input.rest, input.restEnd);
    if (extra == input.restEnd) [[likely]] {
        return ReadStatus::Record;
    }
    const int values = lines.firstValues != 0 ? lines.firstValues
                                              : static_cast<int>(N) + countItems(extra, input.restEnd);
    if (!lastOfRecord) {
        return valueCountWrong(input, problem, lines, values);
    }
    const std::string_view text(extra, static_cast<std::size_t>(input.restEnd - extra));
    input.rest = input.restEnd;
    ReadProblem& after = note(input, problem, ReadReason::TextAfterLastValue);
    after.value = quotedValue(text);
    after.lineKind = lines.kind;
    after.lineValues = values;
    return refused(input);
}

// Keeps the rest of the current line as the numbers line when it is one
// in written form whose numbers all show as read (a frame rate of zero
// does not); takes #Segments from it.
bool keepWrittenNumbersLine(DetectionInput& input, DetectionRecord& record) {
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
    parseWholeNumber(numberOfLine(input.rest, ends, kSegmentCountColumn), record.segmentCount);
    keepRestOfLine(input, record, record.numbersLine);
    return true;
}

// Keeps the rest of the current line as segment line `line` when it is
// one in written form.
bool keepWrittenSegmentLine(DetectionInput& input, DetectionRecord& record,
                            NumberLine<kSegmentLineColumnCount>& line) {
    if (input.convertByValue ||
        !isWrittenSegmentLine(input.rest, input.restEnd, readableEnd(input.text))) {
        return false;
    }
    keepRestOfLine(input, record, line);
    return true;
}

ReadStatus tooManySegments(DetectionInput& input, const DetectionRecord& record,
                           ReadProblem& problem) {
    ReadProblem& tooMany = note(input, problem, ReadReason::TooManySegments);
    tooMany.column = kNumbersLineColumns[kSegmentCountColumn].name;
    tooMany.count = record.segmentCount;
    return refused(input);
}

ReadStatus readNumbersLine(DetectionInput& input, DetectionRecord& record, ReadProblem& problem) {
    if (!skipBlanks(input)) {
        return stopped(input, problem, true);
    }
    if (keepWrittenNumbersLine(input, record)) {
        return record.segmentCount > kMaxSegments ? tooManySegments(input, record, problem)
                                                  : ReadStatus::Record;
    }
    std::size_t at = 0;
    std::string_view item;
    ValueLines lines = valueLinesAt(input, NumberLineKind::Numbers);
    const ItemResult result =
        readNumbers(input, kNumbersLineColumns, record.numbersLine, record, at, item, lines);
    if (result != ItemResult::Ok) {
        return numbersFailed(input, problem, result, kNumbersLineColumns, at, item, lines, 0);
    }
    if (record.segmentCount > kMaxSegments) {
        return tooManySegments(input, record, problem);
    }
    return checkLineEnd<kNumbersLineColumnCount>(input, problem, lines, record.segmentCount <= 0);
}

ReadStatus readSegmentLines(DetectionInput& input, DetectionRecord& record, ReadProblem& problem) {
    for (int s = 0; s < record.segmentCount; ++s) {
        if (!skipBlanks(input)) {
            return stopped(input, problem, true);
        }
        NumberLine<kSegmentLineColumnCount>& line = record.segmentLines[s];
        if (keepWrittenSegmentLine(input, record, line)) {
            continue;
        }
        std::size_t at = 0;
        std::string_view item;
        ValueLines lines = valueLinesAt(input, NumberLineKind::Segment);
        const ItemResult result =
            readNumbers(input, kSegmentLineColumns, line, record, at, item, lines);
        if (result != ItemResult::Ok) {
            return numbersFailed(input, problem, result, kSegmentLineColumns, at, item, lines,
                                 s + 1);
        }
        const ReadStatus end = checkLineEnd<kSegmentLineColumnCount>(
            input, problem, lines, s + 1 == record.segmentCount);
        if (end != ReadStatus::Record) {
            return end;
        }
    }
    return ReadStatus::Record;
}

// The record ends with its last value, and its line with it (see
// checkLineEnd). Nor may the next non-blank line read wholly as numbers:
// it would be one more segment line than #Segments announced. The look
// ahead only moves through the buffered lines.
ReadStatus checkRecordEnd(DetectionInput& input, const DetectionRecord& record,
                          ReadProblem& problem) {
    input.rest = input.restEnd;
    if (skipBlanks(input) && isNumberLine(input.rest, input.restEnd)) {
        ReadProblem& more = note(input, problem, ReadReason::MoreSegmentLines);
        more.column = kNumbersLineColumns[kSegmentCountColumn].name;
        more.count = record.segmentCount;
        return refused(input);
    }
    return ReadStatus::Record;
}

// The end of the input inside the header, after `taken` of its lines.
HeaderStatus headerStopped(DetectionInput& input, ReadProblem& problem, int taken) {
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

// Keeps the words that `first`..`last`, the header's segment line, names
// after the layout's segment columns, when it names those first.
void keepExtraSegmentColumns(DetectionInput& input, const char* first, const char* last) {
    auto nextWord = [&first, last] {
        const char* start = skipBlanksIn(first, last);
        first = itemEnd(start, last);
        return std::string_view(start, static_cast<std::size_t>(first - start));
    };
    std::string_view word = nextWord();
    while (!word.empty() && word != kSegmentLineColumns[0].name) {
        word = nextWord();
    }
    if (word.empty()) {
        return;
    }
    for (std::size_t c = 1; c < kSegmentLineColumnCount; ++c) {
        if (nextWord() != kSegmentLineColumns[c].name) {
            return;
        }
    }
    for (word = nextWord(); !word.empty(); word = nextWord()) {
        input.extraSegmentColumns += input.extraSegmentColumns.empty() ? "" : " ";
        input.extraSegmentColumns += word;
    }
}

}  // namespace

void startDetectionInput(DetectionInput& input, std::FILE* file) {
    startTextInput(input.text, file);
    input.rest = input.restEnd = input.lineStart = nullptr;
    input.longLine = 0;
    input.separator.clear();
    input.extraSegmentColumns.clear();
}

HeaderStatus readDetectionHeader(DetectionInput& input, ReadProblem& problem) {
    for (int taken = 0; taken < kHeaderLines;) {
        if (!nextLine(input)) {
            return headerStopped(input, problem, taken);
        }
        input.rest = skipBlanksIn(input.rest, input.restEnd);
        if (input.rest != input.restEnd) {
            ++taken;
        }
    }
    keepExtraSegmentColumns(input, input.rest, input.restEnd);
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
    record.writtenTextLength = 0;
    record.ffFileName[0] = '\0';  // filled only once the record's FF file line is read whole
    ReadStatus status = readTexts(input, record, problem);
    if (status == ReadStatus::Record) {
        status = readNumbersLine(input, record, problem);
    }
    if (status == ReadStatus::Record) {
        status = readSegmentLines(input, record, problem);
    }
    if (status == ReadStatus::Record) {
        status = checkRecordEnd(input, record, problem);
    }
    if (status == ReadStatus::Damaged) {
        problem.ffFile = record.ffFileName;
    }
    return status;
}
