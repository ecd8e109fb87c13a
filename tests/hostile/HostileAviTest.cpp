// Broken, truncated, patched and foreign files handed to LoadAVI: each one is
// refused with the file's message, or it loads and its frames are drawn or
// skipped; never a crash, a hang or memory out of proportion to the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "ClipMaker.h"
#include "HostileSupport.h"
#include "TestUtil.h"
#include "clip/cAVI.h"

using namespace hostile;

namespace {

const std::string kFileError = "There was an error working with the file:\r\n";
const std::string kNoDecompressor = "No suitable decompressor found for this video stream!";

// Reading a hostile file of a few kilobytes may cost the decoder's and the
// frame's memory, never more than this (plus the sanitizer's quarantine).
constexpr std::int64_t kMemoryBound = std::int64_t{384} << 20;
constexpr std::int64_t kCacheBudget = std::int64_t{64} << 20;
// Surfaces larger than this are not needed to see a frame drawn: drawing clips.
constexpr int kSurfaceSide = 1024;

enum class Base { Ffv1, Mpeg4, Audio, None, Directory, Missing };
enum class Outcome { Refused, Loads, Either };

using Mutation = std::function<void(Bytes&, std::mt19937&)>;

struct HostileCase {
    const char* name;
    Base base;
    Mutation mutate;
    Outcome outcome;
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

fwtest::ClipSpec SpecFor(Base base) {
    fwtest::ClipSpec spec;
    spec.frames = 12;
    if (base == Base::Mpeg4 || base == Base::Audio) {
        spec.encoder = "mpeg4";
        spec.frames = 24;
        spec.gop = 6;
        spec.bFrames = 2;
    }
    spec.withAudio = base == Base::Audio;
    return spec;
}

Bytes GoodClip(Base base) {
    static std::map<Base, Bytes> made;
    auto it = made.find(base);
    if (it != made.end()) return it->second;
    const std::string path = fwtest::TempDir() + "/good.avi";
    EXPECT_TRUE(fwtest::MakeClip(path, SpecFor(base)));
    return made[base] = fwtest::ReadAll(path);
}

// ---- Mutations ---------------------------------------------------------------

constexpr std::uint32_t Id(const char* fourCC) {
    std::uint32_t id = 0;
    for (int i = 3; i >= 0; --i) id = id << 8 | static_cast<std::uint8_t>(fourCC[i]);
    return id;
}

void Resize(Bytes& bytes, std::size_t length) { bytes.resize(std::min(length, bytes.size())); }

Mutation TruncateAt(std::size_t length) {
    return [=](Bytes& b, std::mt19937&) { Resize(b, length); };
}

// Cuts the file `delta` bytes after the start of the `nth` chunk `id`.
Mutation Cut(const char* id, std::size_t delta, std::size_t nth = 0) {
    return [=](Bytes& b, std::mt19937&) {
        const std::size_t at = FindChunk(b, id, nth);
        ASSERT_NE(at, kNone) << id;
        Resize(b, at + delta);
    };
}

// Sets a field of the first chunk `id`, `offset` bytes into its body.
Mutation Field(const char* id, std::size_t offset, std::uint32_t value, int width = 4) {
    return [=](Bytes& b, std::mt19937&) {
        const std::size_t at = FindChunk(b, id);
        ASSERT_NE(at, kNone) << id;
        PutLE(b, at + 8 + offset, value, width);
    };
}

// Sets the size word of the first chunk `id` (for a list: of the list).
Mutation ChunkSize(const char* id, std::uint32_t value) {
    return [=](Bytes& b, std::mt19937&) {
        const std::size_t at = FindChunk(b, id);
        ASSERT_NE(at, kNone) << id;
        PutLE(b, at + 4, value);
    };
}

Mutation Rename(const char* id, const char* to) {
    return [=](Bytes& b, std::mt19937&) {
        const std::size_t at = FindChunk(b, id);
        ASSERT_NE(at, kNone) << id;
        std::copy(to, to + 4, b.begin() + static_cast<std::ptrdiff_t>(at));
    };
}

// Changes every 16-byte idx1 entry: field 0 id, 4 flags, 8 offset, 12 size.
Mutation EveryIndexEntry(std::size_t field, std::function<std::uint32_t(std::uint32_t)> change) {
    return [=](Bytes& b, std::mt19937&) {
        const std::size_t at = FindChunk(b, "idx1");
        ASSERT_NE(at, kNone);
        const std::size_t end = std::min<std::size_t>(b.size(), at + 8 + GetLE32(b, at + 4));
        for (std::size_t entry = at + 8; entry + 16 <= end; entry += 16)
            PutLE(b, entry + field, change(GetLE32(b, entry + field)));
    };
}

// Overwrites the payload of every chunk `id` from `skip` bytes in.
Mutation EveryPayload(const char* id, bool random, std::size_t skip = 0) {
    return [=](Bytes& b, std::mt19937& rng) {
        std::size_t touched = 0;
        for (std::size_t at; (at = FindChunk(b, id, touched)) != kNone; ++touched) {
            const std::size_t end = std::min<std::size_t>(b.size(), at + 8 + GetLE32(b, at + 4));
            for (std::size_t i = at + 8 + skip; i < end; ++i) b[i] = random ? static_cast<std::uint8_t>(rng()) : 0;
        }
        ASSERT_GT(touched, 0u) << id;
    };
}

// Turns the padding the muxer leaves in the header list into an OpenDML
// extended header ('odml' list, 'dmlh' chunk) claiming `totalFrames`.
Mutation OpenDmlTotal(std::uint32_t totalFrames) {
    return [=](Bytes& b, std::mt19937&) {
        const std::size_t at = FindChunk(b, "JUNK", 1);
        ASSERT_NE(at, kNone);
        const std::uint32_t size = GetLE32(b, at + 4);
        ASSERT_GE(size, 16u);
        PutLE(b, at, Id("LIST"));
        PutLE(b, at + 8, Id("odml"));
        PutLE(b, at + 12, Id("dmlh"));
        PutLE(b, at + 16, size - 12);
        PutLE(b, at + 20, totalFrames);
    };
}

Mutation Both(Mutation first, Mutation second) {
    return [=](Bytes& b, std::mt19937& rng) {
        first(b, rng);
        second(b, rng);
    };
}

Mutation Replace(std::function<Bytes(std::mt19937&)> make) {
    return [=](Bytes& b, std::mt19937& rng) { b = make(rng); };
}

void AppendWords(Bytes& b, std::initializer_list<std::uint32_t> words) {
    for (const std::uint32_t word : words) {
        b.resize(b.size() + 4);
        PutLE(b, b.size() - 4, word);
    }
}

void AppendRandom(Bytes& b, std::mt19937& rng, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) b.push_back(static_cast<std::uint8_t>(rng()));
}

Bytes RandomBytes(std::mt19937& rng, std::size_t length) {
    Bytes b;
    AppendRandom(b, rng, length);
    return b;
}

// PCM, mono, 8000 samples/s, 16 bits.
Bytes Wav(std::mt19937& rng) {
    Bytes b;
    AppendWords(b, {Id("RIFF"), 36 + 800, Id("WAVE"), Id("fmt "), 16, 0x00010001, 8000, 16000, 0x00100002});
    AppendWords(b, {Id("data"), 800});
    AppendRandom(b, rng, 800);
    return b;
}

// 4x4, 24 bits.
Bytes Bmp(std::mt19937& rng) {
    Bytes b = {'B', 'M'};
    AppendWords(b, {54 + 48, 0, 54, 40, 4, 4, 0x00180001, 0, 0, 0, 0, 0, 0});
    AppendRandom(b, rng, 48);
    return b;
}

Bytes AviHeaderThenRandom(std::mt19937& rng) {
    Bytes b;
    AppendWords(b, {Id("RIFF"), 4 + 2048, Id("AVI ")});
    AppendRandom(b, rng, 2048);
    return b;
}

constexpr std::uint32_t Neg(std::int32_t value) { return static_cast<std::uint32_t>(value); }

// strh body: 0 fccType, 4 fccHandler, 20 dwScale, 24 dwRate, 28 dwStart, 32 dwLength.
// strf body (BITMAPINFOHEADER): 4 biWidth, 8 biHeight, 14 biBitCount, 16 biCompression.
// avih body: 16 dwTotalFrames, 24 dwStreams, 32 dwWidth, 36 dwHeight.
const HostileCase kCases[] = {
    {"TruncatedInRiffHeader", Base::Ffv1, TruncateAt(6), Outcome::Refused},
    {"TruncatedAfterRiffHeader", Base::Ffv1, TruncateAt(12), Outcome::Refused},
    {"TruncatedInMainHeader", Base::Ffv1, Cut("avih", 20), Outcome::Refused},
    {"TruncatedInStreamHeader", Base::Ffv1, Cut("strh", 30), Outcome::Refused},
    {"TruncatedInFormat", Base::Ffv1, Cut("strf", 20), Outcome::Refused},
    {"TruncatedAtMovi", Base::Ffv1, Cut("movi", 0), Outcome::Either},
    {"TruncatedInFirstFrame", Base::Ffv1, Cut("00dc", 20), Outcome::Either},
    {"TruncatedInMovi", Base::Mpeg4, Cut("00dc", 11, 9), Outcome::Either},
    {"TruncatedBeforeIndex", Base::Mpeg4, Cut("idx1", 0), Outcome::Loads},
    {"TruncatedInIndex", Base::Mpeg4, Cut("idx1", 8 + 40), Outcome::Either},
    {"TruncatedInAudio", Base::Audio, Cut("01wb", 9, 3), Outcome::Either},
    {"LengthZero", Base::Ffv1, Field("strh", 32, 0), Outcome::Refused},
    {"LengthLargest", Base::Ffv1, Field("strh", 32, 0x7FFFFFFF), Outcome::Either},
    {"LengthAllBits", Base::Ffv1, Field("strh", 32, 0xFFFFFFFF), Outcome::Refused},
    {"RateZero", Base::Ffv1, Field("strh", 24, 0), Outcome::Refused},
    {"RateNegative", Base::Ffv1, Field("strh", 24, Neg(-25)), Outcome::Refused},
    {"ScaleZero", Base::Ffv1, Field("strh", 20, 0), Outcome::Refused},
    {"RateAndScaleZero", Base::Mpeg4, Both(Field("strh", 20, 0), Field("strh", 24, 0)), Outcome::Refused},
    {"StartNearLargest", Base::Ffv1, Field("strh", 28, 0x7FFFFFF0), Outcome::Loads},
    {"StartLargest", Base::Ffv1, Field("strh", 28, 0x7FFFFFFF), Outcome::Refused},
    {"StartAllBits", Base::Ffv1, Field("strh", 28, 0xFFFFFFFF), Outcome::Refused},
    {"StartMillion", Base::Mpeg4, Field("strh", 28, 1000000), Outcome::Loads},
    {"StartAndLengthLargest", Base::Ffv1, Both(Field("strh", 28, 0x40000000), Field("strh", 32, 0x40000000)),
     Outcome::Either},
    {"WidthZero", Base::Ffv1, Field("strf", 4, 0), Outcome::Refused},
    {"WidthNegative", Base::Ffv1, Field("strf", 4, Neg(-64)), Outcome::Refused},
    {"Width100000", Base::Ffv1, Field("strf", 4, 100000), Outcome::Refused},
    {"WidthLargestInt", Base::Mpeg4, Field("strf", 4, 0x7FFFFFFF), Outcome::Refused},
    {"HeightZero", Base::Ffv1, Field("strf", 8, 0), Outcome::Refused},
    {"HeightNegative", Base::Mpeg4, Field("strf", 8, Neg(-48)), Outcome::Either},
    {"HeightMostNegative", Base::Ffv1, Field("strf", 8, 0x80000000), Outcome::Refused},
    {"Height100000", Base::Ffv1, Field("strf", 8, 100000), Outcome::Refused},
    {"FrameWide", Base::Mpeg4, Field("strf", 4, 32768), Outcome::Either},
    {"FrameHuge", Base::Ffv1, Both(Field("strf", 4, 20000), Field("strf", 8, 20000)), Outcome::Either},
    {"FrameLargestDecodable", Base::Ffv1, Both(Field("strf", 4, 16000), Field("strf", 8, 16000)), Outcome::Either},
    {"FrameLargeOverSmallPictures", Base::Mpeg4, Both(Field("strf", 4, 2048), Field("strf", 8, 2048)),
     Outcome::Either},
    {"FrameAtTheLimitOverSmallPictures", Base::Mpeg4, Both(Field("strf", 4, 8192), Field("strf", 8, 4096)),
     Outcome::Either},
    {"FrameHugeOverSmallPictures", Base::Mpeg4, Both(Field("strf", 4, 16000), Field("strf", 8, 16000)),
     Outcome::Refused},
    {"FrameLargestClaim", Base::Mpeg4, Both(Field("strf", 4, 32768), Field("strf", 8, 32768)), Outcome::Either},
    {"UnknownFourCC", Base::Ffv1, Both(Field("strf", 16, Id("ZZZZ")), Field("strh", 4, Id("ZZZZ"))), Outcome::Refused},
    {"UnknownHandlerOnly", Base::Mpeg4, Field("strh", 4, Id("ZZZZ")), Outcome::Either},
    {"BitCountZero", Base::Ffv1, Field("strf", 14, 0, 2), Outcome::Either},
    {"BitCountHuge", Base::Mpeg4, Field("strf", 14, 0xFFFF, 2), Outcome::Either},
    {"NoVideoStream", Base::Ffv1, Field("strh", 0, Id("auds")), Outcome::Refused},
    {"MainHeaderNonsense", Base::Ffv1,
     Both(Field("avih", 16, 0x7FFFFFFF), Both(Field("avih", 24, 100000), Field("avih", 32, 100000))),
     Outcome::Either},
    {"FormatTooShort", Base::Ffv1, ChunkSize("strf", 4), Outcome::Either},
    {"StreamHeaderTooShort", Base::Ffv1, ChunkSize("strh", 8), Outcome::Either},
    {"OpenDmlTotalLarger", Base::Mpeg4, OpenDmlTotal(1000), Outcome::Loads},
    {"OpenDmlTotalLargest", Base::Ffv1, OpenDmlTotal(0xFFFFFFFF), Outcome::Loads},
    {"IndexRemoved", Base::Mpeg4, Rename("idx1", "JUNK"), Outcome::Loads},
    {"IndexRemovedWithAudio", Base::Audio, Rename("idx1", "JUNK"), Outcome::Loads},
    {"IndexPastEnd", Base::Mpeg4, EveryIndexEntry(8, [](std::uint32_t v) { return v + 0x40000000; }),
     Outcome::Either},
    {"IndexOffsetsAllBits", Base::Ffv1, EveryIndexEntry(8, [](std::uint32_t) { return 0xFFFFFFF0u; }),
     Outcome::Either},
    {"IndexSizesHuge", Base::Mpeg4, EveryIndexEntry(12, [](std::uint32_t) { return 0x7FFFFFF0u; }),
     Outcome::Either},
    {"IndexEntriesZero", Base::Ffv1, EveryPayload("idx1", false), Outcome::Either},
    {"IndexGarbage", Base::Audio, EveryPayload("idx1", true), Outcome::Either},
    {"IndexWithoutKeyFrames", Base::Mpeg4, EveryIndexEntry(4, [](std::uint32_t) { return 0u; }), Outcome::Either},
    {"IndexSizeWordHuge", Base::Mpeg4, ChunkSize("idx1", 0x7FFFFFF0), Outcome::Either},
    {"FramesGarbage", Base::Ffv1, EveryPayload("00dc", true), Outcome::Loads},
    {"FramesGarbageAfterStart", Base::Mpeg4, EveryPayload("00dc", true, 8), Outcome::Loads},
    {"FramesZero", Base::Mpeg4, EveryPayload("00dc", false), Outcome::Loads},
    {"AudioGarbage", Base::Audio, EveryPayload("01wb", true), Outcome::Loads},
    {"FrameSizeWordHuge", Base::Mpeg4, ChunkSize("00dc", 0x7FFFFFF0), Outcome::Either},
    {"MoviSizeWordHuge", Base::Ffv1, ChunkSize("movi", 0x7FFFFFF0), Outcome::Either},
    {"RiffSizeWordZero", Base::Ffv1, ChunkSize("AVI ", 0), Outcome::Either},
    {"RiffSizeWordAllBits", Base::Mpeg4, ChunkSize("AVI ", 0xFFFFFFFF), Outcome::Either},
    {"RiffNotAvi", Base::Ffv1, Field("AVI ", 0, Id("CDXA")), Outcome::Refused},
    {"Wav", Base::None, Replace(Wav), Outcome::Refused},
    {"Bmp", Base::None, Replace(Bmp), Outcome::Refused},
    {"RandomBytes", Base::None, Replace([](std::mt19937& rng) { return RandomBytes(rng, 4096); }), Outcome::Refused},
    {"RiffAviThenRandom", Base::None, Replace(AviHeaderThenRandom), Outcome::Refused},
    {"Empty", Base::None, Replace([](std::mt19937&) { return Bytes{}; }), Outcome::Refused},
    {"Directory", Base::Directory, nullptr, Outcome::Refused},
    {"Missing", Base::Missing, nullptr, Outcome::Refused},
};

// ---- Checks ------------------------------------------------------------------

void ExpectRefusal(const fwtest::CaptureMessages& messages, const std::string& path) {
    ASSERT_EQ(messages.Count(), 1u);
    const fwtest::Message& m = messages.Last();
    EXPECT_TRUE(m.text == kFileError + path || m.text == kNoDecompressor) << m.text;
    EXPECT_EQ(m.caption, "Framewise");
    EXPECT_EQ(m.icon, MB_ICONINFORMATION);
}

// Draws the first, the last, the middle and a few random frames, with the
// cache on and off; a frame that cannot be decoded is skipped.
void DrawFrames(cAVI& clip, std::mt19937& rng) {
    MemorySurface surface(std::clamp(clip.GetWidth(), 1, kSurfaceSide), std::clamp(clip.GetHeight(), 1, kSurfaceSide));
    const std::int64_t first = clip.GetFirstFrame();
    const std::int64_t last = clip.GetLastFrame();
    std::vector<std::int64_t> frames = {first, last, first + (last - first) / 2, first, last};
    std::uniform_int_distribution<std::int64_t> any(first, last);
    for (int i = 0; i < 4; ++i) frames.push_back(any(rng));
    bool useCache = true;
    for (const std::int64_t frame : frames) {
        clip.DrawFrame(static_cast<std::int32_t>(frame), surface, useCache);
        useCache = !useCache;
        EXPECT_GE(clip.GetCatchSize(), 0);
        EXPECT_EQ(cAVI::GetCatchTotal(), clip.GetCatchSize());
        EXPECT_LE(cAVI::GetCatchTotal(), cAVI::GetCatchBudget());
    }
}

// Opens `path` and, once it opened, draws frames. Returns whether it loaded.
bool Exercise(const std::string& path, std::mt19937& rng) {
    fwtest::CaptureMessages messages;
    cAVI clip;
    const bool loaded = clip.LoadAVI(path);
    if (!loaded) {
        ExpectRefusal(messages, path);
        return false;
    }
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_LE(clip.GetFirstFrame(), clip.GetLastFrame());
    EXPECT_GT(clip.GetWidth(), 0);
    EXPECT_GT(clip.GetHeight(), 0);
    DrawFrames(clip, rng);
    clip.CloseAVI();
    EXPECT_EQ(cAVI::GetCatchTotal(), 0);
    return true;
}

std::string WriteCase(const HostileCase& c, std::mt19937& rng) {
    const std::string dir = fwtest::TempDir();
    if (c.base == Base::Missing) return dir + "/missing.avi";
    const std::string path = dir + "/x.avi";
    if (c.base == Base::Directory) {
        std::filesystem::create_directory(path);
        return path;
    }
    Bytes bytes = c.base == Base::None ? Bytes{} : GoodClip(c.base);
    c.mutate(bytes, rng);
    fwtest::WriteAll(path, bytes);
    return path;
}

// The peak memory that reading the case's file adds, and whether it loaded.
void ExpectBoundedRead(const HostileCase& c) {
    std::mt19937 rng(TestSeed(c.name));
    const std::string path = WriteCase(c, rng);
    if (testing::Test::HasFatalFailure()) return;
    ResetPeakMemory();
    const std::int64_t before = ResidentMemoryBytes();
    const bool loaded = Exercise(path, rng);
    if (c.outcome != Outcome::Either) {
        EXPECT_EQ(loaded, c.outcome == Outcome::Loads);
    }
    const std::int64_t peak = PeakMemoryBytes();
    std::cout << c.name << ": " << (loaded ? "loaded" : "refused") << ", peak "
              << (peak - before) / 1024 << " KB above the start\n";
    if (before > 0 && peak > 0) {
        EXPECT_LE(peak - before, kMemoryBound + SanitizerSlack());
    }
}

class HostileAvi : public testing::TestWithParam<HostileCase> {
protected:
    // Bounds the cache's share, so that what remains is the reading itself.
    void SetUp() override { cAVI::SetCatchBudget(kCacheBudget); }
};

TEST_P(HostileAvi, IsRefusedWithTheMessageOrDrawsSafely) { ExpectBoundedRead(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Table, HostileAvi, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every cut of a good clip: inside the headers, at and around each chunk's
// header and body, inside 'movi', before and inside the index.
std::vector<std::size_t> CutOffsets(const Bytes& clip) {
    std::set<std::size_t> offsets;
    for (std::size_t i = 0; i < 64; i += 3) offsets.insert(i);
    for (const std::size_t chunk : ChunkOffsets(clip))
        for (const std::size_t delta : {0, 1, 4, 7, 8, 9, 12, 13, 20})
            if (chunk + delta < clip.size()) offsets.insert(chunk + delta);
    offsets.insert(clip.size() - 1);
    return {offsets.begin(), offsets.end()};
}

class TruncatedAvi : public testing::TestWithParam<Base> {};

TEST_P(TruncatedAvi, EveryCutIsRefusedOrDrawsSafely) {
    std::mt19937 rng(TestSeed("truncations"));
    const Bytes clip = GoodClip(GetParam());
    const std::string path = fwtest::TempDir() + "/cut.avi";
    int loaded = 0;
    const std::vector<std::size_t> offsets = CutOffsets(clip);
    for (const std::size_t length : offsets) {
        SCOPED_TRACE(length);
        fwtest::WriteAll(path, Bytes(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(length)));
        loaded += Exercise(path, rng);
        if (testing::Test::HasFatalFailure()) return;
    }
    std::cout << offsets.size() << " cuts of " << clip.size() << " bytes, " << loaded << " loaded\n";
    EXPECT_GT(loaded, 0);  // cuts after the headers keep the clip
}

std::string BaseName(const testing::TestParamInfo<Base>& info) {
    static const char* const kNames[] = {"Ffv1", "Mpeg4", "Audio"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Clips, TruncatedAvi, testing::Values(Base::Ffv1, Base::Mpeg4, Base::Audio), BaseName);

}  // namespace
