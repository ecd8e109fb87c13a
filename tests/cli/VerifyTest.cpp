// verify on every real file of the corpus: each position fetched as a user
// fetches it must show the picture the plain decode gives it. And verify
// catching a reader that shows the wrong picture.
#include <gtest/gtest.h>

#include <sstream>

#include "ClipMaker.h"
#include "TestFiles.h"
#include "TestUtil.h"
#include "cli/Verify.h"
#include "clip/cAVI.h"

namespace {

std::vector<std::string> CorpusNames() {
    std::vector<std::string> names;
    for (const auto& row : fwtest::TableRows(FW_CORPUS_LIST, 4)) names.push_back(row[0]);
    return names;
}

class VerifyCorpus : public testing::TestWithParam<std::string> {};

// A seeded sample of 60 positions per file (fewer for big pictures) keeps the
// run short; the plain decode still covers every position.
TEST_P(VerifyCorpus, EveryFetchShowsThePlainDecodesPicture) {
    const std::string path = fwtest::CorpusPath(GetParam());
    if (path.empty()) GTEST_SKIP() << GetParam() << " is in no corpus folder; scripts/fetch-corpus fetches it";
    std::size_t positions = 60;
    {
        cAVI clip;
        ASSERT_TRUE(clip.LoadAVI(path));
        positions = fwtest::RandomPositionsFor(positions, clip.GetWidth(), clip.GetHeight());
    }
    fwtest::CaptureMessages messages;
    std::ostringstream out, err;
    EXPECT_EQ(VerifyFile(path, fwtest::TestSeed("verify"), static_cast<std::int32_t>(positions), false, out, err), 0)
        << out.str() << err.str();
    EXPECT_EQ(messages.Count(), 0u) << messages.Last().text;
}

INSTANTIATE_TEST_SUITE_P(Corpus, VerifyCorpus, testing::ValuesIn(CorpusNames()),
                         [](const auto& info) { return fwtest::TestName(info.param); });

// Damaged files: a decoder conceals damage from what it decoded before it, and
// frame threads conceal it otherwise than one thread, so a reader whose jumps,
// steps back and read straight through do not start over at the damage shows
// a position one way now and another way later.
struct Damaged {
    const char* name;
    const char* description;
};

void PrintTo(const Damaged& d, std::ostream* out) { *out << d.name; }

class VerifyDamaged : public testing::TestWithParam<Damaged> {};

TEST_P(VerifyDamaged, EveryFetchShowsThePlainDecodesPicture) {
    const std::string path = fwtest::MakeTestFile(GetParam().name, GetParam().description);
    if (path.empty()) GTEST_SKIP() << GetParam().name << " is in no corpus folder; scripts/fetch-corpus fetches it";
    std::ostringstream out, err;
    EXPECT_EQ(VerifyFile(path, fwtest::TestSeed("verify damaged"), 0, false, out, err), 0) << out.str() << err.str();
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, VerifyDamaged,
    testing::Values(
        // H.264 in 12-frame GOPs, concealed without an error reported first.
        Damaged{"movie-hello.avi", "corpus ; damage 6"},
        // MPEG-4 with packed B-frames: a damaged one comes out as no picture,
        // which shifts the pictures after it.
        Damaged{"Megamind.avi", "corpus ; damage 6 2"},
        Damaged{"h264_long_gop.mp4", "libx264 320x240 240 gop=120 b=3 ; damage 5"},
        // Without concealment: what damage leaves undecoded.
        Damaged{"mimetype-webm.webm", "corpus ; damage 4"},
        Damaged{"hevc.mkv", "libx265 320x240 120 gop=60 b=3 -x265-params=log-level=none ; damage 8"},
        // MPEG-2 decodes on slice threads, which conceal a damaged slice
        // running over into the next one differently run to run.
        Damaged{"mythtv-channel_unavailable.ts", "corpus ; tsgarble 8"},
        // A VP9 frame header damaged: the decoder refuses the packet without
        // a word in its log, and frame threads go on from it otherwise than
        // one thread does.
        Damaged{"mecavideo-balle1-vp9.avi", "corpus ; damage 1 1 14"},
        // MPEG-2 joined to the same at another size: the decoder drops a
        // picture at the junction, which shifts the pictures after it by one
        // in a run that passes it, and not in a run that starts after it.
        Damaged{"mpeg2_joined_sizes.ts", "mpeg2video 160x120 60 gop=15 b=2 ; append 96x64"}),
    [](const auto& info) { return fwtest::TestName(info.param.name); });

// A reader that shows position 7's picture at 9, a picture of its own at 5
// (another clip's, of another size) and nothing at 3: every miss is found and named.
TEST(Verify, NamesWhatAWrongFetchShowed) {
    const std::string dir = fwtest::TempDir();
    ASSERT_TRUE(fwtest::MakeClip(dir + "/a.avi", "ffv1 64x48 12 gop=4"));
    ASSERT_TRUE(fwtest::MakeClip(dir + "/b.avi", "ffv1 80x48 12 gop=4"));
    cAVI clip, other;
    ASSERT_TRUE(clip.LoadAVI(dir + "/a.avi"));
    std::vector<PictureSum> plain;
    for (std::int32_t p = 0; p < clip.GetFrameCount(); ++p) plain.push_back(FetchPictureSum(clip, p));
    ASSERT_TRUE(other.LoadAVI(dir + "/b.avi"));
    std::vector<VerifyFetch> plan;
    for (std::int32_t p = 11; p >= 0; --p) plan.push_back({p, "reverse walk"});
    const VerifyTally tally = ComparePositions(plain, 0, plan, [&](std::int32_t p) -> PictureSum {
        if (p == 3) return std::nullopt;
        if (p == 5) return FetchPictureSum(other, 5);
        return FetchPictureSum(clip, p == 9 ? 7 : p);
    });
    EXPECT_EQ(std::pair(tally.exact, tally.checked), std::pair(9, 12));
    EXPECT_EQ(tally.misses, (std::vector<std::string>{"position 3 could not be decoded (reverse walk)",
                                                      "position 5 shows a picture no position has (reverse walk)",
                                                      "position 9 shows the picture of position 7 (reverse walk)"}));
}

}  // namespace
