#include "written_line.h"

#include <algorithm>
#include <cstring>

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
