#include "detection_input.h"

#include "number_text.h"

namespace {

bool isHyphenLine(std::string_view text) {
    return !text.empty() && text.find_first_not_of('-') == std::string_view::npos;
}

bool isResyncLine(const DetectionInput& input, const char* first, const char* last) {
    std::string_view text = trimmed(first, last);
    return isHyphenLine(text) || (!input.separator.empty() && text == input.separator);
}

}  // namespace

std::string_view trimmed(const char* first, const char* last) {
    first = skipBlanksIn(first, last);
    while (last != first && isBlank(last[-1])) {
        --last;
    }
    return std::string_view(first, static_cast<std::size_t>(last - first));
}

bool isNumberLine(const char* first, const char* last) {
    bool anyItem = false;
    for (first = skipBlanksIn(first, last); first != last; first = skipBlanksIn(first, last)) {
        // Separators and texts mostly fail at their first characters,
        // before their end is looked for.
        if (!beginsAsNumber(first, last)) {
            return false;
        }
        const char* end = itemEnd(first, last);
        if (!readsAsNumber(std::string_view(first, static_cast<std::size_t>(end - first)))) {
            return false;
        }
        anyItem = true;
        first = end;
    }
    return anyItem;
}

bool nextLine(DetectionInput& input) {
    if (input.longLine != 0) {
        return false;
    }
    const char* first = nullptr;
    const char* last = nullptr;
    const LineResult result = takeLine(input.text, first, last);
    if (result != LineResult::Line) {
        if (result == LineResult::TooLong) {
            input.longLine = input.text.lineNumber;
        }
        input.rest = input.restEnd = input.lineStart = nullptr;
        return false;
    }
    input.lineStart = input.rest = first;
    input.restEnd = last;
    return true;
}

bool skipBlankLines(DetectionInput& input) {
    for (;;) {
        if (!nextLine(input)) {
            return false;
        }
        input.rest = skipBlanksIn(input.rest, input.restEnd);
        if (input.rest != input.restEnd) {
            return true;
        }
    }
}

void skipToSeparator(DetectionInput& input) {
    input.longLine = 0;
    if (input.lineStart != nullptr && isResyncLine(input, input.lineStart, input.restEnd)) {
        input.rest = input.lineStart;
        return;
    }
    for (;;) {
        if (!nextLine(input)) {
            if (input.longLine == 0) {
                return;
            }
            input.longLine = 0;
            continue;
        }
        if (isResyncLine(input, input.lineStart, input.restEnd)) {
            input.rest = input.lineStart;
            return;
        }
    }
}
