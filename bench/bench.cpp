// Throughput of the runtime against its peers, measured side by side in one
// run so that the ratios hold even on a shared, noisy machine. The table at
// the end gives every ratio with the target it is held to.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pugixml.hpp>
#include <tinyxml2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/inputs.h"
#include "bench/memory.h"
#include "launcher/sync.h"
#include "runtime/runtime.h"

namespace fs = std::filesystem;
using namespace quillgate;

namespace {

// ---------------------------------------------------------------- inputs

struct inputs {
    fs::path folder;
    std::string small; // about 30 KB
    std::string large; // about 30 MB
    std::string lines; // CR LF text of a few MB
    std::size_t line_count = 0;
    std::string saved;      // where saves go
    std::string editor;     // the kit's editor folder, with config.xml
    std::string launcher_a; // two launcher folders the sync alternates between
    std::string launcher_b;
    std::string move_editor; // a kit whose three editor files hold paths under it
    std::string move_a;      // the two folders that kit moves between
    std::string move_b;
    std::size_t small_size = 0;
    std::size_t large_size = 0;
    std::size_t lines_size = 0;
};

inputs in;

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::size_t size_of(const std::string& path) { return static_cast<std::size_t>(fs::file_size(path)); }

// The kit of the move: the 30 KB configuration with ten recent files, a
// session of 200 open files with their backups, and a Run menu of a dozen
// commands, all under the kit's folder.
void prepare_move_kit(std::string config) {
    fs::create_directories(in.folder / "move" / "notepad");
    in.move_editor = (in.folder / "move" / "notepad").string() + "/";
    in.move_a = (in.folder / "move-a").string() + "/";
    in.move_b = (in.folder / "move-b").string() + "/";
    const std::string& kit = in.move_a;
    std::string history = "    <History nbMaxFile=\"10\" inSubMenu=\"no\" customLength=\"-1\">\r\n";
    for (int i = 0; i < 10; ++i)
        history += "        <File filename=\"" + kit + "work/note" + std::to_string(i) + ".txt\" />\r\n";
    config.insert(config.rfind("</NotepadPlus>"), history + "    </History>\r\n");
    std::string session =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<NotepadPlus>\r\n    <Session activeView=\"0\">\r\n"
        "        <mainView activeIndex=\"0\">\r\n";
    for (int i = 0; i < 200; ++i) {
        std::string n = std::to_string(i);
        session += "            <File firstVisibleLine=\"0\" xOffset=\"0\" scrollWidth=\"1\" startPos=\"" + n +
                   "\" endPos=\"" + n +
                   "\" selMode=\"0\" offset=\"0\" wrapCount=\"1\" lang=\"None\" encoding=\"-1\" "
                   "userReadOnly=\"no\" filename=\"" +
                   kit + "work/doc" + n + ".txt\" backupFilePath=\"" + kit + "notepad/backup/doc" + n +
                   ".txt@2024-01-01_101010\" originalFileLastModifTimestamp=\"0\" "
                   "tabColourId=\"-1\" />\r\n";
    }
    session += "        </mainView>\r\n        <subView activeIndex=\"0\" />\r\n    </Session>\r\n</NotepadPlus>\r\n";
    std::string shortcuts =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<NotepadPlus>\r\n    <InternalCommands />\r\n"
        "    <Macros />\r\n    <UserDefinedCommands>\r\n";
    for (int i = 0; i < 12; ++i) {
        shortcuts += "        <Command name=\"Run " + std::to_string(i) +
                     "\" Ctrl=\"no\" Alt=\"no\" Shift=\"no\" Key=\"0\">\"" + kit + "tools/run.exe\" -o " + kit +
                     "work/out &quot;$(FULL_CURRENT_PATH)&quot;</Command>\r\n";
    }
    shortcuts += "    </UserDefinedCommands>\r\n    <PluginCommands />\r\n</NotepadPlus>\r\n";
    write_file(in.move_editor + config_file_name, config);
    write_file(in.move_editor + session_file_name, session);
    write_file(in.move_editor + shortcuts_file_name, shortcuts);
    write_file(in.move_editor + state_file_name, kit);
}

bool prepare_inputs() {
    std::string pattern = (fs::temp_directory_path() / "quillgate-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    in.folder = pattern;
    std::string config = bench::make_config(30 * 1024);
    std::string big = bench::make_config(30 * 1024 * 1024);
    std::string text = bench::make_lines(8 * 1024 * 1024, &in.line_count);
    in.small = (in.folder / "small.xml").string();
    in.large = (in.folder / "large.xml").string();
    in.lines = (in.folder / "lines.txt").string();
    in.saved = (in.folder / "saved.xml").string();
    write_file(in.small, config);
    write_file(in.large, big);
    write_file(in.lines, text);
    fs::create_directories(in.folder / "kit" / "notepad");
    in.editor = (in.folder / "kit" / "notepad").string() + "/";
    write_file(in.editor + config_file_name, config);
    in.launcher_a = (in.folder / "kit").string() + "/";
    in.launcher_b = (in.folder / "kit-moved").string() + "/";
    prepare_move_kit(config);
    in.small_size = size_of(in.small);
    in.large_size = size_of(in.large);
    in.lines_size = size_of(in.lines);
    return true;
}

// ---------------------------------------------------------------- loading

// Expat with the same handlers the loader installs, all doing nothing: the
// ceiling for any loader built on it.
void XMLCALL no_start(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL no_end(void*, const XML_Char*) {}
void XMLCALL no_text(void*, const XML_Char*, int) {}
void XMLCALL no_comment(void*, const XML_Char*) {}
void XMLCALL no_cdata(void*) {}
void XMLCALL no_doctype(void*, const XML_Char*, const XML_Char*, const XML_Char*, int) {}
void XMLCALL no_doctype_end(void*) {}
void XMLCALL no_declaration(void*, const XML_Char*, const XML_Char*, int) {}
void XMLCALL no_instruction(void*, const XML_Char*, const XML_Char*) {}

bool bare_expat(const std::string& path, const char* encoding) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    fstat(fd, &st);
    XML_Parser parser = XML_ParserCreate(encoding);
    XML_SetElementHandler(parser, no_start, no_end);
    XML_SetCharacterDataHandler(parser, no_text);
    XML_SetDefaultHandlerExpand(parser, no_text);
    XML_SetCommentHandler(parser, no_comment);
    XML_SetCdataSectionHandler(parser, no_cdata, no_cdata);
    XML_SetDoctypeDeclHandler(parser, no_doctype, no_doctype_end);
    XML_SetXmlDeclHandler(parser, no_declaration);
    XML_SetProcessingInstructionHandler(parser, no_instruction);
    bool ok = true;
    off_t total = 0;
    for (;;) {
        void* buffer = XML_GetBuffer(parser, xml_load_chunk_size);
        ssize_t got = read(fd, buffer, xml_load_chunk_size);
        if (got < 0) got = 0;
        total += got;
        bool final = got == 0 || total >= st.st_size;
        if (XML_ParseBuffer(parser, static_cast<int>(got), final) == XML_STATUS_ERROR) {
            ok = false;
            break;
        }
        if (final) break;
    }
    XML_ParserFree(parser);
    close(fd);
    return ok;
}

void load_quillgate(benchmark::State& state, const std::string& path, int flag) {
    for (auto _ : state) {
        std::intptr_t document = xml_load(4, path.c_str(), flag);
        if (document == 0 || xml_status(4) != 0) state.SkipWithError("xml_load failed");
        xml_free(4);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path)));
}

void load_expat(benchmark::State& state, const std::string& path, const char* encoding) {
    for (auto _ : state) {
        if (!bare_expat(path, encoding)) state.SkipWithError("Expat failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path)));
}

void load_pugixml(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_file(path.c_str(), pugi::parse_full)) state.SkipWithError("pugixml failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path)));
}

void load_tinyxml2(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) state.SkipWithError("tinyxml2 failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path)));
}

// ---------------------------------------------------------------- saving

// Throughput counts the bytes each saver writes.
void save_quillgate(benchmark::State& state, const std::string& path) {
    if (xml_load(5, path.c_str(), ENCODING_8BIT) == 0 || xml_status(5) != 0) {
        state.SkipWithError("xml_load failed");
        return;
    }
    for (auto _ : state) {
        if (xml_save(5, in.saved.c_str()) != 1) state.SkipWithError("xml_save failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(in.saved)));
    xml_free(5);
}

void save_pugixml(benchmark::State& state, const std::string& path) {
    pugi::xml_document document;
    if (!document.load_file(path.c_str(), pugi::parse_full)) {
        state.SkipWithError("pugixml failed");
        return;
    }
    for (auto _ : state) {
        if (!document.save_file(in.saved.c_str(), "", pugi::format_raw)) state.SkipWithError("save_file failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(in.saved)));
}

// pugixml writing the same tree as safely as xml_save does: into a
// temporary file beside the target, flushed to the disk, renamed over the
// target, and the folder flushed so that the rename lasts.
bool save_pugixml_durably(const pugi::xml_document& document, const std::string& target) {
    std::string temporary = target + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    pugi::xml_writer_file writer(file);
    document.save(writer, "", pugi::format_raw);
    bool ok = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    ok = std::fclose(file) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), target.c_str()) != 0) return false;
    int folder = open(fs::path(target).parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0) return false;
    ok = fsync(folder) == 0;
    close(folder);
    return ok;
}

void save_pugixml_safe(benchmark::State& state, const std::string& path) {
    pugi::xml_document document;
    if (!document.load_file(path.c_str(), pugi::parse_full)) {
        state.SkipWithError("pugixml failed");
        return;
    }
    for (auto _ : state) {
        if (!save_pugixml_durably(document, in.saved)) state.SkipWithError("durable save failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(in.saved)));
}

void save_tinyxml2(benchmark::State& state, const std::string& path) {
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        state.SkipWithError("tinyxml2 failed");
        return;
    }
    for (auto _ : state) {
        if (document.SaveFile(in.saved.c_str()) != tinyxml2::XML_SUCCESS) state.SkipWithError("SaveFile failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(in.saved)));
}

// The serialisers alone, into memory: no file, no flush to the disk.
int discard(xml_writer* writer) {
    benchmark::DoNotOptimize(writer->buffer_start[0]);
    writer->cursor = writer->buffer_start;
    writer->room = xml_save_buffer_size;
    return 1;
}

void write_quillgate(benchmark::State& state, const std::string& path) {
    if (xml_load(5, path.c_str(), ENCODING_8BIT) == 0 || xml_status(5) != 0) {
        state.SkipWithError("xml_load failed");
        return;
    }
    xml_document* document = xml_document_get(5);
    std::vector<std::uint8_t> buffer(xml_save_buffer_size);
    for (auto _ : state) {
        xml_writer writer{};
        writer.cursor = buffer.data();
        writer.buffer_start = buffer.data();
        writer.room = xml_save_buffer_size;
        writer.flush = discard;
        if (xml_write_document(document, &writer, document->encoding, 0) == 0) state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path)));
    xml_free(5);
}

struct null_writer : pugi::xml_writer {
    std::size_t bytes = 0;
    void write(const void*, size_t size) override { bytes += size; }
};

void write_pugixml(benchmark::State& state, const std::string& path) {
    pugi::xml_document document;
    if (!document.load_file(path.c_str(), pugi::parse_full)) {
        state.SkipWithError("pugixml failed");
        return;
    }
    for (auto _ : state) {
        null_writer writer;
        document.save(writer, "", pugi::format_raw);
        benchmark::DoNotOptimize(writer.bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path)));
}

void write_tinyxml2(benchmark::State& state, const std::string& path) {
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        state.SkipWithError("tinyxml2 failed");
        return;
    }
    for (auto _ : state) {
        tinyxml2::XMLPrinter printer;
        document.Print(&printer);
        benchmark::DoNotOptimize(printer.CStrSize());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path)));
}

// ---------------------------------------------------------------- synchronisation

// Every iteration comes from the other folder, so every one loads, edits and
// saves the configuration and rewrites the state file.
void sync_changed(benchmark::State& state) {
    bool flip = false;
    for (auto _ : state) {
        sync_workspace_folder(flip ? in.launcher_b.c_str() : in.launcher_a.c_str(), in.editor.c_str());
        flip = !flip;
    }
    xml_free(config_document_slot);
}

// Every iteration is a move from the other folder: all three editor files
// have every stored path rewritten and are saved.
void sync_move(benchmark::State& state) {
    bool flip = false;
    for (auto _ : state) {
        sync_workspace_folder(flip ? in.move_a.c_str() : in.move_b.c_str(), in.move_editor.c_str());
        flip = !flip;
    }
    xml_free(config_document_slot);
    if (read_file(in.move_editor + session_file_name).find(flip ? in.move_b : in.move_a) == std::string::npos) {
        state.SkipWithError("the session did not follow the move");
    }
}

// The folder is the recorded one: the state file is read and compared only.
void sync_unchanged(benchmark::State& state) {
    sync_workspace_folder(in.launcher_a.c_str(), in.editor.c_str());
    xml_free(config_document_slot);
    for (auto _ : state) sync_workspace_folder(in.launcher_a.c_str(), in.editor.c_str());
    if (xml_document_get(config_document_slot) != nullptr) state.SkipWithError("the unchanged path loaded");
}

// ---------------------------------------------------------------- line reading

void read_lines_quillgate(benchmark::State& state) {
    for (auto _ : state) {
        if (file_open_with_mode(2, in.lines.c_str(), FILE_MODE_READ, FILE_OPTION_SHARE_READ) == 0) {
            state.SkipWithError("file_open failed");
            break;
        }
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < in.line_count; ++i) bytes += file_read_line(2, ENCODING_8BIT).size();
        benchmark::DoNotOptimize(bytes);
        file_close(2);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.lines_size));
}

void read_lines_getline(benchmark::State& state) {
    for (auto _ : state) {
        std::ifstream file(in.lines, std::ios::binary);
        std::string line;
        std::size_t bytes = 0;
        while (std::getline(file, line)) bytes += line.size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.lines_size));
}

// ---------------------------------------------------------------- block pool

// One pattern for both allocators: build a tree's worth of node-sized
// blocks, give back every other one, take as many again, then release the
// lot in a scattered order, as loading, editing and freeing documents do.
constexpr std::size_t pool_batch = 4096;

struct pool_pattern {
    std::vector<std::size_t> scattered;
    pool_pattern() : scattered(pool_batch) {
        for (std::size_t i = 0; i < pool_batch; ++i) scattered[i] = i;
        bench::sequence s(3);
        for (std::size_t i = pool_batch - 1; i > 0; --i)
            std::swap(scattered[i], scattered[s.below(static_cast<std::uint32_t>(i + 1))]);
    }
};

template <typename Alloc, typename Free>
void run_pattern(const pool_pattern& pattern, std::vector<void*>& blocks, Alloc alloc, Free release) {
    for (std::size_t i = 0; i < pool_batch; ++i) blocks[i] = alloc();
    for (std::size_t i = 1; i < pool_batch; i += 2) release(blocks[i]);
    for (std::size_t i = 1; i < pool_batch; i += 2) blocks[i] = alloc();
    for (std::size_t i : pattern.scattered) release(blocks[i]);
}

// Steady use: a few thousand blocks live, one freed and one taken at a time.
template <typename Alloc, typename Free>
void run_churn(const pool_pattern& pattern, std::vector<void*>& blocks, Alloc alloc, Free release) {
    for (std::size_t i : pattern.scattered) {
        release(blocks[i]);
        blocks[i] = alloc();
    }
}

constexpr std::size_t node_size = sizeof(xml_node);

void pool_tree(benchmark::State& state) {
    pool_pattern pattern;
    std::vector<void*> blocks(pool_batch);
    block_pool* pool = pool_create(static_cast<std::int32_t>(node_size), 32, 512, 0);
    for (auto _ : state)
        run_pattern(
            pattern, blocks, [pool] { return pool_alloc(pool); }, [pool](void* p) { pool_free(pool, p); });
    pool_destroy(pool);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pool_batch * 3));
}

void malloc_tree(benchmark::State& state) {
    pool_pattern pattern;
    std::vector<void*> blocks(pool_batch);
    for (auto _ : state)
        run_pattern(
            pattern, blocks, [] { return std::malloc(node_size); }, [](void* p) { std::free(p); });
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pool_batch * 3));
}

void pool_churn(benchmark::State& state) {
    pool_pattern pattern;
    std::vector<void*> blocks(pool_batch);
    block_pool* pool = pool_create(static_cast<std::int32_t>(node_size), 32, 512, 0);
    for (auto& b : blocks) b = pool_alloc(pool);
    for (auto _ : state)
        run_churn(
            pattern, blocks, [pool] { return pool_alloc(pool); }, [pool](void* p) { pool_free(pool, p); });
    pool_destroy(pool);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pool_batch));
}

void malloc_churn(benchmark::State& state) {
    pool_pattern pattern;
    std::vector<void*> blocks(pool_batch);
    for (auto& b : blocks) b = std::malloc(node_size);
    for (auto _ : state)
        run_churn(
            pattern, blocks, [] { return std::malloc(node_size); }, [](void* p) { std::free(p); });
    for (void* b : blocks) std::free(b);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pool_batch));
}

// ---------------------------------------------------------------- memory

bench::memory_use measure_memory() { return bench::measure_memory(in.large, in.large_size); }

// ---------------------------------------------------------------- the table

// Keeps each benchmark's real and CPU time per iteration (the medians when
// repeated); says on stderr what it has measured, so that the table stays
// the one thing on stdout.
class collector : public benchmark::BenchmarkReporter {
public:
    struct times {
        double real = 0;
        double cpu = 0;
    };
    std::map<std::string, times> seconds;
    std::map<std::string, bool> failed;

    bool ReportContext(const Context&) override { return true; }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            std::string name = run.run_name.function_name;
            if (run.error_occurred) failed[name] = true;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            if (run.iterations == 0) continue;
            bool is_median = run.run_type == Run::RT_Aggregate;
            auto n = static_cast<double>(run.iterations);
            if (is_median || !medians_.count(name))
                seconds[name] = {run.real_accumulated_time / n, run.cpu_accumulated_time / n};
            if (is_median) medians_[name] = true;
            std::fprintf(stderr, "  measured %-28s %s\n", name.c_str(),
                         run.error_occurred ? run.error_message.c_str() : "");
        }
    }

private:
    std::map<std::string, bool> medians_;
};

std::string human_bytes(double bytes) {
    char out[32];
    if (bytes >= 1024.0 * 1024.0) std::snprintf(out, sizeof out, "%.1f MB", bytes / (1024.0 * 1024.0));
    else std::snprintf(out, sizeof out, "%.1f KB", bytes / 1024.0);
    return out;
}

std::string human_time(double seconds) {
    char out[32];
    if (seconds >= 1e-3) std::snprintf(out, sizeof out, "%.2f ms", seconds * 1e3);
    else std::snprintf(out, sizeof out, "%.1f us", seconds * 1e6);
    return out;
}

// Ratios compare CPU time where the work is the processor's (these machines
// are shared: wall time there mostly measures the neighbours), and wall time
// where waiting for the disk is part of the work (saving, synchronising).
enum class clock { cpu, wall };

struct table {
    const collector& results;
    int misses = 0;

    double time(const std::string& name, clock which) const {
        auto found = results.seconds.find(name);
        if (found == results.seconds.end() || results.failed.count(name)) return 0.0;
        return which == clock::cpu ? found->second.cpu : found->second.real;
    }

    void heading(const std::string& title) const { std::printf("\n%s\n", title.c_str()); }

    // One measured line: wall and CPU time per iteration and, with a size,
    // throughput by the clock the group's ratios use.
    void row(const std::string& label, const std::string& name, double bytes, clock which) const {
        double wall = time(name, clock::wall);
        double cpu = time(name, clock::cpu);
        if (wall <= 0.0) {
            bool ran = results.seconds.count(name) != 0 || results.failed.count(name) != 0;
            std::printf("  %-36s %12s\n", label.c_str(), ran ? "failed" : "not run");
            return;
        }
        std::printf("  %-36s %12s %12s", label.c_str(), human_time(wall).c_str(), human_time(cpu).c_str());
        double t = which == clock::cpu ? cpu : wall;
        if (bytes > 0 && t > 0) std::printf(" %10.1f MB/s", bytes / t / 1e6);
        std::printf("\n");
    }

    void verdict(const std::string& label, double value, double target, bool at_most, const char* unit) {
        if (target <= 0) {
            std::printf("  %-36s %11.2f%s\n", label.c_str(), value, unit);
            return;
        }
        bool met = value > 0 && (at_most ? value <= target : value >= target);
        if (!met) ++misses;
        std::printf("  %-36s %11.2f%s   target %s %.2f%s  %s\n", label.c_str(), value, unit,
                    at_most ? "<=" : ">=", target, unit, met ? "met" : "MISSED");
    }

    // Speed of ours relative to a peer: the peer's time over ours.
    void ratio(const std::string& label, const std::string& ours, const std::string& theirs, clock which,
               double target) {
        double a = time(ours, which);
        double b = time(theirs, which);
        verdict(label, a > 0 && b > 0 ? b / a : 0.0, target, false, "x");
    }

    void limit(const std::string& label, const std::string& name, double most, clock which = clock::wall) {
        double t = time(name, which);
        bool met = t > 0 && t < most;
        if (!met) ++misses;
        std::printf("  %-36s %12s %12s   target < %s (%s)  %s\n", label.c_str(),
                    human_time(time(name, clock::wall)).c_str(), human_time(time(name, clock::cpu)).c_str(),
                    human_time(most).c_str(), which == clock::cpu ? "CPU" : "wall", met ? "met" : "MISSED");
    }
};

void print_table(const collector& results, const bench::memory_use& memory) {
    table t{results};
    std::printf("==================== Quillgate benchmark summary ====================\n");
    std::printf("Times per operation (wall, CPU). Ratios are speed ratios from this one run:\n");
    std::printf("the peer's time over ours, so above 1 means ours is faster.\n");
    std::printf("  %-36s %12s %12s %15s\n", "", "wall", "CPU", "throughput");
    for (std::string w : {"small", "large"}) {
        double size = static_cast<double>(w == "small" ? in.small_size : in.large_size);
        std::string l = "load/" + w + "/";
        t.heading("xml_load, " + human_bytes(size) + " configuration (ratios by CPU time)");
        t.row("xml_load flag 24", l + "quillgate-24", size, clock::cpu);
        t.row("xml_load flag -1", l + "quillgate-auto", size, clock::cpu);
        t.row("bare Expat, ISO-8859-1", l + "expat-latin1", size, clock::cpu);
        t.row("bare Expat, no encoding named", l + "expat-auto", size, clock::cpu);
        t.row("pugixml parse_full", l + "pugixml", size, clock::cpu);
        t.row("tinyxml2, whitespace kept", l + "tinyxml2", size, clock::cpu);
        t.ratio("flag 24 vs bare Expat", l + "quillgate-24", l + "expat-latin1", clock::cpu, 0.9);
        t.ratio("flag -1 vs bare Expat", l + "quillgate-auto", l + "expat-auto", clock::cpu, 0.9);
        t.ratio("flag 24 vs pugixml", l + "quillgate-24", l + "pugixml", clock::cpu, 0);
        t.ratio("flag 24 vs tinyxml2", l + "quillgate-24", l + "tinyxml2", clock::cpu, 0);

        std::string v = "save/" + w + "/";
        t.heading("xml_save, " + human_bytes(size) + " configuration (to a file: ratios by wall time)");
        t.row("xml_save", v + "quillgate", size, clock::wall);
        t.row("pugixml, as safely (fsync, rename)", v + "pugixml-safe", size, clock::wall);
        t.row("pugixml save_file format_raw", v + "pugixml", size, clock::wall);
        t.row("tinyxml2 SaveFile", v + "tinyxml2", size, clock::wall);
        t.ratio("xml_save vs pugixml as safely", v + "quillgate", v + "pugixml-safe", clock::wall, 1.0);
        t.ratio("xml_save vs pugixml save_file", v + "quillgate", v + "pugixml", clock::wall, 0);
        t.ratio("xml_save vs tinyxml2", v + "quillgate", v + "tinyxml2", clock::wall, 0);
        std::string m = "write/" + w + "/";
        t.heading("the same serialisers into memory (ratios by CPU time)");
        t.row("xml_write_document", m + "quillgate", size, clock::cpu);
        t.row("pugixml save to a writer, format_raw", m + "pugixml", size, clock::cpu);
        t.row("tinyxml2 XMLPrinter", m + "tinyxml2", size, clock::cpu);
        t.ratio("xml_write_document vs pugixml", m + "quillgate", m + "pugixml", clock::cpu, 1.0);
        t.ratio("xml_write_document vs tinyxml2", m + "quillgate", m + "tinyxml2", clock::cpu, 0);
    }

    t.heading("sync_workspace_folder, " + human_bytes(static_cast<double>(in.small_size)) + " configuration");
    t.limit("folder changed (load, edit, save)", "sync/changed", 1e-3);
    t.limit("folder unchanged (state read only)", "sync/unchanged", 50e-6);
    t.limit("unchanged, by CPU time", "sync/unchanged", 50e-6, clock::cpu);
    t.heading("the kit moved: config.xml, session.xml with 200 files, shortcuts.xml");
    t.limit("every stored path follows (CPU)", "sync/move", 3e-3, clock::cpu);

    double lines = static_cast<double>(in.lines_size);
    t.heading("file_read_line, " + human_bytes(lines) + " of CR LF lines (ratios by CPU time)");
    t.row("file_read_line encoding 24", "lines/quillgate", lines, clock::cpu);
    t.row("std::getline on std::ifstream", "lines/getline", lines, clock::cpu);
    t.ratio("file_read_line vs std::getline", "lines/quillgate", "lines/getline", clock::cpu, 1.0);

    t.heading("pool_alloc/pool_free, node-sized blocks (ratios by CPU time)");
    t.row("pool, tree pattern", "pool/tree/pool", 0, clock::cpu);
    t.row("malloc/free, tree pattern", "pool/tree/malloc", 0, clock::cpu);
    t.row("pool, steady churn", "pool/churn/pool", 0, clock::cpu);
    t.row("malloc/free, steady churn", "pool/churn/malloc", 0, clock::cpu);
    t.ratio("pool vs malloc, tree pattern", "pool/tree/pool", "pool/tree/malloc", clock::cpu, 2.0);
    t.ratio("pool vs malloc, steady churn", "pool/churn/pool", "pool/churn/malloc", clock::cpu, 1.0);

    t.heading("Memory of a loaded configuration (runtime heap bytes)");
    double file = static_cast<double>(memory.file);
    std::printf("  %-36s %12s\n", "file size", human_bytes(file).c_str());
    std::printf("  %-36s %12s\n", "peak during xml_load", human_bytes(static_cast<double>(memory.peak)).c_str());
    std::printf("  %-36s %12s\n", "held once loaded", human_bytes(static_cast<double>(memory.loaded)).c_str());
    std::printf("  %-36s %12s\n", "  of which the string pool", human_bytes(static_cast<double>(memory.pool)).c_str());
    std::printf("  %-36s %12s\n", "  string pool bytes in use",
                human_bytes(static_cast<double>(memory.pool_used)).c_str());
    t.verdict("peak / file size", file > 0 ? static_cast<double>(memory.peak) / file : 0.0, 2.0, true, "x");
    t.verdict("held / file size", file > 0 ? static_cast<double>(memory.loaded) / file : 0.0, 1.5, true, "x");
    // The 32-bit build's figures, measured by scripts/bench with the
    // native32 build under qemu-i386 just before this run: "file peak held".
    double file32 = 0;
    double peak32 = 0;
    double held32 = 0;
    const char* figures32 = std::getenv("QUILLGATE_MEMORY32");
    if (figures32 != nullptr && std::sscanf(figures32, "%lf %lf %lf", &file32, &peak32, &held32) == 3 && file32 > 0) {
        std::printf("  %-36s %12s\n", "32-bit: held once loaded", human_bytes(held32).c_str());
        t.verdict("32-bit: peak / file size", peak32 / file32, 2.0, true, "x");
        t.verdict("32-bit: held / file size", held32 / file32, 1.5, true, "x");
    } else {
        std::printf("  %-36s %12s\n", "32-bit figures", "not measured");
    }

    std::printf("\n%d target(s) missed.\n", t.misses);
}

void register_all() {
    for (const char* which : {"small", "large"}) {
        std::string w = which;
        const std::string& path = w == "small" ? in.small : in.large;
        benchmark::RegisterBenchmark(("load/" + w + "/quillgate-24").c_str(), load_quillgate, path, ENCODING_8BIT);
        benchmark::RegisterBenchmark(("load/" + w + "/expat-latin1").c_str(), load_expat, path, "ISO-8859-1");
        benchmark::RegisterBenchmark(("load/" + w + "/quillgate-auto").c_str(), load_quillgate, path, -1);
        benchmark::RegisterBenchmark(("load/" + w + "/expat-auto").c_str(), load_expat, path, nullptr);
        benchmark::RegisterBenchmark(("load/" + w + "/pugixml").c_str(), load_pugixml, path);
        benchmark::RegisterBenchmark(("load/" + w + "/tinyxml2").c_str(), load_tinyxml2, path);
        benchmark::RegisterBenchmark(("save/" + w + "/quillgate").c_str(), save_quillgate, path);
        benchmark::RegisterBenchmark(("save/" + w + "/pugixml-safe").c_str(), save_pugixml_safe, path);
        benchmark::RegisterBenchmark(("save/" + w + "/pugixml").c_str(), save_pugixml, path);
        benchmark::RegisterBenchmark(("save/" + w + "/tinyxml2").c_str(), save_tinyxml2, path);
        benchmark::RegisterBenchmark(("write/" + w + "/quillgate").c_str(), write_quillgate, path);
        benchmark::RegisterBenchmark(("write/" + w + "/pugixml").c_str(), write_pugixml, path);
        benchmark::RegisterBenchmark(("write/" + w + "/tinyxml2").c_str(), write_tinyxml2, path);
    }
    benchmark::RegisterBenchmark("sync/changed", sync_changed);
    benchmark::RegisterBenchmark("sync/unchanged", sync_unchanged);
    benchmark::RegisterBenchmark("sync/move", sync_move);
    benchmark::RegisterBenchmark("lines/quillgate", read_lines_quillgate);
    benchmark::RegisterBenchmark("lines/getline", read_lines_getline);
    benchmark::RegisterBenchmark("pool/tree/pool", pool_tree);
    benchmark::RegisterBenchmark("pool/tree/malloc", malloc_tree);
    benchmark::RegisterBenchmark("pool/churn/pool", pool_churn);
    benchmark::RegisterBenchmark("pool/churn/malloc", malloc_churn);
}

} // namespace

int main(int argc, char** argv) {
    if (!runtime_init()) {
        std::fprintf(stderr, "the runtime heap could not be created\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!prepare_inputs()) {
        std::fprintf(stderr, "the benchmark inputs could not be written\n");
        return 1;
    }
    register_all();
    bench::memory_use memory = measure_memory();
    collector results;
    benchmark::RunSpecifiedBenchmarks(&results);
    print_table(results, memory);
    benchmark::Shutdown();
    runtime_end();
    heap_destroy();
    std::error_code ignored;
    fs::remove_all(in.folder, ignored);
    return 0;
}
