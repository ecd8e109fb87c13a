// framebench [--json] [--seed S] [--random K] [--back K] [--no-ahead] [--threads N] FILE...
// Frame-fetch speed of the clip path against plain libavcodec and ffms2.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>

#include <random>
#include <sys/mman.h>
#include <string>
#include <vector>

#include "Ffms2.h"
#include "Measure.h"
#include "Ours.h"
#include "PlainLibav.h"
#include "Report.h"
#include "clip/cAVI.h"

namespace {

using namespace bench;

constexpr int kOpenRepeats = 5;
constexpr int kSeqRepeats = 3;
constexpr int kSeqMaxRepeats = 25;
constexpr int kShortRepeats = 301;
constexpr int kFootprintFrames = 16;

struct Options {
    bool json = false;
    std::uint64_t seed = 1;
    int randomCount = 200;
    int backCount = 50;
    std::vector<std::string> files;
};

bool ParseCount(const char* text, int& out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!text[0] || *end || value < 1 || value > 1000000) return false;
    out = static_cast<int>(value);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--json") {
            o.json = true;
        } else if (arg == "--threads" && hasValue) {
            int threads = 0;
            if (!ParseCount(argv[++i], threads)) return false;
            AVISetReaderSettings(threads, ReaderKeepBytes());  // the reader's decoder threads, fixed
        } else if (arg == "--no-ahead") {
            AVISetDecodeAhead(false);  // the reader alone, without its worker
        } else if (arg == "--seed" && hasValue) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--random" && hasValue) {
            if (!ParseCount(argv[++i], o.randomCount)) return false;
        } else if (arg == "--back" && hasValue) {
            if (!ParseCount(argv[++i], o.backCount)) return false;
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            o.files.push_back(arg);
        }
    }
    return !o.files.empty();
}

// Uniform positions 0..frames-1; the same seed gives the same sequence.
std::vector<std::int64_t> RandomPositions(std::uint64_t seed, int count, std::int64_t frames) {
    std::mt19937_64 engine(seed);
    std::uniform_int_distribution<std::int64_t> pick(0, frames - 1);
    std::vector<std::int64_t> positions(static_cast<std::size_t>(count));
    for (auto& p : positions) p = pick(engine);
    return positions;
}

double MemcpyUs(std::int64_t bytes, int repeats) {
    std::vector<std::uint8_t> from(static_cast<std::size_t>(bytes), 0x5A);
    std::vector<std::uint8_t> to(static_cast<std::size_t>(bytes), 0);
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        Stopwatch watch;
        std::memcpy(to.data(), from.data(), from.size());
        ClobberMemory();
        times.push_back(watch.Us());
    }
    return Median(std::move(times));
}

// What touching fresh memory costs here (the kernel maps a zeroed page on the
// first write): on virtual machines it can dwarf decoding.
double FirstTouchUsPerPage() {
    constexpr std::size_t kBytes = 64u << 20;
    constexpr std::size_t kPage = 4096;
    void* block = mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return kMissing;
    auto* bytes = static_cast<volatile std::uint8_t*>(block);
    Stopwatch watch;
    for (std::size_t i = 0; i < kBytes; i += kPage) bytes[i] = 1;
    const double us = watch.Us() / (kBytes / kPage);
    munmap(block, kBytes);
    return us;
}

// Memory that earlier measurements freed goes back to the system before
// each one, ours and the references alike, so none inherits pages another
// touched.
template <class Measure>
double Fresh(Measure measure) {
    malloc_trim(0);
    return measure();
}

template <class Measure>
double MedianOf(int repeats, Measure measure) {
    std::vector<double> values;
    for (int i = 0; i < repeats; ++i) values.push_back(measure());
    return Median(std::move(values));
}

void MeasureOpen(FileResult& r) {
    OursOpenMs(r.file);  // both start with the file in the page cache
    PlainOpenMs(r.file);
    r.open_ms = MedianOf(kOpenRepeats, [&] { return OursOpenMs(r.file); });
    r.plain_open_ms = MedianOf(kOpenRepeats, [&] { return PlainOpenMs(r.file); });
}

// Best of alternating runs: other processes on the machine only ever slow a
// run down. Short clips get more runs (about a second in all, at most
// kSeqMaxRepeats pairs), since a run of a few milliseconds is at the mercy of
// one scheduling delay.
void MeasureSequential(FileResult& r) {
    Stopwatch watch;
    for (int i = 0; i < kSeqMaxRepeats && (i < kSeqRepeats || watch.Seconds() < 1.0); ++i) {
        r.seq_fps = std::fmax(r.seq_fps, Fresh([&] { return OursSeqFps(r.file); }));
        r.plain_seq_fps = std::fmax(
            r.plain_seq_fps, Fresh([&] { return PlainSeqFps(r.file, DefaultDecoderThreads(), r.frames); }));
    }
}

// ffms2 numbers frames by the pictures it indexed; when that differs from the
// AVI's positions (drop frames), a position maps to the chunk it shows.
std::vector<int> Ffms2Frames(const Ffms2Clip& ffms, const std::vector<PlainChunk>& chunks,
                             const std::vector<std::int64_t>& positions, std::int64_t frames) {
    std::vector<int> out;
    for (const std::int64_t p : positions) {
        const int n = ffms.FrameCount() == frames ? static_cast<int>(p) : ChunkAt(chunks, p);
        out.push_back(std::min(n, ffms.FrameCount() - 1));
    }
    return out;
}

void MeasureRandom(FileResult& r, const Options& o, std::int32_t first, const std::vector<PlainChunk>& chunks,
                   const Ffms2Clip& ffms) {
    const std::vector<std::int64_t> positions = RandomPositions(o.seed, o.randomCount, r.frames);
    std::vector<std::int32_t> clipFrames;
    for (const std::int64_t p : positions) clipFrames.push_back(first + static_cast<std::int32_t>(p));
    r.rand_ms = Fresh([&] { return OursRandMs(r.file, clipFrames); });
    r.bound_rand_ms = Fresh([&] { return BoundRandMs(r.file, chunks, positions); });
    const std::vector<int> ffmsFrames = Ffms2Frames(ffms, chunks, positions, r.frames);
    if (ffms.Usable()) r.ffms2_rand_ms = Fresh([&] { return ffms.MeanGetFrameMs(ffmsFrames); });
}

void MeasureBack(FileResult& r, const Options& o, std::int32_t first, const std::vector<PlainChunk>& chunks,
                 const Ffms2Clip& ffms) {
    const std::int64_t start = std::min<std::int64_t>(r.frames - 1, std::max<std::int64_t>(r.frames / 2 + 1, o.backCount));
    const int steps = static_cast<int>(std::min<std::int64_t>(o.backCount, start));
    r.back_ms = Fresh([&] { return OursBackMs(r.file, first + static_cast<std::int32_t>(start), steps); });
    if (!ffms.Usable()) return;
    const std::vector<int> ends = Ffms2Frames(ffms, chunks, {start, start - steps}, r.frames);
    // With drop frames fewer pictures lie between the ends: step over those.
    if (ends[0] > ends[1]) r.ffms2_back_ms = Fresh([&] { return ffms.BackStepMs(ends[0], ends[0] - ends[1]); });
}

bool MeasureFile(FileResult& r, const Options& o) {
    std::int32_t first = 0;
    {
        cAVI probe;
        if (!probe.LoadAVI(r.file)) return false;
        r.codec = probe.GetCodecName();
        r.frames = probe.GetFrameCount();
        r.width = probe.GetWidth();
        r.height = probe.GetHeight();
        first = probe.GetFirstFrame();
    }
    r.biSizeImage = PaddedRowBytes(r.width) * r.height;
    const std::vector<PlainChunk> chunks = PlainChunks(r.file);
    const Ffms2Clip ffms(r.file);
    r.ffms2_frames = ffms.FrameCount();
    MeasureOpen(r);
    MeasureSequential(r);
    MeasureRandom(r, o, first, chunks, ffms);
    MeasureBack(r, o, first, chunks, ffms);
    r.hit_us = OursHitUs(r.file, first + static_cast<std::int32_t>(r.frames / 2), kShortRepeats);
    r.memcpy_us = MemcpyUs(r.biSizeImage, kShortRepeats);
    const CacheFootprint footprint = OursCacheFootprint(r.file, kFootprintFrames);
    r.cached_bytes_per_frame = footprint.catchBytesPerFrame;
    r.heap_bytes_per_frame = footprint.heapBytesPerFrame;
    return true;
}

FileResult Unmeasured(const std::string& file) {
    FileResult r;
    r.file = file;
    r.open_ms = r.plain_open_ms = r.seq_fps = r.plain_seq_fps = kMissing;
    r.rand_ms = r.bound_rand_ms = r.ffms2_rand_ms = r.back_ms = r.ffms2_back_ms = kMissing;
    r.hit_us = r.memcpy_us = r.cached_bytes_per_frame = r.heap_bytes_per_frame = kMissing;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: framebench [--json] [--seed S] [--random K] [--back K] [--no-ahead] [--threads N] FILE...\n");
        return 2;
    }
    QuietPlainLibav();
    std::vector<FileResult> results;
    int failures = 0;
    for (const std::string& file : o.files) {
        FileResult r = Unmeasured(file);
        if (!MeasureFile(r, o)) {
            std::fprintf(stderr, "framebench: cannot open %s as a clip\n", file.c_str());
            ++failures;
        }
        if (o.json) std::printf("%s\n", JsonLine(r).c_str());
        std::fflush(stdout);
        results.push_back(std::move(r));
    }
    if (!o.json) {
        std::printf("seed %llu, %d random positions, %d backward steps, %d decoder threads, ffms2 %s; "
                    "first write to fresh memory: %.1f µs per 4 KiB page\n\n",
                    static_cast<unsigned long long>(o.seed), o.randomCount, o.backCount, DefaultDecoderThreads(),
                    Ffms2Available() ? "linked" : "not available", FirstTouchUsPerPage());
        std::printf("%s\n", MeasurementsHeader().c_str());
        for (const FileResult& r : results) std::printf("%s\n", MeasurementsRow(r).c_str());
        std::printf("\n%s\n", RatiosHeader().c_str());
        for (const FileResult& r : results) std::printf("%s\n", RatiosRow(r).c_str());
    }
    return failures ? 1 : 0;
}
