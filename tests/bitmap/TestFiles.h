// Temporary folders, whole-file reads and writes, and captured message boxes
// for the bitmap tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/MsgBox.h"

namespace bmptest {

// A fresh folder per call, removed when the test program ends.
inline std::string TempDir() {
    static const struct Root {
        std::string path;
        Root() {
            std::string pattern = (std::filesystem::temp_directory_path() / "fw-bitmap-XXXXXX").string();
            path = ::mkdtemp(pattern.data()) ? pattern : std::string();
        }
        ~Root() {
            std::error_code ignored;
            if (!path.empty()) std::filesystem::remove_all(path, ignored);
        }
    } root;
    static int counter = 0;
    const std::string path = root.path + "/" + std::to_string(counter++);
    std::filesystem::create_directory(path);
    return path;
}

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Message {
    std::string text;
    std::string caption;
    int icon = 0;
};

// Collects the message boxes shown while it lives instead of showing them.
class CaptureMessages {
public:
    CaptureMessages()
        : previous_(SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int icon) {
              messages_.push_back({text, caption, icon});
          })) {}
    ~CaptureMessages() { SetMessageBoxHandler(previous_); }
    CaptureMessages(const CaptureMessages&) = delete;
    CaptureMessages& operator=(const CaptureMessages&) = delete;
    std::size_t Count() const { return messages_.size(); }
    const Message& Last() const { return messages_.back(); }

private:
    std::vector<Message> messages_;
    MessageBoxHandler previous_;
};

}  // namespace bmptest
