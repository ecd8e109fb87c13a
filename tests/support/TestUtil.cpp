#include "TestUtil.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace fwtest {

namespace {
struct TempRoot {
    fs::path path;
    TempRoot() {
        char pattern[] = "/tmp/framewise-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path = made ? made : fs::temp_directory_path();
    }
    ~TempRoot() {
        std::error_code ec;
        if (path.string().rfind("/tmp/framewise-test-", 0) == 0) fs::remove_all(path, ec);
    }
};
}  // namespace

std::string TempDir() {
    static TempRoot root;
    static int counter = 0;
    fs::path dir = root.path / std::to_string(counter++);
    fs::create_directories(dir);
    return dir.string();
}

std::string CorpusPath(const std::string& name) { return (fs::path(FW_CORPUS_DIR) / name).string(); }

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(FW_CORPUS_DIR, ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (entry.is_regular_file() && ext == ".avi") files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

const std::vector<std::string>& CorpusNames() {
    static const std::vector<std::string> names = {"Megamind.avi", "Principe_inertie.avi", "dummy_video.avi",
                                                   "homer.avi",    "movie-hello.avi",      "movie.avi",
                                                   "sage-example.avi", "tree.avi"};
    return names;
}

CaptureMessages::CaptureMessages() {
    previous_ = SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int icon) {
        messages_.push_back({text, caption, icon});
    });
}

CaptureMessages::~CaptureMessages() { SetMessageBoxHandler(std::move(previous_)); }

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace fwtest
