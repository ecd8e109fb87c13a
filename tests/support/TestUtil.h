// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/MsgBox.h"

namespace fwtest {

// A fresh directory under the system's temporary folder, removed at exit.
std::string TempDir();
// The seed of a test's random choices: FRAMEWISE_SEED when set, otherwise a
// fresh one. Printed, so that a failing run can be repeated.
std::uint32_t TestSeed(const char* what);

// Path of a file of the real-file corpus: in ../shared/corpus beside the
// clone, else in the copy that scripts/fetch-corpus puts in build/corpus; ""
// when neither has it.
std::string CorpusPath(const std::string& name);

struct Message {
    std::string text, caption;
    int icon = 0;
};

// Captures every message box shown while it lives, instead of showing it.
class CaptureMessages {
public:
    CaptureMessages();
    ~CaptureMessages();
    std::size_t Count() const { return messages_.size(); }
    const Message& Last() const { return messages_.back(); }

private:
    std::vector<Message> messages_;
    MessageBoxHandler previous_;
};

std::vector<std::uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace fwtest
