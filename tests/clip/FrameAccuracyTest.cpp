// Every position of every clip, reached forward, backward and in a seeded
// random order, must show the picture a plain sequential decode gives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <numeric>
#include <random>

#include "ClipMaker.h"
#include "ReferenceDecode.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

namespace {

struct Case {
    std::string name;
    bool generated = false;
    fwtest::ClipSpec spec;    // for generated clips
    bool withoutIndex = false;  // the 'idx1' chunk renamed away
};

fwtest::ClipSpec Spec(std::string encoder, int w, int h, int frames, int gop, int b = 0) {
    fwtest::ClipSpec s;
    s.encoder = std::move(encoder);
    s.width = w;
    s.height = h;
    s.frames = frames;
    s.gop = gop;
    s.bFrames = b;
    return s;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const std::string& f : fwtest::CorpusFiles()) cases.push_back({f, false, {}});
    auto add = [&](std::string name, fwtest::ClipSpec spec) { cases.push_back({std::move(name), true, spec}); };
    add("ffv1_lossless", Spec("ffv1", 64, 48, 30, 10));
    add("mpeg4_bframes", Spec("mpeg4", 320, 240, 60, 12, 2));
    add("h264_bframes", Spec("libx264", 160, 120, 60, 15, 3));
    auto openGop = Spec("libx264", 160, 120, 60, 12, 2);
    openGop.options = {{"x264-params", "open-gop=1:keyint=12:min-keyint=12:scenecut=0"}};
    add("h264_open_gop", openGop);
    add("mjpeg_odd_width", Spec("mjpeg", 321, 240, 20, 1));
    add("msmpeg4v3_long_gop", Spec("msmpeg4", 176, 144, 100, 40));
    auto drops = Spec("ffv1", 321, 48, 30, 8);
    drops.emptyPositions = {3, 4, 10, 11, 12, 20};
    add("ffv1_drop_frames", drops);
    auto mixed = Spec("mpeg4", 96, 64, 40, 10, 1);
    mixed.emptyPositions = {0, 7, 15};
    mixed.withAudio = true;
    mixed.rate = 30000;
    mixed.scale = 1001;
    add("mpeg4_drops_audio_ntsc", mixed);
    cases.push_back({"mpeg4_without_index", true, mixed, true});
    return cases;
}

std::string PathOf(const Case& c) {
    if (!c.generated) return fwtest::CorpusPath(c.name);
    static std::map<std::string, std::string> made;
    static const std::string dir = fwtest::TempDir();
    auto it = made.find(c.name);
    if (it != made.end()) return it->second;
    const std::string path = dir + "/" + c.name + ".avi";
    if (!fwtest::MakeClip(path, c.spec)) return "";
    if (c.withoutIndex) {
        std::vector<std::uint8_t> bytes = fwtest::ReadAll(path);
        const std::string tag = "idx1";
        auto at = std::search(bytes.rbegin(), bytes.rend(), tag.rbegin(), tag.rend());
        if (at == bytes.rend()) return "";
        std::copy_n("JUNK", 4, at.base() - 4);
        fwtest::WriteAll(path, bytes);
    }
    return made[c.name] = path;
}

unsigned Seed() {
    static const unsigned seed = [] {
        const char* env = std::getenv("FW_TEST_SEED");
        return env ? static_cast<unsigned>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
    }();
    return seed;
}

enum class Order { Forward, Reverse, Random };

std::vector<std::int32_t> Positions(const cAVI& clip, Order order, std::size_t randomCount) {
    std::vector<std::int32_t> frames(static_cast<std::size_t>(clip.GetFrameCount()));
    std::iota(frames.begin(), frames.end(), clip.GetFirstFrame());
    if (order == Order::Reverse) std::reverse(frames.begin(), frames.end());
    if (order == Order::Random) {
        std::mt19937 rng(Seed());
        std::uniform_int_distribution<std::int32_t> pick(clip.GetFirstFrame(), clip.GetLastFrame());
        frames.resize(randomCount);
        for (auto& f : frames) f = pick(rng);
    }
    return frames;
}

class FrameAccuracy : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        path_ = PathOf(GetParam());
        if (path_.empty()) GTEST_SKIP() << "encoder not available";
        ASSERT_TRUE(fwtest::DecodeReference(path_, reference_)) << path_;
    }
    void TearDown() override { AVISetReaderSettings(0, 256u << 20); }

    // Fetches `order` through a fresh clip and checks each picture.
    void Check(Order order, std::size_t randomCount = 200) {
        SCOPED_TRACE("seed " + std::to_string(Seed()) + " (set FW_TEST_SEED to repeat)");
        cAVI clip;
        fwtest::CaptureMessages messages;
        ASSERT_TRUE(clip.LoadAVI(path_));
        const std::vector<int> expected =
            GetParam().generated ? fwtest::ExpectedNumbers(GetParam().spec) : std::vector<int>{};
        if (GetParam().generated) {
            EXPECT_EQ(clip.GetFrameCount(), static_cast<int>(expected.size()));
        }
        int mismatches = 0;
        for (std::int32_t frame : Positions(clip, order, randomCount)) {
            cDIBx dib;
            ASSERT_TRUE(clip.ReadFrame(frame, dib)) << "frame " << frame;
            const std::int64_t position = frame - clip.GetFirstFrame();
            const auto hash = fwtest::HashBytes(dib.PointerToBits(), static_cast<std::size_t>(dib.SizeImage()));
            if (hash != reference_.HashAt(position) && ++mismatches <= 5) {
                ADD_FAILURE() << "frame " << frame << " differs from the sequential decode";
            }
            if (!expected.empty() && position < static_cast<std::int64_t>(expected.size())) {
                EXPECT_EQ(fwtest::FrameNumberOfDIB(dib.PointerToBits(), dib.Width(), dib.Height()), expected[position])
                    << "frame " << frame;
            }
        }
        EXPECT_EQ(mismatches, 0);
    }

    std::string path_;
    fwtest::ReferenceClip reference_;
};

TEST_P(FrameAccuracy, Forward) { Check(Order::Forward); }
TEST_P(FrameAccuracy, Reverse) { Check(Order::Reverse); }
TEST_P(FrameAccuracy, SeededRandom) { Check(Order::Random); }

// Without kept pictures and on one thread every request that is not the next
// frame starts a run at a key chunk.
TEST_P(FrameAccuracy, SeededRandomWithoutKeptPictures) {
    AVISetReaderSettings(1, 0);
    Check(Order::Random, 60);
}

// A tiny budget evicts kept pictures all the time while stepping back.
TEST_P(FrameAccuracy, ReverseWithEvictions) {
    AVISetReaderSettings(2, 4u << 20);
    Check(Order::Reverse);
}

TEST_P(FrameAccuracy, FrameCountMatchesTheIndex) {
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path_));
    ASSERT_FALSE(reference_.packetPositions.empty());
    EXPECT_GE(clip.GetFrameCount(), reference_.packetPositions.back() + 1);
    EXPECT_EQ(reference_.pictureHashes.size(), reference_.packetPositions.size());
}

INSTANTIATE_TEST_SUITE_P(Clips, FrameAccuracy, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return n;
                         });

}  // namespace
