#include "FuzzTargets.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bitmap/cDIBx.h"
#include "clip/cAVI.h"
#include "platform/MsgBox.h"
#include "platform/mAVIDecs.h"

namespace fuzz {

namespace {

constexpr std::int64_t kCacheBudget = std::int64_t{64} << 20;
// Packed bitmaps claiming more pixel bytes than this are not handed over: the
// import trusts its caller to hold the bytes the header claims.
constexpr std::int32_t kPackedLimit = 1 << 18;
constexpr int kSurfaceLimit = 256;

// Files live in memory-backed storage when there is some: many thousand a second.
std::string ScratchPath(const char* name) {
    static const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return dir + "/framewise-fuzz-" + std::to_string(getpid()) + "-" + name;
}

void RemoveScratch() {
    for (const char* name : {"in.bmp", "out.bmp", "in.avi"}) std::remove(ScratchPath(name).c_str());
}

bool WriteScratch(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

// An invariant of the code under test broke: a crash is the report.
void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

int SurfaceSide(std::int64_t side) {
    return static_cast<int>(std::clamp<std::int64_t>(side < 0 ? -side : side, 1, kSurfaceLimit));
}

std::int32_t ReadLE32(const std::uint8_t* p) {
    std::int32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

}  // namespace

void Init() {
    static const bool done = [] {
        SetMessageBoxHandler([](const std::string&, const std::string&, int) {});
        AVIFileInit();
        AVISetReaderSettings(1, 16u << 20);
        cAVI::SetCatchBudget(kCacheBudget);
        std::atexit(RemoveScratch);
        return true;
    }();
    (void)done;
}

void ReadBmpFile(const std::uint8_t* data, std::size_t size) {
    const std::string in = ScratchPath("in.bmp");
    const std::string out = ScratchPath("out.bmp");
    if (!WriteScratch(in, data, size)) return;
    cDIBx dib;
    if (!dib.CreateFromFile(in)) {
        Require(dib.MemUsed() == 0, "a refused file leaves no pixels");
        return;
    }
    Require(dib.MemUsed() > 0 && static_cast<std::size_t>(dib.MemUsed()) <= size, "pixels come from the file");
    MemorySurface surface(SurfaceSide(dib.Width()), SurfaceSide(dib.Height()));
    dib.DrawOnPicBox(surface);
    if (!dib.WriteToFile(out)) return;
    cDIBx again;
    Require(again.CreateFromFile(out), "a written bitmap reads back");
    Require(again.MemUsed() == dib.MemUsed(), "a written bitmap keeps its pixels");
    Require(again.SizeBitmapInfo() == dib.SizeBitmapInfo(), "a written bitmap keeps its information block");
}

void ImportPackedDib(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kHeader = sizeof(BITMAPINFOHEADER);
    if (size < kHeader) return;
    const std::int32_t claimed = ReadLE32(data + 20);  // biSizeImage
    if (claimed > kPackedLimit) return;
    // Whatever the header claims (up to the limit) is readable.
    std::vector<std::uint8_t> packed(data, data + size);
    if (claimed > 0 && packed.size() < kHeader + static_cast<std::size_t>(claimed))
        packed.resize(kHeader + static_cast<std::size_t>(claimed));
    cDIBx dib;
    const void* pointer = packed.data();
    if (!dib.CreateFromPackedDIBPointer(pointer)) return;
    Require(dib.MemUsed() == claimed, "the import copies the claimed pixel bytes");
    MemorySurface surface(SurfaceSide(dib.Width()), SurfaceSide(dib.Height()));
    dib.DrawOnPicBox(surface);
}

void OpenAviClip(const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchPath("in.avi");
    if (!WriteScratch(path, data, size)) return;
    cAVI clip;
    if (!clip.LoadAVI(path)) return;
    Require(clip.GetFirstFrame() <= clip.GetLastFrame(), "a loaded clip has frames");
    DrawSomeFrames(clip, 0, 0);
    clip.CloseAVI();
    Require(cAVI::GetCatchTotal() == 0, "closing empties the cache");
}

void DrawSomeFrames(cAVI& clip, std::uint32_t seed, int extra) {
    MemorySurface surface(SurfaceSide(clip.GetWidth()), SurfaceSide(clip.GetHeight()));
    const std::int64_t first = clip.GetFirstFrame(), last = clip.GetLastFrame();
    std::vector<std::int64_t> frames = {first, last, first + (last - first) / 2, first, last};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::int64_t> any(first, last);
    for (int i = 0; i < extra; ++i) frames.push_back(any(rng));
    bool useCache = true;
    for (const std::int64_t frame : frames) {
        clip.DrawFrame(static_cast<std::int32_t>(frame), surface, useCache);
        useCache = !useCache;
        Require(cAVI::GetCatchTotal() == clip.GetCatchSize(), "the cache total is the clip's cache");
        Require(clip.GetCatchSize() <= cAVI::GetCatchBudget(), "the cache keeps its budget");
    }
}

}  // namespace fuzz
