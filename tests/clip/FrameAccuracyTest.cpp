// Every position of every clip, reached forward, backward and in a seeded
// random order, must show exactly the picture the ffmpeg program's own
// sequential decode and conversion give it, row padding zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <random>

#include "ReferenceDecode.h"
#include "TestFiles.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

namespace {

using fwtest::Positions;

struct Case {
    std::string name, positions, rate, file;
    std::int32_t first = 0, frames = 0;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const auto& r : fwtest::TableRows(FW_CLIP_TABLE, 5))
        cases.push_back({r[0], r[1], r[2], r[5], std::stoi(r[3]), std::stoi(r[4])});
    return cases;
}

// Made once for all the orders a clip is read in.
std::string PathOf(const Case& c) {
    static std::map<std::string, std::string> made;
    if (auto it = made.find(c.name); it != made.end()) return it->second;
    return made[c.name] = fwtest::MakeTestFile(c.name, c.file);
}

const fwtest::Reference& ReferenceOf(const std::string& path) {
    static std::map<std::string, fwtest::Reference> decoded;
    if (auto it = decoded.find(path); it != decoded.end()) return it->second;
    EXPECT_TRUE(fwtest::DecodeReference(path, decoded[path])) << path;
    return decoded[path];
}

enum class Order { Forward, Reverse, Random };

std::vector<std::int32_t> Frames(const cAVI& clip, Order order, std::size_t randomCount) {
    std::vector<std::int32_t> frames(static_cast<std::size_t>(clip.GetFrameCount()));
    std::iota(frames.begin(), frames.end(), clip.GetFirstFrame());
    if (order == Order::Reverse) std::reverse(frames.begin(), frames.end());
    if (order == Order::Random) {
        std::shuffle(frames.begin(), frames.end(), std::mt19937(fwtest::TestSeed("random frames")));
        frames.resize(std::min(frames.size(), randomCount));
    }
    return frames;
}

class FrameAccuracy : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        path_ = PathOf(GetParam());
        if (path_.empty()) GTEST_SKIP() << GetParam().name << " is in no corpus folder; scripts/fetch-corpus fetches them";
    }
    void TearDown() override { AVISetReaderSettings(0, ReaderKeepBytes()); }

    // Fetches the frames in `order` through a fresh clip and checks each one,
    // and that the reader keeps no more pictures than `keepBytes`.
    void Check(Order order, std::size_t randomCount = 200, std::size_t keepBytes = ReaderKeepBytes()) {
        const fwtest::Reference& reference = ReferenceOf(path_);
        ASSERT_FALSE(reference.pictures.empty()) << "the ffmpeg program decoded no picture of " << path_;
        const Case& c = GetParam();
        const Positions rule =
            c.positions == "dts" ? Positions::Dts : c.positions == "pts" ? Positions::Pts : Positions::Ordinal;
        cAVI clip;
        ASSERT_TRUE(clip.LoadAVI(path_));
        EXPECT_EQ(std::to_string(clip.GetRate()) + "/" + std::to_string(clip.GetScale()), c.rate);
        EXPECT_EQ(std::tuple(clip.GetFirstFrame(), clip.GetLastFrame(), clip.GetFrameCount()),
                  std::tuple(c.first, c.first + c.frames - 1, c.frames));
        EXPECT_EQ(std::pair(clip.GetWidth(), clip.GetHeight()), std::pair(reference.width, reference.height));
        if (rule == Positions::Ordinal) {
            EXPECT_EQ(clip.GetFrameCount(), std::ssize(reference.pictures));
        }
        // Chunks are numbered from a stream's start where the demuxer takes it;
        // the clips that start later have no empty chunks before their first.
        const std::int64_t from = rule == Positions::Dts && c.first != 0 ? reference.slots.front() : 0;
        int mismatches = 0;
        const std::size_t positions = fwtest::RandomPositionsFor(randomCount, clip.GetWidth(), clip.GetHeight());
        for (std::int32_t frame : Frames(clip, order, positions)) {
            cDIBx dib;
            ASSERT_TRUE(clip.ReadFrame(frame, dib)) << "frame " << frame;
            const std::size_t picture = reference.PictureFor(frame - clip.GetFirstFrame() + from, rule);
            if (fwtest::PictureCrc(dib.PointerToBits(), dib.Width(), dib.Height()) == reference.pictures[picture])
                continue;
            if (++mismatches <= 3) ADD_FAILURE() << "frame " << frame << " is not picture " << picture;
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_LE(AVIStreamGetFrameStats(clip.FrameReader()).keptBytes, keepBytes);
        cDIBx dib;
        EXPECT_FALSE(clip.ReadFrame(c.first + c.frames, dib));
        EXPECT_FALSE(clip.ReadFrame(c.first - 1, dib));
    }

    std::string path_;
};

TEST_P(FrameAccuracy, Forward) { Check(Order::Forward); }
TEST_P(FrameAccuracy, Reverse) { Check(Order::Reverse); }
TEST_P(FrameAccuracy, SeededRandom) { Check(Order::Random); }

// Without kept pictures and on one thread every request that is not the next
// frame starts a run at a key frame.
TEST_P(FrameAccuracy, SeededRandomWithoutKeptPictures) {
    AVISetReaderSettings(1, 0);
    Check(Order::Random, 60);
}

// A tiny budget evicts kept pictures all the time while stepping back.
TEST_P(FrameAccuracy, ReverseWithEvictions) {
    AVISetReaderSettings(2, 4u << 20);
    Check(Order::Reverse, 0, 4u << 20);
}

// More decoder threads than the machine has cores: the same positions, each
// time in a fresh reader, give the same bytes every time.
TEST_P(FrameAccuracy, SeededRandomOnSixThreadsRepeated) {
    AVISetReaderSettings(6, ReaderKeepBytes());
    for (int round = 0; round < 3; ++round) Check(Order::Random, 40);
}

// A run from the last key that finds the stream's tail short starts again
// from an earlier key; the pictures it kept on the way were numbered on its
// short count and must not stay (on two frame threads this order showed
// frame 62 as picture 63).
TEST(OpenGopTail, PicturesKeptByARunFoundShortAreForgotten) {
    const std::vector<Case> cases = Cases();
    const auto c = std::find_if(cases.begin(), cases.end(), [](const Case& k) { return k.name == "h264_open_gop_tail.ts"; });
    ASSERT_NE(c, cases.end());
    const std::string path = PathOf(*c);
    const fwtest::Reference& reference = ReferenceOf(path);
    AVISetReaderSettings(2, ReaderKeepBytes());
    AVISetDecodeAhead(false);
    cAVI clip;
    ASSERT_TRUE(clip.LoadAVI(path));
    for (std::int32_t frame : {55, 17, 19, 56, 60, 5, 63, 62}) {
        cDIBx dib;
        ASSERT_TRUE(clip.ReadFrame(frame, dib)) << "frame " << frame;
        EXPECT_EQ(fwtest::PictureCrc(dib.PointerToBits(), dib.Width(), dib.Height()),
                  reference.pictures[reference.PictureFor(frame, Positions::Ordinal)])
            << "frame " << frame;
    }
    AVISetDecodeAhead(true);
    AVISetReaderSettings(0, ReaderKeepBytes());
}

INSTANTIATE_TEST_SUITE_P(Clips, FrameAccuracy, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return fwtest::TestName(info.param.name); });

}  // namespace
