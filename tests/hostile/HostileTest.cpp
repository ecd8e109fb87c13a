// Broken, truncated, patched and foreign files handed to LoadAVI: each one is
// refused with the file's message, or it loads and its frames are drawn or
// skipped; never a crash, a hang or memory out of proportion to the file.
// The cases are data (cases.txt); this reads them and makes their files.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "FuzzTargets.h"
#include "HostileSupport.h"
#include "TestFiles.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

using namespace hostile;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kFileError = "There was an error working with the file:\r\n";
const std::string kNoDecompressor = "No suitable decompressor found for this video stream!";
constexpr std::int64_t kCacheBudget = std::int64_t{64} << 20;

// Opens `path` and, once it opened, draws frames; a refusal says one of the
// two messages, in an information box titled with the program's name.
// Returns the outcome: "loads", "refused" (the file's message) or "nodecoder".
std::string Exercise(const std::string& path, std::mt19937& rng) {
    fwtest::CaptureMessages messages;
    cAVI clip;
    if (!clip.LoadAVI(path)) {
        EXPECT_EQ(messages.Count(), 1u);
        if (messages.Count() == 0) return "silent";
        const fwtest::Message& m = messages.Last();
        EXPECT_TRUE(m.text == kFileError + path || m.text == kNoDecompressor) << m.text;
        EXPECT_EQ(m.caption + " " + std::to_string(m.icon), "Framewise 64");
        return m.text == kNoDecompressor ? "nodecoder" : "refused";
    }
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_LE(clip.GetFirstFrame(), clip.GetLastFrame());
    EXPECT_TRUE(clip.GetWidth() > 0 && clip.GetHeight() > 0);
    fuzz::DrawSomeFrames(clip, static_cast<std::uint32_t>(rng()), 4);
    clip.CloseAVI();
    EXPECT_EQ(cAVI::GetCatchTotal(), 0);
    return "loads";
}

// A row of cases.txt: FILE OUTCOME DESCRIPTION.
class Hostile : public testing::TestWithParam<std::vector<std::string>> {
protected:
    // Bounds the cache's share, so that what remains is the reading itself.
    void SetUp() override { cAVI::SetCatchBudget(kCacheBudget); }
};

TEST_P(Hostile, IsRefusedWithTheMessageOrDrawsSafely) {
    const std::string &file = GetParam()[0], &expected = GetParam()[1];
    std::mt19937 rng(fwtest::TestSeed(file.c_str()));
    const std::string path = fwtest::MakeTestFile(file, GetParam()[2], rng());
    std::string outcome;
    const std::int64_t growth = PeakGrowth([&] { outcome = Exercise(path, rng); });
    EXPECT_TRUE(expected == "either" || outcome == expected) << outcome;
    std::cout << file << ": " << outcome << ", peak " << growth / 1024 << " KB above the start\n";
    EXPECT_LE(growth, kMemoryBound);
}

INSTANTIATE_TEST_SUITE_P(Table, Hostile, testing::ValuesIn(fwtest::TableRows(FW_HOSTILE_CASES, 2)),
                         [](const auto& info) { return info.param[0].substr(0, info.param[0].find('.')); });

// Every cut of a good file: inside the headers and at every 128th of it.
class Truncated : public testing::TestWithParam<std::string> {};

TEST_P(Truncated, EveryCutIsRefusedOrDrawsSafely) {
    std::mt19937 rng(fwtest::TestSeed("truncations"));
    const std::size_t space = GetParam().find(' ');
    const std::string good = fwtest::MakeTestFile("good" + GetParam().substr(0, space), GetParam().substr(space), rng());
    const Bytes file = fwtest::ReadAll(good);
    std::set<std::size_t> cuts;
    for (std::size_t i = 0; i < 128; ++i) cuts.insert({std::min(i * 3, file.size()), file.size() * i / 128});
    int loaded = 0;
    for (const std::size_t length : cuts) {
        SCOPED_TRACE(length);
        fwtest::WriteAll(good, Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
        loaded += Exercise(good, rng) == "loads";
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(loaded, 0);  // cuts after the headers keep the clip
}

INSTANTIATE_TEST_SUITE_P(Files, Truncated,
                         testing::Values(".avi ffv1 64x48 12", ".avi mpeg4 64x48 24 gop=6 b=2 audio",
                                         ".mp4 libx264 64x48 24 gop=6 b=2", ".mkv libx264 64x48 24 gop=6 b=2"),
                         [](const auto& info) { return info.param.substr(1, info.param.find(' ', 1) - 1) +
                                                       std::to_string(info.index); });

}  // namespace
