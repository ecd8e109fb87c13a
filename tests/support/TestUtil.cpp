#include "TestUtil.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
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

}  // namespace fwtest
