// Runs a fuzz target as one test of the suite, without libFuzzer: every seed
// in the folder named, then variations of each made by a fixed generator
// (bytes replaced by ones the readers treat specially, inserted, cut, or
// pieces of another seed spliced in), so that each build checks the target's
// properties over the same few thousand inputs. A failed expectation aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::string> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
        seeds.push_back(quillgate::testing::read_file(entry.path()));
    std::sort(seeds.begin(), seeds.end()); // the same order on every system
    const long variations = argc > 2 ? std::atol(argv[2]) : 12;
    using namespace std::string_literals;
    const std::string special = "<>&;#\"'=/?![]*0123456789\r\n\t \0\x80\xA9\xC3\xE2\xF0\xFF"s;
    std::uint32_t state = 1;
    auto pick = [&state](std::size_t n) {
        state = state * 1664525u + 1013904223u;
        return n == 0 ? 0 : (state >> 8) % n;
    };
    long runs = 0;
    for (const std::string& seed : seeds) {
        for (long variation = 0; variation <= variations; ++variation, ++runs) {
            std::string input = seed;
            for (std::size_t edits = variation == 0 ? 0 : 1 + pick(4); edits > 0; --edits) {
                std::size_t at = pick(input.size() + 1);
                const std::string& other = seeds[pick(seeds.size())];
                switch (pick(4)) {
                case 0: input.insert(at, 1, special[pick(special.size())]); break;
                case 1: input.erase(at, 1 + pick(8)); break;
                case 2: input.insert(at, other.substr(pick(other.size() + 1), pick(40))); break;
                default: input.replace(at, 1, 1, special[pick(special.size())]);
                }
            }
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
        }
    }
    std::printf("%ld inputs from %zu seeds\n", runs, seeds.size());
    return seeds.empty() ? 3 : 0; // no seed at all means the corpus went missing
}
