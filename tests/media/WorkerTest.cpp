// The decode-ahead worker: whatever order frames are asked for in, a frame the
// worker decoded is byte for byte the frame a one-thread reader without a
// worker decodes; and closing a reader leaves no worker running.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "StreamFrames.h"
#include "TestFiles.h"
#include "TestUtil.h"
#include "media/DecodeAhead.h"

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr LONG kMostFrames = 24;  // ThreadSanitizer looks for races, not for more frames
#elif defined(__SANITIZE_ADDRESS__)
// AddressSanitizer maps every picture afresh, and on a virtual machine fresh
// pages are dear: 250 seeded steps over 720p MPEG-4 took 32-45 s of the 60.
constexpr LONG kMostFrames = 60;
#else
constexpr LONG kMostFrames = 1000;
#endif

using Reader = fwtest::StreamFrames;

struct Clip {
    std::string name, description;
};
void PrintTo(const Clip& clip, std::ostream* out) { *out << clip.name; }

std::vector<Clip> Clips() {
    std::vector<Clip> clips;
    for (const auto& row : fwtest::TableRows(FW_WORKER_TABLE, 1)) clips.push_back({row[0], row[1]});
    return clips;
}

enum class Walk { Backward, PlayingOn, StraightOn, RandomSteps };

// Frame indexes in the order `walk` asks for them: every frame from the last
// to the first; the frames from the first on, as playing asks for them or as
// fast as they come; or a seeded walk of steps of up to 8 either way with a
// jump now and then.
std::vector<LONG> Order(Walk walk, LONG count) {
    count = std::min(count, kMostFrames);
    std::vector<LONG> order;
    if (walk == Walk::Backward)
        for (LONG i = count - 1; i >= 0; --i) order.push_back(i);
    if (walk == Walk::PlayingOn || walk == Walk::StraightOn)
        for (LONG i = 0; i < std::min<LONG>(count, 150); ++i) order.push_back(i);
    if (walk == Walk::RandomSteps) {
        std::mt19937 random(fwtest::TestSeed("worker walk"));
        std::uniform_int_distribution<int> step(-8, 8), jump(0, 39);
        std::uniform_int_distribution<LONG> anywhere(0, count - 1);
        LONG at = count - 1;
        for (int i = 0; i < std::min<LONG>(250, kMostFrames); ++i) {
            at = jump(random) == 0 ? anywhere(random) : std::clamp<LONG>(at + step(random), 0, count - 1);
            order.push_back(at);
        }
    }
    return order;
}

// Small pictures too go through the worker: its pictures and jobs are what
// is checked, and whether a run of small pictures is worth a job otherwise
// depends on how fast the machine decodes them just then.
template <class Base>
class SmallPicturesAhead : public Base {
protected:
    void SetUp() override { DecodeAhead::SetShortestRunSeconds(0); }
    void TearDown() override { DecodeAhead::SetShortestRunSeconds(-1); }
};
using WorkerSteps = SmallPicturesAhead<::testing::Test>;

// What the worker holds once it stops growing: its job done. Before, a step
// could come for a picture it has yet to decode, and the reader decodes that
// itself rather than wait longer than its own decoding would take.
std::uint64_t SettledAheadBytes(Reader& reader) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (std::uint64_t bytes = 0;
         (bytes == 0 || bytes != reader.Stats().aheadBytes) && std::chrono::steady_clock::now() < until;) {
        bytes = reader.Stats().aheadBytes;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return reader.Stats().aheadBytes;
}

class Worker : public SmallPicturesAhead<::testing::TestWithParam<Clip>> {
protected:
    void Check(Walk walk) {
        const std::string path = fwtest::MakeTestFile(GetParam().name, GetParam().description);
        if (path.empty()) {
            GTEST_SKIP() << GetParam().name << " is not on this machine (scripts/fetch-corpus)";
        }
        // The reference: one thread, no worker, every frame in order.
        Reader plain(path, false, 1, ReaderKeepBytes());
        ASSERT_TRUE(plain.Ok());
        std::vector<std::uint32_t> expected;
        for (LONG i = 0; i < std::min(plain.Count(), kMostFrames); ++i) expected.push_back(plain.Crc(i));
        // Keeping no pictures of its own, the reader leaves every step back
        // to its worker or to a run of its own.
        Reader ahead(path, true, 0, 0);
        ASSERT_TRUE(ahead.Ok());
        ASSERT_EQ(ahead.Count(), plain.Count());
        for (const LONG i : Order(walk, ahead.Count())) {
            const auto asked = std::chrono::steady_clock::now();
            ASSERT_EQ(ahead.Crc(i), expected[static_cast<std::size_t>(i)]) << "frame " << i;
            // A held key and playing leave the reader time between frames,
            // more than it takes to get one; the worker uses it.
            if (walk == Walk::Backward || walk == Walk::PlayingOn)
                std::this_thread::sleep_for(2 * (std::chrono::steady_clock::now() - asked));
        }
        // Stepping back waits for the worker while it is still to deliver
        // the frame, so some frames must have come from it (not asserted
        // under ThreadSanitizer, whose walks are too short to be sure).
        if (walk == Walk::Backward && ahead.Count() >= 30 && kMostFrames >= 30) {
            EXPECT_GT(ahead.Stats().aheadServed, 0u) << "the worker prepared no frame";
        }
        EXPECT_LE(ahead.Stats().aheadBytes, DecodeAhead::BudgetBytes());
    }
};

TEST_P(Worker, SteppingBackGetsTheSameBytes) { Check(Walk::Backward); }
TEST_P(Worker, PlayingOnGetsTheSameBytes) { Check(Walk::PlayingOn); }
TEST_P(Worker, ReadingStraightOnGetsTheSameBytes) { Check(Walk::StraightOn); }
TEST_P(Worker, SeededRandomStepsGetTheSameBytes) { Check(Walk::RandomSteps); }

INSTANTIATE_TEST_SUITE_P(Clips, Worker, ::testing::ValuesIn(Clips()),
                         [](const auto& info) { return fwtest::TestName(info.param.name); });

// The clips below whose pictures are counted in bytes are 256x128: decoders
// keep rows of that width unwidened, so bytes held count pictures.
constexpr std::size_t kPictureBytes = 256 * 128 * 3 / 2;

// Stepping back slowly enough for the worker to keep up, every frame still
// comes out the same, some come from the worker, and what it holds stays
// within a bound at every step: with room for only a few pictures of a GOP,
// it keeps the ones nearest the steps and passes over or forgets the rest;
// with room for all, it prepares the GOP before the steps' one and no more.
struct BudgetCase {
    const char* name;
    const char* spec;
    int lowered;  // pictures the budget is lowered to, 0 to leave it
    int most;     // pictures the worker may hold (two GOPs, with what it files while the steps go on)
};

class WorkerBudget : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(WorkerBudget, SteppingBackHoldsWithinItsBound) {
    const BudgetCase& c = GetParam();
    const std::string path = fwtest::MakeTestFile(std::string(c.name) + ".mp4", c.spec);
    ASSERT_FALSE(path.empty());
    Reader plain(path, false, 1, ReaderKeepBytes());
    ASSERT_TRUE(plain.Ok());
    std::vector<std::uint32_t> expected;
    for (LONG i = 0; i < std::min(plain.Count(), kMostFrames); ++i) expected.push_back(plain.Crc(i));
    const std::size_t each = kPictureBytes + 2048;  // a picture with its frame and padding
    struct Lowered {
        explicit Lowered(std::size_t bytes) { DecodeAhead::LowerBudget(bytes); }
        ~Lowered() { DecodeAhead::LowerBudget(0); }
    } lowered(c.lowered * each);
    Reader ahead(path, true, 0, 0);
    ASSERT_TRUE(ahead.Ok());
    for (LONG i = static_cast<LONG>(expected.size()) - 1; i >= 0; --i) {
        const auto asked = std::chrono::steady_clock::now();
        ASSERT_EQ(ahead.Crc(i), expected[static_cast<std::size_t>(i)]) << "frame " << i;
        ASSERT_LE(ahead.Stats().aheadBytes, c.most * each) << "frame " << i;
        std::this_thread::sleep_for(2 * (std::chrono::steady_clock::now() - asked));
    }
    EXPECT_GT(ahead.Stats().aheadServed, 0u) << "the worker prepared no frame";
}

INSTANTIATE_TEST_SUITE_P(Gops, WorkerBudget,
                         ::testing::Values(BudgetCase{"budget_under_gop", "libx264 256x128 90 gop=30 b=3", 8, 8},
                                           BudgetCase{"two_gops_reach", "libx264 256x128 200 gop=40 b=2", 0, 100}),
                         [](const auto& info) { return std::string(info.param.name); });

// Several steps back taken at once (a held key's presses the window shows
// together) land on a picture the worker prepared: it keeps what it holds
// below them, where a jump would have it forget everything.
TEST_F(WorkerSteps, ManyStepsAtOnceKeepWhatTheWorkerPrepared) {
    const std::string path = fwtest::MakeTestFile("two_gops_reach.mp4", "libx264 256x128 200 gop=40 b=2");
    ASSERT_FALSE(path.empty());
    Reader ahead(path, true, 0, 0);
    ASSERT_TRUE(ahead.Ok());
    const std::size_t each = kPictureBytes;
    ahead.Crc(199);
    ahead.Crc(198);  // a step back: the worker prepares the GOPs below
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ahead.Stats().aheadBytes < 30 * each && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(ahead.Stats().aheadBytes, 30 * each) << "the worker prepared too little";
    const auto served = ahead.Stats().aheadServed;
    ahead.Crc(185);
    EXPECT_EQ(ahead.Stats().aheadServed, served + 1);
    EXPECT_GE(ahead.Stats().aheadBytes, 20 * each);
}

// A jump onto a key, then a pause (the user looks at the frame): the worker
// prepares the GOP before it, so the step back across the key finds its
// picture ready, the bytes a one-thread reader decodes.
TEST_F(WorkerSteps, APauseAfterAJumpNearAKeyPreparesTheGopBefore) {
    const std::string path = fwtest::MakeTestFile("two_gops_reach.mp4", "libx264 256x128 200 gop=40 b=2");
    ASSERT_FALSE(path.empty());
    Reader plain(path, false, 1, ReaderKeepBytes()), ahead(path, true, 0, 0);
    ASSERT_TRUE(plain.Ok() && ahead.Ok());
    const std::size_t each = kPictureBytes;
    const std::vector<LONG> keys = ahead.Keys();
    ASSERT_GE(keys.size(), 3u);
    const LONG key = keys[keys.size() - 2];  // with a GOP after it to jump from
    ahead.Crc(ahead.Count() - 1);
    ahead.Crc(key);
    ASSERT_GE(SettledAheadBytes(ahead), 30 * each) << "the worker prepared too little";
    const auto served = ahead.Stats().aheadServed;
    EXPECT_EQ(ahead.Crc(key - 1), plain.Crc(key - 1)) << "keys " << ::testing::PrintToString(keys);
    EXPECT_EQ(ahead.Stats().aheadServed, served + 1);
}

// Stepping back over open GOPs, the run the worker starts for the leading
// pictures of the steps' GOP decodes the whole GOP before it, which is the
// rest of its job: it files those pictures as it passes them. Preparing 30
// pictures took 82 decoded when it ran over that GOP a second time, 43 now.
TEST_F(WorkerSteps, OpenGopsBelowTheStepsAreDecodedOnce) {
    const std::string path = fwtest::MakeTestFile("mpeg2_open_gop.ts", "mpeg2video 256x128 90 gop=15 b=2");
    ASSERT_FALSE(path.empty());
    Reader ahead(path, true, 0, 0);
    ASSERT_TRUE(ahead.Ok());
    ahead.Crc(ahead.Count() - 1);
    ahead.Crc(ahead.Count() - 2);  // a step back: the worker prepares the rest of this GOP and the one before
    // Checked before the worker is done, fewer are decoded.
    EXPECT_GE(SettledAheadBytes(ahead), 20 * kPictureBytes) << "the worker prepared too little";
    EXPECT_LE(ahead.Stats().aheadDecoded, 60u);
}

// A jump to the end of a long GOP decodes the GOP on the reader's own run;
// what its store cannot keep of it goes to the worker, so that stepping back
// from there finds the pictures ready (the same bytes) instead of waiting for
// the worker to decode the GOP again from its key.
TEST_F(WorkerSteps, AJumpHandsTheGopItDecodedToTheWorker) {
    const std::string path =
        fwtest::MakeTestFile("long_gop.mp4", "libx264 256x128 200 gop=100 b=2 -x264-params=scenecut=0");
    ASSERT_FALSE(path.empty());
    const std::size_t each = kPictureBytes;
    Reader plain(path, false, 1, ReaderKeepBytes()), ahead(path, true, 0, 8 * each);
    ASSERT_TRUE(plain.Ok() && ahead.Ok());
    ahead.Crc(0);
    ahead.Crc(199);
    EXPECT_GE(ahead.Stats().aheadBytes, 80 * each);
    const auto served = ahead.Stats().aheadServed;
    for (LONG i = 198; i >= 110; --i) ASSERT_EQ(ahead.Crc(i), plain.Crc(i)) << "frame " << i;
    EXPECT_GE(ahead.Stats().aheadServed, served + 80);
}

// Closing a reader whose worker is busy with the GOPs below a step back
// stops the worker and waits for it: none is left running, round after round.
TEST(WorkerClosing, NoWorkerOutlivesItsReader) {
    const std::string path = fwtest::MakeTestFile("two_gops.mp4", "libx264 160x120 120 gop=60 b=2");
    ASSERT_FALSE(path.empty());
    ASSERT_EQ(DecodeAhead::Running(), 0);
    for (int round = 0; round < 12; ++round) {
        Reader reader(path, true, 0, 0);
        ASSERT_TRUE(reader.Ok());
        reader.Crc(119);
        reader.Crc(118);  // a step back: the worker takes on both GOPs below
        EXPECT_EQ(DecodeAhead::Running(), 1);
        reader.Close();
        ASSERT_EQ(DecodeAhead::Running(), 0) << "round " << round;
    }
}

}  // namespace
