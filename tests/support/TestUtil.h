// Helpers shared by the test programs.
#pragma once

#include <cstddef>
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

// How many of `count` random positions a test fetches in a clip of pictures
// this size: all up to 480x360, fewer in proportion above it (at least a
// tenth), so that big pictures keep the test within its timeout in the
// sanitizer builds, where every big allocation is fresh memory.
std::size_t RandomPositionsFor(std::size_t count, int width, int height);

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

// Where the suite keeps what the ffmpeg program made for it (generated clips,
// reference decodes), shared by every test process of the build: ctest runs
// each test in a process of its own, and making them again for each was most
// of the suite's time. The file for `key` (any text naming what was made,
// with what) ending in `extension`; it may not exist yet.
std::string SharedCachePath(const std::string& key, const std::string& extension);
// A name beside `cached` that only this process uses, to make the file in.
std::string ScratchPathFor(const std::string& cached);
// Puts the file `made` (at its scratch path) at `cached` as one rename, so
// that a process reading the cache sees a whole file or none, whichever
// process made it.
bool PublishToCache(const std::string& made, const std::string& cached);
// The ffmpeg program the references come from, as its size and time, so that
// a cache made by another build of it is not taken for this one's.
std::string FfmpegStamp();

}  // namespace fwtest
