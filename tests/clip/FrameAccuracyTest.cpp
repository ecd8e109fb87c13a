// Every position of every clip, reached forward, backward and in a seeded
// random order, must show exactly the picture the ffmpeg program's own
// sequential decode and conversion give it, row padding zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <numeric>
#include <random>

#include "ClipMaker.h"
#include "ReferenceDecode.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

namespace {

using fwtest::ClipSpec;
using fwtest::Positions;

ClipSpec Spec(std::string encoder, int w, int h, int frames, int gop, int b = 0, std::vector<int> empty = {}) {
    ClipSpec s;
    s.encoder = std::move(encoder);
    s.width = w;
    s.height = h;
    s.frames = frames;
    s.gop = gop;
    s.bFrames = b;
    s.emptyPositions = std::move(empty);
    return s;
}

ClipSpec With(ClipSpec s, std::vector<std::pair<std::string, std::string>> options, bool audio = false) {
    s.options = std::move(options);
    s.withAudio = audio;
    return s;
}

const ClipSpec kOpenGop = With(Spec("libx264", 160, 120, 60, 12, 2),
                               {{"x264-params", "open-gop=1:keyint=12:min-keyint=12:scenecut=0"}});
const ClipSpec kNtscDrops = [] {
    ClipSpec s = With(Spec("mpeg4", 96, 64, 40, 10, 1, {0, 7, 15}), {}, true);
    s.rate = 30000;
    s.scale = 1001;
    return s;
}();

void RenameChunk(const std::string& path, const std::string& from, const std::string& to) {
    std::vector<std::uint8_t> bytes = fwtest::ReadAll(path);
    auto at = std::search(bytes.rbegin(), bytes.rend(), from.rbegin(), from.rend());
    ASSERT_NE(at, bytes.rend());
    std::copy_n(to.begin(), 4, at.base() - 4);
    fwtest::WriteAll(path, bytes);
}

// Rewrites the generated file in place: made with ffmpeg from the file itself.
void Remux(const std::string& path, const std::string& options) {
    const std::string copy = path + ".orig" + std::filesystem::path(path).extension().string();
    std::filesystem::rename(path, copy);
    bool ok = false;
    fwtest::RunCommand("ffmpeg -v error " + options + " -i " + fwtest::ShellQuoted(copy) + " -c copy " +
                           fwtest::ShellQuoted(path), ok);
    ASSERT_TRUE(ok) << path;
}

struct Case {
    std::string name;  // a corpus file, or the generated clip's file name
    Positions rule = Positions::Dts;
    ClipSpec spec;     // generated clips only
    std::function<void(const std::string&)> rework;
    bool generated = true;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const std::string& name : fwtest::CorpusNames()) cases.push_back({name, Positions::Dts, {}, {}, false});
    auto avi = [&](std::string name, ClipSpec spec, std::function<void(const std::string&)> rework = {}) {
        cases.push_back({name + ".avi", Positions::Dts, std::move(spec), std::move(rework)});
    };
    avi("ffv1_lossless", Spec("ffv1", 64, 48, 30, 10));
    avi("mpeg4_bframes", Spec("mpeg4", 320, 240, 60, 12, 2));
    avi("h264_bframes", Spec("libx264", 160, 120, 60, 15, 3));
    avi("h264_open_gop", kOpenGop);
    avi("mjpeg_odd_width", Spec("mjpeg", 321, 240, 20, 1));
    avi("msmpeg4v3_long_gop", Spec("msmpeg4", 176, 144, 100, 40));
    avi("ffv1_drop_frames", Spec("ffv1", 321, 48, 30, 8, 0, {3, 4, 10, 11, 12, 20}));
    avi("mpeg4_drops_audio_ntsc", kNtscDrops);
    avi("mpeg4_without_index", kNtscDrops, [](const std::string& p) { RenameChunk(p, "idx1", "JUNK"); });
    // Without an index, and its last chunk ending where the file ends.
    avi("mpeg4_index_cut_off", Spec("mpeg4", 96, 64, 20, 10, 1), [](const std::string& p) {
        std::vector<std::uint8_t> b = fwtest::ReadAll(p);
        const auto index = std::search(b.begin(), b.end(), "idx1", "idx1" + 4);
        const auto last = std::find_end(b.begin(), index, "00dc", "00dc" + 4);
        b.erase(last + 8 + (last[4] | last[5] << 8), b.end());
        fwtest::WriteAll(p, b);
    });
    avi("palette_8bit", [] {
        ClipSpec s = Spec("rawvideo", 48, 32, 12, 1);
        s.pixelFormat = "pal8";
        return s;
    }());
    // Widths at which the converter's vector stores overrun a tight row, and one where they do not.
    avi("mpeg4_84x33", Spec("mpeg4", 84, 33, 8, 4, 1));
    avi("h264_426", Spec("libx264", 426, 240, 12, 6, 2));
    avi("mpeg4_520", Spec("mpeg4", 520, 380, 8, 4, 1));
    avi("h264_1912", Spec("libx264", 1912, 64, 8, 4, 1));
    avi("mpeg4_854", Spec("mpeg4", 854, 48, 8, 4));
    auto other = [&](std::string name, Positions rule, ClipSpec spec, std::function<void(const std::string&)> r = {}) {
        cases.push_back({std::move(name), rule, std::move(spec), std::move(r)});
    };
    other("h264_open_gop.mp4", Positions::Ordinal, kOpenGop);
    other("h264_open_gop.mkv", Positions::Ordinal, kOpenGop);
    other("vp9.webm", Positions::Ordinal, Spec("libvpx-vp9", 96, 64, 30, 10));
    other("vp9_without_cues.webm", Positions::Ordinal, With(Spec("libvpx-vp9", 96, 64, 60, 10), {{"live", "1"}}));
    other("theora_repeats.ogv", Positions::Pts, Spec("libtheora", 96, 64, 30, 8, 0, {3, 4, 10, 17}));
    other("h264_late_start.ts", Positions::Ordinal, With(Spec("libx264", 96, 64, 40, 12, 2),
                                                          {{"output_ts_offset", "36000"}}));
    other("h264_edit_list.mp4", Positions::Ordinal, Spec("libx264", 96, 64, 40, 12, 2),
          [](const std::string& p) { Remux(p, "-ss 0.1"); });
    other("flv1.flv", Positions::Ordinal, Spec("flv", 96, 64, 30, 10));
    // Timestamps that start again from the beginning half-way through.
    other("h264_restart.ts", Positions::Ordinal, Spec("libx264", 96, 64, 30, 12, 2), [](const std::string& p) {
        const std::vector<std::uint8_t> once = fwtest::ReadAll(p);
        std::vector<std::uint8_t> twice = once;
        twice.insert(twice.end(), once.begin(), once.end());
        fwtest::WriteAll(p, twice);
    });
    return cases;
}

std::string PathOf(const Case& c) {
    if (!c.generated) return fwtest::CorpusPath(c.name);
    static std::map<std::string, std::string> made;
    if (auto it = made.find(c.name); it != made.end()) return it->second;
    const std::string path = fwtest::TempDir() + "/" + c.name;
    if (!fwtest::MakeClip(path, c.spec)) return "";
    if (c.rework) c.rework(path);
    return made[c.name] = path;
}

const fwtest::Reference& ReferenceOf(const std::string& path) {
    static std::map<std::string, fwtest::Reference> decoded;
    if (auto it = decoded.find(path); it != decoded.end()) return it->second;
    EXPECT_TRUE(fwtest::DecodeReference(path, decoded[path])) << path;
    return decoded[path];
}

unsigned Seed() {
    static const unsigned seed = [] {
        const char* env = std::getenv("FW_TEST_SEED");
        return env ? static_cast<unsigned>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
    }();
    return seed;
}

enum class Order { Forward, Reverse, Random };

std::vector<std::int32_t> Frames(const cAVI& clip, Order order, std::size_t randomCount) {
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
        if (!GetParam().generated) {
            FW_SKIP_WITHOUT_CORPUS(path_, GetParam().name);
        }
        ASSERT_FALSE(path_.empty());
    }
    void TearDown() override { AVISetReaderSettings(0, kReaderKeepBytes); }

    // Fetches the frames in `order` through a fresh clip and checks each one.
    void Check(Order order, std::size_t randomCount = 200) {
        SCOPED_TRACE("seed " + std::to_string(Seed()) + " (set FW_TEST_SEED to repeat)");
        const fwtest::Reference& reference = ReferenceOf(path_);
        const Positions rule = GetParam().rule;
        cAVI clip;
        ASSERT_TRUE(clip.LoadAVI(path_));
        if (rule == Positions::Dts) {
            EXPECT_GE(clip.GetFrameCount(), reference.slots.back() + 1);
        } else {
            const std::int64_t slots = reference.slots.back() - reference.slots.front() + 1;
            EXPECT_EQ(clip.GetFrameCount(), rule == Positions::Pts ? slots : std::int64_t(reference.pictures.size()));
        }
        int mismatches = 0;
        for (std::int32_t frame : Frames(clip, order, randomCount)) {
            cDIBx dib;
            ASSERT_TRUE(clip.ReadFrame(frame, dib)) << "frame " << frame;
            const std::size_t picture = reference.PictureFor(frame - clip.GetFirstFrame(), rule);
            if (fwtest::PictureCrc(dib.PointerToBits(), dib.Width(), dib.Height()) == reference.pictures[picture])
                continue;
            if (++mismatches <= 3)
                ADD_FAILURE() << "frame " << frame << " is not picture " << picture << ": "
                              << fwtest::DescribeDifference(path_, picture, dib.PointerToBits(), dib.Width(),
                                                            dib.Height());
        }
        EXPECT_EQ(mismatches, 0);
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
    Check(Order::Reverse);
}

INSTANTIATE_TEST_SUITE_P(Clips, FrameAccuracy, ::testing::ValuesIn(Cases()), [](const auto& info) {
    std::string n = info.param.name;
    std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return n;
});

}  // namespace
