// korvel-ini-bench: how long opening and saving a configuration takes on large or strange INI
// files, and how much memory it needs at its peak, side by side with merely reading and writing the
// same file (the floor no INI layer can beat).
//
//   korvel-ini-bench [--keys N] [--folder PATH]
//
// The files are generated in a fresh folder under PATH (default: the temporary folder) and removed
// afterwards. N (default 1000000) sets the size: N keys, N*10 line breaks, N*100 NUL bytes.

#include "ConfigFile.h"
#include "ProcessStatus.h"
#include "WholeFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;

struct TOptions {
    size_t Keys = 1000000;
    std::filesystem::path Folder = std::filesystem::temp_directory_path();
};

bool ParseOptions(int argc, char** argv, TOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--keys" && i + 1 < argc)
            options.Keys = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--folder" && i + 1 < argc)
            options.Folder = argv[++i];
        else
            return false;
    }
    return options.Keys > 0;
}

struct TMeasure {
    double Seconds;
    long PeakKB;  // above the resident memory before the run
};

// The kernel resets the process's peak resident memory when told so, so each run has its own peak.
TMeasure Measure(const std::function<void()>& run)
{
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKB("VmRSS:");
    const auto start = TClock::now();
    run();
    const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
    return {seconds, StatusKB("VmHWM:") - before};
}

// Writes the file piece by piece, so that the benchmark itself never holds it in memory.
void Generate(const std::string& fileName, const std::function<void(std::ofstream&)>& body)
{
    std::ofstream out(fileName, std::ios::binary);
    body(out);
}

void ManyKeys(std::ofstream& out, size_t keys)
{
    // The bulk stands in front of the channels' own keys, so every lookup passes over it.
    out << "[IP]\r\nADDRESS=10.0.0.1\r\nGATEWAY=10.0.0.254\r\nNETMASK=255.255.255.0\r\nTCP_PORT=502\r\n";
    char line[64];
    for (size_t channel = 0; channel < 2; ++channel) {
        out << "[CHANNEL_" << channel << "]\r\n";
        for (size_t k = channel * keys / 2; k < (channel + 1) * keys / 2; ++k)
            out.write(line, std::snprintf(line, sizeof line, "K%07zu=val%03zu\r\n", k, k % 1000));
        out << "BAUDRATE=9600\r\nPARITY=1\r\nTIMEOUT=250\r\n";
    }
}

void Repeated(std::ofstream& out, char byte, size_t count)
{
    const std::string chunk(1 << 20, byte);
    for (size_t left = count; left > 0; left -= std::min(left, chunk.size()))
        out.write(chunk.data(), static_cast<std::streamsize>(std::min(left, chunk.size())));
}

void Report(const char* what, const TMeasure& measure, const char* floorName, const TMeasure& floor, double megabytes)
{
    std::printf("  %-5s %7.3f s (%5.1f x a plain %-5s %6.3f s)  peak %6.1f MB (%4.2f x the file)\n", what,
                measure.Seconds, floor.Seconds > 0 ? measure.Seconds / floor.Seconds : 0.0, floorName, floor.Seconds,
                measure.PeakKB / 1024.0, measure.PeakKB / 1024.0 / megabytes);
}

bool RunCase(const std::string& title, const std::string& fileName)
{
    const double megabytes = static_cast<double>(std::filesystem::file_size(fileName)) / (1024 * 1024);
    std::printf("%s: %.1f MB\n", title.c_str(), megabytes);

    std::string content;
    const TMeasure plainRead = Measure([&] { ReadWholeFile(fileName, content); });
    const TMeasure plainWrite = Measure([&] { WriteWholeFile(fileName, content); });
    content = std::string();

    TModuleConfig config{};
    bool loaded = false;
    const TMeasure load = Measure([&] { loaded = LoadConfigFromFile(fileName, config); });
    config.TCPPort = 1502;
    bool saved = true;
    const TMeasure save = Measure([&] {
        try {
            SaveConfigToFile(fileName, config);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            saved = false;
        }
    });
    Report("load", load, "read", plainRead, megabytes);
    Report("save", save, "write", plainWrite, megabytes);

    TModuleConfig check{};
    return loaded && saved && LoadConfigFromFile(fileName, check) && check.TCPPort == 1502;
}

}  // namespace

int main(int argc, char** argv)
{
    // Large blocks are mapped and given back when freed, so that each run's peak is its own and not
    // hidden in memory an earlier run left behind.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: korvel-ini-bench [--keys N] [--folder PATH]\n");
        return 2;
    }
    std::string pattern = (options.Folder / "korvel-ini-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("korvel-ini-bench: folder");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    const size_t keys = options.Keys;

    bool ok = true;
    const std::string manyKeys = (folder / "many-keys.ini").string();
    Generate(manyKeys, [&](std::ofstream& out) { ManyKeys(out, keys); });
    ok = RunCase(std::to_string(keys) + " keys", manyKeys) && ok;

    const std::string breaks = (folder / "line-breaks.ini").string();
    Generate(breaks, [&](std::ofstream& out) { Repeated(out, '\n', keys * 10); });
    ok = RunCase("line breaks only", breaks) && ok;

    const std::string nul = (folder / "nul-bytes.ini").string();
    Generate(nul, [&](std::ofstream& out) { Repeated(out, '\0', keys * 100); });
    ok = RunCase("NUL bytes only", nul) && ok;

    std::filesystem::remove_all(folder);
    return ok ? 0 : 1;
}
