// Runs a fuzz harness over files instead of under the fuzzer: every file named
// on the command line, or every file inside a folder named there, is fed once to
// LLVMFuzzerTestOneInput. The corpus of each harness runs as a plain test this way.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> input_files(const std::filesystem::path& path)
{
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(path)) {
        for (const auto& entry : std::filesystem::directory_iterator(path))
            if (entry.is_regular_file())
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path);
    }
    return files;
}

bool run_file(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    // An empty vector's data() may be null; the fuzzer always passes a valid pointer.
    static const uint8_t empty = 0;
    const auto* data = bytes.empty() ? &empty : reinterpret_cast<const uint8_t*>(bytes.data());
    LLVMFuzzerTestOneInput(data, bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    size_t runs = 0;
    bool all_read = true;
    for (int i = 1; i < argc; ++i)
        for (const auto& file : input_files(argv[i])) {
            all_read = run_file(file) && all_read;
            ++runs;
        }
    std::printf("%zu inputs run\n", runs);
    if (runs == 0) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    return all_read ? 0 : 1;
}
