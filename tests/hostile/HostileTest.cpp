// Broken, truncated, patched and foreign files handed to LoadAVI: each one is
// refused with the file's message, or it loads and its frames are drawn or
// skipped; never a crash, a hang or memory out of proportion to the file.
// The cases are data (cases.txt); this reads them and makes their files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

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
constexpr int kSurfaceSide = 1024;  // drawing clips to the surface; a frame needs no more

struct Case {
    std::string name, base, outcome;
    std::vector<std::vector<std::string>> operations;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::vector<Case> Cases() {
    std::vector<Case> cases;
    std::ifstream in(FW_HOSTILE_CASES);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Case c;
        if (line.empty() || line[0] == '#' || !(words >> c.name >> c.base >> c.outcome)) continue;
        c.operations.emplace_back();
        for (std::string word; words >> word;) {
            if (word == ";") c.operations.emplace_back();
            else c.operations.back().push_back(word);
        }
        cases.push_back(std::move(c));
    }
    return cases;
}

std::string Extension(const std::string& base) { return base == "mp4" || base == "mkv" ? base : "avi"; }

Bytes GoodFile(const std::string& base) {
    static std::map<std::string, Bytes> made;
    if (auto it = made.find(base); it != made.end()) return it->second;
    fwtest::ClipSpec spec;
    spec.frames = 12;
    if (base != "ffv1") {
        spec.encoder = base == "mp4" || base == "mkv" ? "libx264" : "mpeg4";
        spec.frames = 24;
        spec.gop = 6;
        spec.bFrames = 2;
    }
    spec.withAudio = base == "audio";
    const std::string path = fwtest::TempDir() + "/good." + Extension(base);
    EXPECT_TRUE(fwtest::MakeClip(path, spec));
    return made[base] = fwtest::ReadAll(path);
}

std::uint32_t Number(const std::string& text) { return static_cast<std::uint32_t>(std::stoull(text, nullptr, 0)); }

std::string FourCC(std::string id) { return id.append(4 - std::min<std::size_t>(4, id.size()), ' '); }

// Where chunk or box `id` stands: its header, its id and its body.
struct Place {
    std::size_t header = kNone, id = kNone, body = kNone;
};

Place Locate(const Bytes& b, const std::string& id, std::size_t nth = 0) {
    const bool riff = b.size() >= 4 && std::equal(b.begin(), b.begin() + 4, "RIFF");
    if (riff) {
        const std::size_t at = FindChunk(b, FourCC(id).c_str(), nth);
        return at == kNone ? Place{} : Place{at, at, at + 8};
    }
    auto it = b.begin();
    for (std::size_t seen = 0; (it = std::search(it, b.end(), id.begin(), id.end())) != b.end(); ++it)
        if (seen++ == nth) {
            const auto at = static_cast<std::size_t>(it - b.begin());
            return {at - 4, at, at + 4};
        }
    return {};
}

void PutBE(Bytes& b, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) PutLE(b, at + i, value >> (8 * (3 - i)), 1);
}

Bytes Made(const std::string& kind, std::mt19937& rng) {
    Bytes b;
    auto words = [&](std::initializer_list<std::uint32_t> list) {
        for (const std::uint32_t w : list) {
            b.resize(b.size() + 4);
            PutLE(b, b.size() - 4, w);
        }
    };
    std::size_t noise = 0;
    if (kind == "wav") {
        words({0x46464952, 836, 0x45564157, 0x20746D66, 16, 0x00010001, 8000, 16000, 0x00100002, 0x61746164, 800});
        noise = 800;
    } else if (kind == "bmp") {
        b = {'B', 'M'};
        words({102, 0, 54, 40, 4, 4, 0x00180001, 0, 0, 0, 0, 0, 0});
        noise = 48;
    } else if (kind == "riffavi") {
        words({0x46464952, 2052, 0x20495641});
        noise = 2048;
    } else if (kind == "random") {
        noise = 4096;
    }
    for (std::size_t i = 0; i < noise; ++i) b.push_back(static_cast<std::uint8_t>(rng()));
    return b;
}

void Apply(const std::vector<std::string>& op, Bytes& b, std::mt19937& rng) {
    if (op.empty()) return;
    const std::string& what = op[0];
    const auto arg = [&](std::size_t i) { return Number(op.at(i)); };
    auto place = [&](std::size_t nth = 0) {
        const Place p = Locate(b, op.at(1), nth);
        if (p.header == kNone) ADD_FAILURE() << "no " << op.at(1);
        return p;
    };
    if (what == "truncate") b.resize(std::min<std::size_t>(arg(1), b.size()));
    else if (what == "keep") b.resize(b.size() * arg(1) / 100);
    else if (what == "cut") b.resize(std::min(b.size(), place(op.size() > 3 ? arg(3) : 0).header + arg(2)));
    else if (what == "le") PutLE(b, place().body + arg(2), arg(3), op.size() > 4 ? static_cast<int>(arg(4)) : 4);
    else if (what == "be") PutBE(b, place().body + arg(2), arg(3));
    else if (what == "size") PutLE(b, place().header + 4, arg(2));
    else if (what == "rename") std::copy_n(FourCC(op.at(2)).begin(), 4, b.begin() + place().id);
    else if (what == "make") b = Made(op.at(1), rng);
    else if (what == "noise")
        for (std::size_t i = b.size() * arg(1) / 100, n = 0; i < b.size() && n < arg(2); ++i, ++n)
            b[i] = static_cast<std::uint8_t>(rng());
    else if (what == "index" || what == "garble") {
        const bool index = what == "index";
        for (std::size_t nth = 0;; ++nth) {
            const Place p = Locate(b, index ? "idx1" : op.at(1), nth);
            if (p.header == kNone || (index && nth > 0)) break;
            const std::size_t end = std::min<std::size_t>(b.size(), p.body + GetLE32(b, p.header + 4));
            if (index) {
                for (std::size_t e = p.body + arg(1); e + 4 <= end; e += 16)
                    PutLE(b, e, (op.at(2) == "add" ? GetLE32(b, e) : 0) + arg(3));
            } else {
                for (std::size_t i = p.body + (op.size() > 3 ? arg(3) : 0); i < end; ++i)
                    b[i] = op.at(2) == "random" ? static_cast<std::uint8_t>(rng()) : 0;
            }
        }
    } else if (what == "odml") {
        // The padding the muxer leaves in the header list becomes an OpenDML
        // extended header ('odml' list, 'dmlh' chunk).
        const Place junk = Locate(b, "JUNK", 1);
        ASSERT_NE(junk.header, kNone);
        const std::uint32_t size = GetLE32(b, junk.header + 4);
        for (const auto& [offset, word] : std::initializer_list<std::pair<std::size_t, std::uint32_t>>{
                 {0, 0x5453494C}, {8, 0x6C6D646F}, {12, 0x686C6D64}, {16, size - 12}, {20, arg(1)}})
            PutLE(b, junk.header + offset, word);
    } else {
        ADD_FAILURE() << "unknown operation " << what;
    }
}

// Draws the first, the last, the middle and a few random frames, with the
// cache on and off; a frame that cannot be decoded is skipped.
void DrawFrames(cAVI& clip, std::mt19937& rng) {
    MemorySurface surface(std::clamp(clip.GetWidth(), 1, kSurfaceSide), std::clamp(clip.GetHeight(), 1, kSurfaceSide));
    const std::int64_t first = clip.GetFirstFrame(), last = clip.GetLastFrame();
    std::vector<std::int64_t> frames = {first, last, first + (last - first) / 2, first, last};
    std::uniform_int_distribution<std::int64_t> any(first, last);
    for (int i = 0; i < 4; ++i) frames.push_back(any(rng));
    bool useCache = true;
    for (const std::int64_t frame : frames) {
        clip.DrawFrame(static_cast<std::int32_t>(frame), surface, useCache);
        useCache = !useCache;
        EXPECT_EQ(cAVI::GetCatchTotal(), clip.GetCatchSize());
        EXPECT_LE(cAVI::GetCatchTotal(), cAVI::GetCatchBudget());
    }
}

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
    EXPECT_GT(clip.GetWidth(), 0);
    EXPECT_GT(clip.GetHeight(), 0);
    DrawFrames(clip, rng);
    clip.CloseAVI();
    EXPECT_EQ(cAVI::GetCatchTotal(), 0);
    return "loads";
}

std::string WriteCase(const Case& c, std::mt19937& rng) {
    const std::string dir = fwtest::TempDir();
    const std::string path = dir + "/x." + Extension(c.base);
    if (c.base == "missing") return path;
    if (c.base == "dir") {
        std::filesystem::create_directory(path);
        return path;
    }
    Bytes bytes = c.base == "none" ? Bytes{} : GoodFile(c.base);
    for (const auto& op : c.operations) Apply(op, bytes, rng);
    fwtest::WriteAll(path, bytes);
    return path;
}

class Hostile : public testing::TestWithParam<Case> {
protected:
    // Bounds the cache's share, so that what remains is the reading itself.
    void SetUp() override { cAVI::SetCatchBudget(kCacheBudget); }
};

TEST_P(Hostile, IsRefusedWithTheMessageOrDrawsSafely) {
    const Case& c = GetParam();
    std::mt19937 rng(TestSeed(c.name.c_str()));
    const std::string path = WriteCase(c, rng);
    if (HasFailure()) return;
    ResetPeakMemory();
    const std::int64_t before = ResidentMemoryBytes();
    const std::string outcome = Exercise(path, rng);
    EXPECT_TRUE(c.outcome == "either" || outcome == c.outcome) << outcome;
    const std::int64_t peak = PeakMemoryBytes();
    std::cout << c.name << ": " << outcome << ", peak " << (peak - before) / 1024 << " KB above the start\n";
    EXPECT_TRUE(before <= 0 || peak <= 0 || peak - before <= kMemoryBound + SanitizerSlack());
}

INSTANTIATE_TEST_SUITE_P(Table, Hostile, testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// Every cut of a good file: inside the headers, at and around each RIFF
// chunk's header and body, and at every 64th of a file of another container.
std::vector<std::size_t> CutOffsets(const Bytes& file) {
    std::set<std::size_t> offsets;
    for (std::size_t i = 0; i < 64; i += 3) offsets.insert(i);
    for (std::size_t i = 1; i < 64; ++i) offsets.insert(file.size() * i / 64);
    for (const std::size_t chunk : ChunkOffsets(file))
        for (const std::size_t delta : {0, 1, 4, 7, 8, 9, 12, 13, 20})
            if (chunk + delta < file.size()) offsets.insert(chunk + delta);
    offsets.insert(file.size() - 1);
    return {offsets.begin(), offsets.end()};
}

class Truncated : public testing::TestWithParam<std::string> {};

TEST_P(Truncated, EveryCutIsRefusedOrDrawsSafely) {
    std::mt19937 rng(TestSeed("truncations"));
    const Bytes file = GoodFile(GetParam());
    const std::string path = fwtest::TempDir() + "/cut." + Extension(GetParam());
    int loaded = 0;
    for (const std::size_t length : CutOffsets(file)) {
        SCOPED_TRACE(length);
        fwtest::WriteAll(path, Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
        loaded += Exercise(path, rng) == "loads";
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(loaded, 0);  // cuts after the headers keep the clip
}

INSTANTIATE_TEST_SUITE_P(Files, Truncated, testing::Values("ffv1", "mpeg4", "audio", "mp4", "mkv"),
                         [](const auto& info) { return info.param; });

}  // namespace
