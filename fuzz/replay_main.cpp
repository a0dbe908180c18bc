// Runs the reader's fuzz target over files and folders of files named on
// the command line, without libFuzzer: every build replays the seed corpus
// and the damaged inputs, and a property that fails aborts the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::printf("cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path named(argv[i]);
        if (!std::filesystem::is_directory(named)) {
            ok = replay(named) && ok;
            ++replayed;
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(named)) {
            if (entry.is_regular_file()) {
                ok = replay(entry.path()) && ok;
                ++replayed;
            }
        }
    }
    std::printf("%d input(s) replayed\n", replayed);
    return ok && replayed > 0 ? 0 : 1;
}
