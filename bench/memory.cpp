// The memory figures of the benchmark table for a build that cannot run the
// benchmarks (the 32-bit one, under qemu-i386): loads the same large
// configuration and prints "file peak held" in bytes on one line.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/inputs.h"
#include "bench/memory.h"

int main() {
    using namespace quillgate;
    if (!runtime_init()) return 1;
    char folder[] = "/tmp/quillgate-memory-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    std::string path = std::string(folder) + "/large.xml";
    std::string config = bench::make_config(30 * 1024 * 1024);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(config.data(), static_cast<std::streamsize>(config.size()));
    }
    bench::memory_use use = bench::measure_memory(path, config.size());
    std::remove(path.c_str());
    std::remove(folder);
    runtime_end();
    heap_destroy();
    if (use.loaded == 0) return 1;
    std::printf("%zu %zu %zu\n", use.file, use.peak, use.loaded);
    return 0;
}
