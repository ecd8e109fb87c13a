// One opened AVI clip: its first video stream, a frame reader delivering
// 24-bit frames, the stream's properties and a per-clip frame cache ("Catch").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "bitmap/cDIBx.h"
#include "platform/Display.h"
#include "platform/WinTypes.h"
#include "platform/mAVIDecs.h"

struct CatchSlot {
    std::shared_ptr<cDIBx> DIB;
    std::int16_t Filled = 0;  // -1 once a decoded frame is in the slot
};

class cAVI {
public:
    cAVI() = default;
    cAVI(const cAVI&) = delete;
    cAVI& operator=(const cAVI&) = delete;
    // Releases whatever the clip still holds (a failed load, or no CloseAVI).
    ~cAVI();

    // Draws frame `Frame` into `picBox`, through the cache when EnableCatch is
    // true. A frame outside the clip, or one that cannot be decoded, draws nothing.
    void DrawFrame(const std::int32_t& Frame, DisplaySurface& picBox, bool EnableCatch);
    // Whether frame `Frame` is in the cache.
    bool IsCaught(std::int32_t Frame) const;
    // Draws frame `Frame` as ReadFrame read it (on any thread) and caches it
    // as DrawFrame does; a null `dib` draws nothing.
    void DrawRead(std::int32_t Frame, std::shared_ptr<cDIBx> dib, DisplaySurface& picBox, bool EnableCatch);
    // Opens the file; on failure tells the user why and returns false.
    bool LoadAVI(const std::string& Filename);
    void CloseAVI();
    void ClearCatch();
    std::int32_t GetFrameCount() const { return FrameCount; }
    std::int32_t GetFirstFrame() const { return FirstFrame; }
    std::int32_t GetLastFrame() const;
    // Whether `Frame` lies between the first and the last frame.
    bool HasFrame(std::int32_t Frame) const { return Frame >= FirstFrame && Frame <= GetLastFrame(); }
    float GetFPS() const;
    std::int32_t GetWidth() const { return StreamInfo.rcFrame.right - StreamInfo.rcFrame.left; }
    std::int32_t GetHeight() const { return StreamInfo.rcFrame.bottom - StreamInfo.rcFrame.top; }
    std::int64_t GetCatchSize() const { return CatchSize; }

    // Beyond the window's needs: for the command line, tests and benchmarks.
    std::int32_t GetRate() const { return static_cast<std::int32_t>(StreamInfo.dwRate); }
    std::int32_t GetScale() const { return static_cast<std::int32_t>(StreamInfo.dwScale); }
    std::string GetCodecName() const;
    // The demuxer's short name of the file's container ("avi", "matroska,webm").
    std::string GetContainerName() const;
    // What frame `Frame` shows (key, repeat, or the decoder's picture type once
    // decoded); Unknown outside the clip. Costs no decoding.
    FrameKind GetFrameKind(std::int32_t Frame) const;
    PGETFRAME FrameReader() const { return pGetFrame; }
    PAVISTREAM Stream() const { return pAVIStream; }
    // Fetches frame `Frame` into `out` without drawing or caching.
    bool ReadFrame(std::int32_t Frame, cDIBx& out);
    std::int64_t CachedFrameCount() const { return static_cast<std::int64_t>(CatchSlots.size()); }

    // The byte budget shared by every clip's cache. Once filling a slot would
    // pass it, frames are drawn without being cached. Default: half of the
    // machine's physical memory.
    static void SetCatchBudget(std::int64_t bytes);
    static std::int64_t GetCatchBudget();
    static std::int64_t GetCatchTotal();

private:
    void Release();
    bool Usable() const;
    bool Fail(HRESULT status, const std::string& Filename);

    std::int32_t FrameCount = 0;
    std::int32_t FirstFrame = 0;
    PGETFRAME pGetFrame = nullptr;
    PAVIFILE pAVIFile = nullptr;
    PAVISTREAM pAVIStream = nullptr;
    BITMAPINFOHEADER WantedFormat;
    AVIFILEINFOA FileInfo;
    AVISTREAMINFOA StreamInfo;
    // Only the slots that were ever filled exist, so the table costs memory in
    // proportion to what is cached, whatever frame count the file claims.
    std::unordered_map<std::int32_t, CatchSlot> CatchSlots;
    std::int64_t CatchSize = 0;
};
