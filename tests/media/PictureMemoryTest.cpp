// The reader's bitmaps and picture memory: a bitmap someone holds never
// changes, row padding reads as zeros even in reused memory, the bytes the
// reader and the picture memory count are the bytes they hold, and faulting
// memory in ahead never touches a block handed out.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "StreamFrames.h"
#include "TestFiles.h"
#include "TestUtil.h"
#include "media/MemoryBudgets.h"
#include "media/PictureMemory.h"

namespace {

// A generated clip's reader through the file service, without a worker.
fwtest::StreamFrames Frames(const std::string& name, const std::string& description,
                            std::size_t keepBytes = ReaderKeepBytes()) {
    return fwtest::StreamFrames(fwtest::MakeTestFile(name, description), false, 0, keepBytes);
}

// A bitmap held by a cache slot (here: the test) keeps its bytes while the
// reader converts frame after frame; only bitmaps nobody holds are reused.
TEST(Bitmaps, HeldBitmapNeverChanges) {
    auto frames = Frames("held.avi", "mpeg4 64x48 30 gop=10");
    ASSERT_TRUE(frames.Ok());
    const auto held = frames.Get(5);
    ASSERT_TRUE(held);
    const std::vector<std::uint8_t> copy(held.get(), held.get() + frames.Bytes());
    for (LONG frame = 6; frame < 20; ++frame) {
        const auto shown = frames.Get(frame);  // on screen until the next one comes
        ASSERT_TRUE(shown);
        ASSERT_NE(shown.get(), held.get());
        ASSERT_EQ(std::memcmp(held.get(), copy.data(), copy.size()), 0) << "after frame " << frame;
    }
}

// Rows of 66 pixels end in 2 bytes of padding. Memory that earlier bitmaps
// of the same size left dirty is what the reader gets back; its padding must
// read as zeros all the same.
TEST(Bitmaps, RowPaddingIsZeroInReusedMemory) {
    const std::size_t bytes = sizeof(BITMAPINFOHEADER) + 200 * 48 + 64;  // as the reader sizes them
    std::vector<void*> dirty;
    for (int i = 0; i < 8; ++i) {
        void* block = AllocatePictureBlock(bytes);
        ASSERT_TRUE(block);
        std::memset(block, 0xEE, bytes);
        dirty.push_back(block);
    }
    for (void* block : dirty) FreePictureBlock(block, bytes);
    auto frames = Frames("padded.avi", "ffv1 66x48 12 gop=1");
    ASSERT_TRUE(frames.Ok());
    ASSERT_EQ(frames.RowBytes(), 200);
    std::vector<std::shared_ptr<const std::uint8_t[]>> held;  // fresh buffers each time
    for (LONG frame = 0; frame < 12; ++frame) {
        held.push_back(frames.Get(frame));
        ASSERT_TRUE(held.back());
        const std::uint8_t* rows = held.back().get() + sizeof(BITMAPINFOHEADER);
        for (int y = 0; y < 48; ++y)
            ASSERT_EQ(rows[y * 200 + 198] | rows[y * 200 + 199], 0) << "frame " << frame << " row " << y;
    }
}

// A budget of ten pictures of 256x192 at twice their yuv420p size (room for
// the decoder's aligned rows and padding; this width needs no widening)
// holds nine at least: stepping back eight frames from a far target starts
// no run, and the bytes counted are the pictures' own, within the budget.
TEST(KeptPictures, CountTheBytesTheyHold) {
    const std::size_t picture = 256 * 192 * 3 / 2;
    const std::size_t budget = 10 * 2 * picture;
    auto frames = Frames("kept.avi", "mpeg4 256x192 100 gop=100", budget);
    ASSERT_TRUE(frames.Ok());
    ASSERT_TRUE(frames.Get(60));
    const FrameReaderStats after = frames.Stats();
    EXPECT_LE(after.keptBytes, budget);
    EXPECT_GE(after.keptBytes, 8 * picture);
    for (LONG frame = 59; frame >= 52; --frame) ASSERT_TRUE(frames.Get(frame));
    EXPECT_EQ(frames.Stats().seeks, after.seeks) << "the pictures before frame 60 were not kept";
}

// Freed blocks keep their pages up to the idle budget; a block taken back
// from them takes its bytes off the count again.
TEST(PictureMemory, IdleBytesComeAndGoWithTheBlocks) {
    const std::size_t before = IdlePictureBytes();
    std::vector<void*> blocks;
    for (int i = 0; i < 16; ++i) blocks.push_back(AllocatePictureBlock(5000 + 100 * i));
    const std::size_t allocated = IdlePictureBytes();
    EXPECT_LE(allocated, before);
    for (int i = 0; i < 16; ++i) FreePictureBlock(blocks[i], 5000 + 100 * i);
    const std::size_t freed = IdlePictureBytes();
    EXPECT_LE(freed, IdlePictureBudget());
    for (int i = 0; i < 16; ++i) blocks[i] = AllocatePictureBlock(5000 + 100 * i);
    EXPECT_EQ(IdlePictureBytes(), allocated);
    for (int i = 0; i < 16; ++i) FreePictureBlock(blocks[i], 5000 + 100 * i);
    EXPECT_EQ(IdlePictureBytes(), freed);
    // More than the budget freed at once: the count stays within it.
    std::vector<void*> many;
    const std::size_t big = 8u << 20;
    for (std::size_t held = 0; held <= IdlePictureBudget() + big; held += big) many.push_back(AllocatePictureBlock(big));
    for (void* block : many) FreePictureBlock(block, big);
    EXPECT_LE(IdlePictureBytes(), IdlePictureBudget());
}

// Small blocks are carved while a helper thread faults in the memory ahead
// of them, and a slab's unused tail is given back when the next slab starts:
// neither may touch a block handed out. Blocks of seeded sizes fill several
// slabs, marked at their first, middle and last byte as they come (faster
// than the helper faults memory in), and keep their marks.
TEST(PictureMemory, BlocksKeepTheirBytesWhileMemoryIsFaultedInAhead) {
    std::mt19937 random(fwtest::TestSeed("PictureMemory"));
    std::uniform_int_distribution<std::size_t> size(100'000, 1'000'000);
    std::vector<std::pair<std::uint8_t*, std::size_t>> blocks;
    const auto mark = [](std::size_t i) { return static_cast<std::uint8_t>(i % 255 + 1); };
    for (std::size_t total = 0; total < (640u << 20);) {
        const std::size_t bytes = size(random);
        auto* block = static_cast<std::uint8_t*>(AllocatePictureBlock(bytes));
        ASSERT_NE(block, nullptr);
        block[0] = block[bytes / 2] = block[bytes - 1] = mark(blocks.size());
        blocks.emplace_back(block, bytes);
        total += bytes;
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto [block, bytes] = blocks[i];
        EXPECT_TRUE(block[0] == mark(i) && block[bytes / 2] == mark(i) && block[bytes - 1] == mark(i))
            << "block " << i << " of " << bytes << " bytes";
        FreePictureBlock(block, bytes);
    }
}

}  // namespace
