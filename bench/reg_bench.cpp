// reg_bench: measurements of the native registry at scale, run by
// scripts/benchmark.sh (which also runs Wine's reg on the same files and prints
// the table). Each command prints one line of key=value fields.
//
//   reg_bench generate FILE --values N [--shape spread|values|subkeys]
//                           [--order ascending|descending|random]
//       writes a hive file of HKEY_LOCAL_MACHINE (5.00, UTF-16LE) with N values
//       (or N subkeys): "spread" is a hive as installations write them, keys of
//       ten values of mixed types; "values" puts N string values in one key,
//       "subkeys" N subkeys under one key, names in the order given.
//   reg_bench load-save FILE
//       loads FILE as a registry folder's machine hive (RegistryFolder::Open),
//       saves it to a fresh file (RegistryFolder::Save), reads the saved file
//       back and checks that it holds the same tree; prints the times of the
//       load and of the save, the peak resident memory of the process and the
//       heap's peak.
//   reg_bench remove --shape wide|deep --keys N --via api|overlay|tree
//       builds a tree of N keys below HKLM\Software\Bench\Tree (wide: N-1
//       subkeys of its top key; deep: a chain N levels deep), then removes it
//       through the registry calls a registration pass uses (DeleteRegistryTreeSilently:
//       open, enumerate, delete), through the same calls on an overlay of that
//       registry (what qzreg runs: the tree goes from the overlay only), or
//       through MemoryRegistry::RemoveTree; prints the time of the removal and
//       the heap it took beyond the tree.
//   reg_bench run COMMAND [ARG]...
//       runs a command and prints its wall time and peak resident memory (for
//       Wine's reg, whose registry lives in wineserver: the script reads that
//       process's peak separately).
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry/memory/memory_registry.h"
#include "registry/overlay/overlay_registry.h"
#include "registry/reg_file/reg_file.h"
#include "registry/folder/registry_folder.h"
#include "registry/api/registry_helpers.h"

// ---- heap accounting: bytes in use and their peak, for the phases measured ----------

namespace {
std::atomic<std::size_t> g_heapInUse{0};
std::atomic<std::size_t> g_heapPeak{0};

void* CountedAllocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    const std::size_t now = g_heapInUse += malloc_usable_size(p);
    std::size_t peak = g_heapPeak.load();
    while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
    }
    return p;
}

void CountedFree(void* p) noexcept {
    if (p == nullptr) return;
    g_heapInUse -= malloc_usable_size(p);
    std::free(p);
}

// Starts a new peak from what is in use now; returns that level.
std::size_t ResetHeapPeak() {
    const std::size_t now = g_heapInUse.load();
    g_heapPeak = now;
    return now;
}
}  // namespace

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

double MiB(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

std::size_t PeakResidentBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

struct BenchError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown, so that scratch folders are removed on the way out.
[[noreturn]] void Fail(const std::string& message) { throw BenchError(message); }

// ---- generating hive files -------------------------------------------------------------

// Appends UTF-16LE text to a byte buffer, flushed to the file as it fills.
class Utf16File {
public:
    explicit Utf16File(const std::string& path) : out_(path, std::ios::binary) {
        if (!out_) Fail("cannot write " + path);
        buffer_ += "\xFF\xFE";
    }
    ~Utf16File() { Flush(); }

    Utf16File& operator<<(const std::string& ascii) {
        for (char c : ascii) {
            buffer_.push_back(c);
            buffer_.push_back('\0');
        }
        if (buffer_.size() > (1u << 20)) Flush();
        return *this;
    }

private:
    void Flush() {
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }

    std::ofstream out_;
    std::string buffer_;
};

std::string Number(unsigned long value, int width) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*lu", width, value);
    return text;
}

// Hex data wrapped as reg export wraps it (and as the registry folder writes it).
std::string HexLine(const std::string& prefix, const std::vector<unsigned>& bytes) {
    std::string line = prefix;
    std::size_t length = line.size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", bytes[i] & 0xFF);
        line += byte;
        if (i + 1 == bytes.size()) break;
        line += ',';
        length += 3;
        if (length >= 77) {
            line += "\\\r\n  ";
            length = 2;
        }
    }
    return line;
}

// The names in the order asked for; the numbers are zero-padded so that names
// in ascending numeric order are also in registry order.
std::vector<unsigned long> Ordered(unsigned long count, const std::string& order) {
    std::vector<unsigned long> numbers(count);
    for (unsigned long i = 0; i < count; ++i) numbers[i] = i;
    if (order == "descending") {
        std::reverse(numbers.begin(), numbers.end());
    } else if (order == "random") {
        std::shuffle(numbers.begin(), numbers.end(), std::mt19937_64(20240611));
    } else if (order != "ascending") {
        Fail("unknown order " + order);
    }
    return numbers;
}

const char kTop[] = "HKEY_LOCAL_MACHINE\\Software\\Bench";

// The sections the machine hive of a registry folder holds around the benchmark
// key (HKEY_LOCAL_MACHINE\Software and its Classes key), so that a file written
// in ascending order reads back and saves byte for byte the same.
void Generate(const std::string& path, unsigned long count, const std::string& shape, const std::string& order) {
    Utf16File out(path);
    out << "Windows Registry Editor Version 5.00\r\n\r\n";
    out << "[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n";
    out << "[" << kTop << "]\r\n\r\n";
    const std::vector<unsigned long> numbers = Ordered(count, order);
    if (shape == "spread") {
        // Groups of 100 keys of 10 values: a string (a path), a dword, binary
        // data and more strings, as an installation's settings look.
        std::mt19937 random(1);
        const unsigned long keys = (count + 9) / 10;
        std::vector<unsigned long> keyNumbers = Ordered(keys, order);
        unsigned long lastGroup = ~0ul;
        for (unsigned long k : keyNumbers) {
            const unsigned long group = k / 100;
            const std::string groupPath = std::string(kTop) + "\\Group " + Number(group, 5);
            if (group != lastGroup) {
                out << "[" << groupPath << "]\r\n\r\n";
                lastGroup = group;
            }
            out << "[" << groupPath << "\\Item " << Number(k, 7) << "]\r\n";
            const unsigned long first = k * 10;
            for (unsigned long v = first; v < std::min(first + 10, count); ++v) {
                const std::string name = "\"Setting " + Number(v, 7) + "\"=";
                switch (v % 10) {
                    case 0:
                    case 3:
                    case 6:
                        out << name << "\"C:\\\\Program Files\\\\Corvalen\\\\ZURedore\\\\38.0\\\\lib\\\\Model"
                            << Number(v, 7) << ".ovxl\"\r\n";
                        break;
                    case 1:
                    case 7:
                        out << name << "dword:" << Number(v % 100000000, 8) << "\r\n";
                        break;
                    case 2: {
                        std::vector<unsigned> bytes(24 + random() % 24);
                        for (unsigned& b : bytes) b = random();
                        out << HexLine(name + "hex:", bytes) << "\r\n";
                        break;
                    }
                    default:
                        out << name << "\"Orvantis process model " << Number(v, 7) << ", version 38.0\"\r\n";
                        break;
                }
            }
            out << "\r\n";
        }
    } else if (shape == "values") {
        out << "[" << kTop << "\\Values]\r\n";
        for (unsigned long v : numbers) {
            out << "\"Value " << Number(v, 7) << "\"=\"C:\\\\Program Files\\\\Corvalen\\\\lib\\\\Model" << Number(v, 7)
                << ".ovxl\"\r\n";
        }
        out << "\r\n";
    } else if (shape == "subkeys") {
        out << "[" << kTop << "\\Keys]\r\n\r\n";
        for (unsigned long v : numbers) {
            out << "[" << kTop << "\\Keys\\Key " << Number(v, 7) << "]\r\n@=\"" << Number(v, 7) << "\"\r\n\r\n";
        }
    } else {
        Fail("unknown shape " + shape);
    }
    out << "[HKEY_LOCAL_MACHINE\\Software\\Classes]\r\n\r\n";
}

// ---- load and save ---------------------------------------------------------------------

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/reg_bench.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) Fail("cannot create a scratch folder");
        path = pattern;
    }
    ~ScratchFolder() { std::filesystem::remove_all(path); }
};

void LoadSave(const std::string& file) {
    std::error_code error;
    const auto fileBytes = std::filesystem::file_size(file, error);
    if (error) Fail("cannot read " + file);
    ScratchFolder scratch;
    const std::string hive = scratch.path + "/HKEY_LOCAL_MACHINE.reg";
    std::filesystem::copy_file(file, hive);
    const std::size_t heapBefore = ResetHeapPeak();

    std::string message;
    const Clock::time_point start = Clock::now();
    std::unique_ptr<qz::RegistryFolder> folder = qz::RegistryFolder::Open(scratch.path, message);
    if (!folder) Fail(message);
    const Clock::time_point loaded = Clock::now();
    const std::size_t heapLoaded = g_heapInUse.load();
    // A save writes only the hives whose file would change: with the file gone, it writes it whole.
    std::filesystem::remove(hive);
    if (!folder->Save(message)) Fail(message);
    const Clock::time_point saved = Clock::now();
    const std::size_t heapPeak = g_heapPeak.load() - heapBefore;
    const std::size_t resident = PeakResidentBytes();

    // Not measured: the saved file must give back the same tree, and in the
    // order the registry keeps, the same bytes as a file generated in that order.
    const std::string savedBytes = ReadAll(hive);
    const bool identical = savedBytes == ReadAll(file);
    qz::MemoryRegistry reread;
    if (!qz::ImportRegText(qz::DecodeRegFileBytes(savedBytes), reread, message)) Fail("saved file: " + message);
    if (!SameContent(reread.Hive(qz::RegRoot::LocalMachine), folder->registry().Hive(qz::RegRoot::LocalMachine)))
        Fail("the saved file does not hold the loaded tree");

    std::printf("file_mib=%.1f load_s=%.3f save_s=%.3f total_s=%.3f rss_mib=%.1f rss_ratio=%.2f heap_mib=%.1f "
                "tree_mib=%.1f identical=%s\n",
                MiB(fileBytes), Seconds(start, loaded), Seconds(loaded, saved), Seconds(start, saved),
                MiB(resident), static_cast<double>(resident) / static_cast<double>(fileBytes), MiB(heapPeak),
                MiB(heapLoaded - heapBefore), identical ? "yes" : "no");
}

// ---- removing trees --------------------------------------------------------------------

void Remove(const std::string& shape, unsigned long keys, const std::string& via) {
    if (keys < 1) Fail("--keys must be at least 1");
    qz::MemoryRegistry registry;
    const std::u16string top = u"HKEY_LOCAL_MACHINE\\Software\\Bench\\Tree";
    if (shape == "wide") {
        registry.EnsureKey(top);
        for (unsigned long i = 1; i < keys; ++i) {
            const std::string name = "Key " + Number(i, 7);
            registry.EnsureKey(top + u"\\" + std::u16string(name.begin(), name.end()));
        }
    } else if (shape == "deep") {
        std::u16string path = top;
        for (unsigned long i = 1; i < keys; ++i) path += u"\\Level";
        registry.EnsureKey(path);
    } else {
        Fail("unknown shape " + shape);
    }
    const std::size_t heapBefore = ResetHeapPeak();
    const Clock::time_point start = Clock::now();
    bool removed = false;
    if (via == "api") {
        removed = qz::DeleteRegistryTreeSilently(registry, HKEY_LOCAL_MACHINE, "Software\\Bench\\Tree") == 1;
    } else if (via == "overlay") {
        qz::OverlayRegistry overlay(registry);
        removed = qz::DeleteRegistryTreeSilently(overlay, HKEY_LOCAL_MACHINE, "Software\\Bench\\Tree") == 1;
        qz::UniqueKey gone(overlay);
        if (overlay.OpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Bench\\Tree", KEY_READ, gone.put()) != ERROR_FILE_NOT_FOUND)
            Fail("the overlay still shows the tree");
        gone.reset();
        if (overlay.OpenHandleCount() != 0) Fail("overlay handles left open");
        // The overlay only records: the tree itself goes now, untimed, for the checks below.
        const Clock::time_point end = Clock::now();
        const std::size_t heap = g_heapPeak.load() - heapBefore;
        if (!removed || !registry.RemoveTree(top)) Fail("the tree was not removed");
        std::printf("keys=%lu remove_s=%.4f extra_heap_mib=%.2f\n", keys, Seconds(start, end), MiB(heap));
        return;
    } else if (via == "tree") {
        removed = registry.RemoveTree(top);
    } else {
        Fail("unknown way " + via);
    }
    const Clock::time_point end = Clock::now();
    if (!removed || registry.FindKey(top) != nullptr) Fail("the tree was not removed");
    if (registry.OpenHandleCount() != 0) Fail("handles left open");
    std::printf("keys=%lu remove_s=%.4f extra_heap_mib=%.2f\n", keys, Seconds(start, end),
                MiB(g_heapPeak.load() - heapBefore));
}

// ---- timing another program ------------------------------------------------------------

int Run(char** argv) {
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0) Fail("cannot fork");
    if (child == 0) {
        execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0) Fail("wait4 failed");
    const Clock::time_point end = Clock::now();
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::printf("run_s=%.3f rss_mib=%.1f exit=%d\n", Seconds(start, end),
                MiB(static_cast<std::size_t>(usage.ru_maxrss) * 1024), code);
    return code;
}

std::string Option(int argc, char** argv, const std::string& name, const std::string& fallback) {
    for (int i = 0; i + 1 < argc; ++i) {
        if (name == argv[i]) return argv[i + 1];
    }
    return fallback;
}

unsigned long Count(const std::string& text) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') Fail("not a number: " + text);
    return value;
}

}  // namespace

int Main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "generate" && argc > 2) {
        Generate(argv[2], Count(Option(argc, argv, "--values", "1000")), Option(argc, argv, "--shape", "spread"),
                 Option(argc, argv, "--order", "ascending"));
        return 0;
    }
    if (command == "load-save" && argc == 3) {
        LoadSave(argv[2]);
        return 0;
    }
    if (command == "remove") {
        Remove(Option(argc, argv, "--shape", "wide"), Count(Option(argc, argv, "--keys", "1000")),
               Option(argc, argv, "--via", "tree"));
        return 0;
    }
    if (command == "run" && argc > 2) return Run(argv + 2);
    std::fputs("usage: reg_bench generate FILE --values N [--shape spread|values|subkeys] "
               "[--order ascending|descending|random]\n"
               "       reg_bench load-save FILE\n"
               "       reg_bench remove --shape wide|deep --keys N --via api|overlay|tree\n"
               "       reg_bench run COMMAND [ARG]...\n",
               stderr);
    return 1;
}

int main(int argc, char** argv) {
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reg_bench: %s\n", e.what());
        return 2;
    }
}
