// Writes a synthetic FF folder for timing the merge: one detection-info
// file per camera, each with its eleven header lines and the given number
// of records of the given number of segments, CR LF line ends, values in
// the written layout of detection-info files. With --other-forms the same
// values are written in the other forms a reader must take: decimals
// without zero padding or trailing zeros, a leading +, exponents. The same
// arguments always give the same bytes.
//
// Usage: generate_ff_folder [--other-forms] FOLDER CAMERAS RECORDS SEGMENTS

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A small fixed generator (splitmix64), so the data is the same on every host.
struct Random {
    std::uint64_t state;
};

std::uint64_t next(Random& random) {
    std::uint64_t z = (random.state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// A value in [low, high) on a grid of 1/steps, so the texts carry exact
// decimals like the files that camera programs write.
double uniform(Random& random, double low, double high, int stepsPerUnit) {
    auto span = static_cast<std::uint64_t>((high - low) * stepsPerUnit);
    return low + static_cast<double>(next(random) % span) / stepsPerUnit;
}

long parseCount(const char* text, const char* what, long maximum) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > maximum) {
        std::fprintf(stderr, "generate_ff_folder: %s must be a whole number from 0 to %ld\n",
                     what, maximum);
        std::exit(2);
    }
    return value;
}

struct Output {
    std::FILE* file;
    std::vector<char> text;
};

[[gnu::format(printf, 2, 3)]] void append(Output& output, const char* format, ...) {
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    output.text.insert(output.text.end(), line, line + length);
}

// How the numbers of a folder are written.
enum class Forms { Written, Other };

struct Writer {
    Output output;
    Forms forms;
    unsigned turn = 0;  // which of the other forms comes next
};

// Appends `text` and a blank.
void appendField(Writer& writer, const char* text) {
    append(writer.output, "%s ", text);
}

// Ends the line: its last blank becomes CR LF. Whole lines go to the file
// a megabyte at a time.
void endLine(Writer& writer) {
    Output& output = writer.output;
    output.text.back() = '\r';
    output.text.push_back('\n');
    if (output.text.size() >= (1u << 20)) {
        std::fwrite(output.text.data(), 1, output.text.size(), output.file);
        output.text.clear();
    }
}

void appendWhole(Writer& writer, long value, int width) {
    char text[32];
    if (writer.forms == Forms::Written) {
        std::snprintf(text, sizeof text, "%0*ld", width, value);
    } else {
        // Unpadded, and every third time with a leading +.
        std::snprintf(text, sizeof text, writer.turn++ % 3 == 1 ? "%+ld" : "%ld", value);
    }
    appendField(writer, text);
}

// A decimal in the written form of its column, or in turn: unpadded without
// trailing zeros ("25", "12.4"), unpadded with a leading + ("+345.60"), and
// with an exponent that keeps every digit ("3.456e+02").
void appendDecimal(Writer& writer, double value, int width, int precision) {
    char text[64];
    if (writer.forms == Forms::Written) {
        std::snprintf(text, sizeof text, "%0*.*f", width, precision, value);
        appendField(writer, text);
        return;
    }
    std::snprintf(text, sizeof text, "%.*f", precision, value);
    switch (writer.turn++ % 3) {
    case 0: {
        char* end = text + std::strlen(text);
        while (end[-1] == '0') {
            --end;
        }
        if (end[-1] == '.') {
            --end;
        }
        *end = '\0';
        break;
    }
    case 1:
        std::snprintf(text, sizeof text, "%+.*f", precision, value);
        break;
    default: {
        // As many significant digits as the plain text holds.
        int digits = 0;
        bool leading = true;
        for (const char* c = text; *c != '\0'; ++c) {
            if (*c >= '1' && *c <= '9') {
                leading = false;
            }
            if (*c >= '0' && *c <= '9' && !leading) {
                ++digits;
            }
        }
        std::snprintf(text, sizeof text, "%.*e", digits > 0 ? digits - 1 : 0, value);
        break;
    }
    }
    appendField(writer, text);
}

void writeCameraFile(const std::string& path, Forms forms, int camera, long records,
                     long segments) {
    Writer writer{{std::fopen(path.c_str(), "wb"), {}}, forms};
    Output& output = writer.output;
    if (output.file == nullptr) {
        std::fprintf(stderr, "generate_ff_folder: cannot create %s: %s\n", path.c_str(),
                     std::strerror(errno));
        std::exit(1);
    }
    Random random{static_cast<std::uint64_t>(camera) * 7919u + 17u};
    const char* rule = "-----------------------------------------------------";
    append(output, "Meteor Count = %06ld\r\n%s\r\n", records, rule);
    append(output, "Processed with KEL 1.6 on Mon Nov 30 05:41:12 2026\r\n%s\r\n", rule);
    append(output, "FF  folder = D:\\obs\\HALD\\ff\\night1\\\r\n");
    append(output, "CAL folder = D:\\obs\\HALD\\Cal\\\r\n%s\r\n", rule);
    append(output, "FF  file processed\r\nCAL file processed\r\n");
    append(output, "Cam# Meteor# #Segments fps hnr mle bin Pix/fm Rho Phi\r\n");
    append(output, "Per segment:  Frame# Col Row RA Dec Azim Elev Inten\r\n");

    for (long r = 0; r < records; ++r) {
        long seconds = r * 11 % 86400;
        append(output, "-------------------------------------------------------\r\n");
        append(output, "FF_HALD%02d_20261130_%02ld%02ld%02ld_%03ld_%07ld.fits\r\n", camera,
               seconds / 3600, seconds / 60 % 60, seconds % 60, r % 1000, r * 256 % 10000000);
        append(output, "CAL_HALD%02d_20261129.txt\r\n", camera);
        appendWhole(writer, camera, 4);
        appendWhole(writer, r + 1, 4);
        appendWhole(writer, segments, 4);
        appendDecimal(writer, r % 7 == 0 ? 0.0 : 25.0, 7, 2);
        appendDecimal(writer, uniform(random, 3, 40, 10), 5, 1);
        appendDecimal(writer, uniform(random, 2, 30, 10), 5, 1);
        appendDecimal(writer, 1.0, 5, 1);
        appendDecimal(writer, uniform(random, 0, 20, 10), 5, 1);
        appendDecimal(writer, uniform(random, 0, 360, 10), 6, 1);
        appendDecimal(writer, uniform(random, -180, 360, 10), 6, 1);
        endLine(writer);
        double frame = uniform(random, 0, 200, 1);
        double col = uniform(random, 0, 700, 100);
        double row = uniform(random, 0, 500, 100);
        double ra = uniform(random, 0, 360, 100);
        double dec = uniform(random, -90, 90, 100);
        double azim = uniform(random, 0, 360, 100);
        double elev = uniform(random, 0, 90, 100);
        for (long s = 0; s < segments; ++s) {
            appendDecimal(writer, frame + static_cast<double>(s), 6, 1);
            appendDecimal(writer, col + uniform(random, 0, 5, 100), 7, 2);
            appendDecimal(writer, row + uniform(random, -5, 5, 100), 7, 2);
            appendDecimal(writer, ra + uniform(random, 0, 0.2, 100), 6, 2);
            appendDecimal(writer, dec + uniform(random, -0.1, 0.1, 100), 6, 2);
            appendDecimal(writer, azim + uniform(random, 0, 0.2, 100), 6, 2);
            appendDecimal(writer, elev - uniform(random, 0, 0.1, 100), 6, 2);
            appendWhole(writer, static_cast<long>(200 + next(random) % 4000), 6);
            endLine(writer);
        }
    }
    std::fwrite(output.text.data(), 1, output.text.size(), output.file);
    if (std::ferror(output.file) != 0 || std::fclose(output.file) != 0) {
        std::fprintf(stderr, "generate_ff_folder: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Forms forms = Forms::Written;
    if (argc > 1 && std::strcmp(argv[1], "--other-forms") == 0) {
        forms = Forms::Other;
        --argc;
        ++argv;
    }
    if (argc != 5) {
        std::fprintf(stderr,
                     "usage: generate_ff_folder [--other-forms] FOLDER CAMERAS RECORDS SEGMENTS\n");
        return 2;
    }
    std::string folder = argv[1];
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    long cameras = parseCount(argv[2], "CAMERAS", 9999);
    long records = parseCount(argv[3], "RECORDS", 99999);
    long segments = parseCount(argv[4], "SEGMENTS", 512);
    for (long camera = 1; camera <= cameras; ++camera) {
        char name[64];
        std::snprintf(name, sizeof name, "KELdetectinfo_%04ld_20261130_HALD%02ld.txt", camera,
                      camera % 100);
        writeCameraFile(folder + name, forms, static_cast<int>(camera), records, segments);
    }
    return 0;
}
