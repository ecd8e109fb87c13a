// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/MsgBox.h"

namespace fwtest {

// A fresh directory under the system's temporary folder, removed at exit.
std::string TempDir();
// Path of a file of the real-file corpus (../shared/corpus next to the repository).
std::string CorpusPath(const std::string& name);
std::vector<std::string> CorpusFiles();  // every *.avi there, sorted
const std::vector<std::string>& CorpusNames();  // the corpus's files, whether here or not

// Skips the test, saying why, when a corpus file is not on this machine.
#define FW_SKIP_WITHOUT_CORPUS(path, name)                                                      \
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus file " << (name) << " not found"

struct Message {
    std::string text;
    std::string caption;
    int icon = 0;
};

// Captures every message box shown while it lives, instead of showing it.
class CaptureMessages {
public:
    CaptureMessages();
    ~CaptureMessages();
    const std::vector<Message>& All() const { return messages_; }
    std::size_t Count() const { return messages_.size(); }
    const Message& Last() const { return messages_.back(); }
    void Clear() { messages_.clear(); }

private:
    std::vector<Message> messages_;
    MessageBoxHandler previous_;
};

std::vector<std::uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace fwtest
