#include "TestUtil.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include <unistd.h>
#include <iterator>

namespace fs = std::filesystem;

namespace fwtest {

namespace {
struct TempRoot {
    char path[27] = "/tmp/framewise-test-XXXXXX";
    TempRoot() { ::mkdtemp(path); }
    ~TempRoot() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

}  // namespace

std::size_t RandomPositionsFor(std::size_t count, int width, int height) {
    constexpr double kFullCountPixels = 480.0 * 360.0;
    const double pixels = std::max(1.0, static_cast<double>(width) * static_cast<double>(height));
    const double scaled = static_cast<double>(count) * std::min(1.0, kFullCountPixels / pixels);
    return std::max<std::size_t>((count + 9) / 10, static_cast<std::size_t>(scaled));
}

std::uint32_t TestSeed(const char* what) {
    const char* given = std::getenv("FRAMEWISE_SEED");
    const auto seed = given ? static_cast<std::uint32_t>(std::strtoul(given, nullptr, 0)) : std::random_device{}();
    std::cout << what << ": seed " << seed << " (repeat with FRAMEWISE_SEED=" << seed << ")\n";
    return seed;
}

std::string TempDir() {
    static TempRoot root;
    static int counter = 0;
    const std::string dir = (std::filesystem::path(root.path) / std::to_string(counter++)).string();
    fs::create_directories(dir);
    return dir;
}

std::string CorpusPath(const std::string& name) {
    for (const std::string dir : {FW_CORPUS_DIRS})
        if (fs::is_regular_file(dir + "/" + name)) return dir + "/" + name;
    return "";
}


CaptureMessages::CaptureMessages()
    : previous_(SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int icon) {
          messages_.push_back({text, caption, icon});
      })) {}

CaptureMessages::~CaptureMessages() { SetMessageBoxHandler(std::move(previous_)); }

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string SharedCachePath(const std::string& key, const std::string& extension) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
    for (unsigned char ch : key) hash = (hash ^ ch) * 1099511628211ull;
    std::error_code ignored;
    fs::create_directories(FW_TEST_CACHE, ignored);
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(FW_TEST_CACHE) + "/" + name + extension;
}

std::string ScratchPathFor(const std::string& cached) {
    const fs::path path(cached);
    return (path.parent_path() / ("part-" + std::to_string(::getpid()) + "-" + path.filename().string())).string();
}

bool PublishToCache(const std::string& made, const std::string& cached) {
    std::error_code error;
    fs::rename(made, cached, error);
    return !error;
}

std::string FfmpegStamp() {
    static const std::string stamp = [] {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "/usr/bin";
        for (std::size_t from = 0; from <= dirs.size();) {
            const std::size_t to = std::min(dirs.find(':', from), dirs.size());
            const fs::path program = fs::path(dirs.substr(from, to - from)) / "ffmpeg";
            std::error_code error;
            const auto size = fs::file_size(program, error);
            if (!error) {
                const auto time = fs::last_write_time(program, error).time_since_epoch().count();
                return program.string() + " " + std::to_string(size) + " " + std::to_string(time);
            }
            from = to + 1;
        }
        return std::string("no ffmpeg");
    }();
    return stamp;
}

}  // namespace fwtest
