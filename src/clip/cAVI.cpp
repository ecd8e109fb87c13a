#include "clip/cAVI.h"

#include <limits>

#include "platform/Memory.h"
#include "platform/MsgBox.h"

namespace {

std::int64_t g_catchBudget = -1;  // -1: not yet derived from the machine
std::int64_t g_catchTotal = 0;    // bytes cached by every clip together

std::int64_t PaddedRowBytes(std::int64_t width) { return (width * 3 + 3) & ~std::int64_t{3}; }

}  // namespace

cAVI::~cAVI() { Release(); }

void cAVI::SetCatchBudget(std::int64_t bytes) { g_catchBudget = bytes < 0 ? 0 : bytes; }

std::int64_t cAVI::GetCatchBudget() {
    if (g_catchBudget < 0) {
        const std::int64_t physical = PhysicalMemoryBytes();
        g_catchBudget = physical > 0 ? static_cast<std::int64_t>(physical * kCatchShareOfMemory) : std::int64_t{1} << 30;
    }
    return g_catchBudget;
}

std::int64_t cAVI::GetCatchTotal() { return g_catchTotal; }

bool cAVI::ReadFrame(std::int32_t Frame, cDIBx& out) {
    if (!pGetFrame || !HasFrame(Frame)) return false;
    return out.CreateFromSharedPackedDIB(AVIStreamGetFrameShared(pGetFrame, Frame));
}

void cAVI::DrawFrame(const std::int32_t& Frame, DisplaySurface& picBox, bool EnableCatch) {
    if (!HasFrame(Frame)) return;
    if (EnableCatch && IsCaught(Frame)) {
        CatchSlots.find(Frame)->second.DIB->DrawOnPicBox(picBox);
        return;
    }
    auto dib = std::make_shared<cDIBx>();
    if (!ReadFrame(Frame, *dib)) return;  // nothing decoded: the slot stays empty
    DrawRead(Frame, std::move(dib), picBox, EnableCatch);
}

bool cAVI::IsCaught(std::int32_t Frame) const {
    const auto slot = CatchSlots.find(Frame);
    return slot != CatchSlots.end() && slot->second.Filled;
}

void cAVI::DrawRead(std::int32_t Frame, std::shared_ptr<cDIBx> dib, DisplaySurface& picBox, bool EnableCatch) {
    if (!dib) return;
    dib->DrawOnPicBox(picBox);
    if (!EnableCatch || IsCaught(Frame)) return;
    const std::int64_t bytes = dib->MemUsed();
    if (g_catchTotal + bytes > GetCatchBudget()) return;  // drawn, but not cached
    CatchSlots[Frame] = CatchSlot{std::move(dib), -1};
    CatchSize += bytes;
    g_catchTotal += bytes;
}

bool cAVI::LoadAVI(const std::string& Filename) {
    Release();
    HRESULT status = AVIFileOpen(&pAVIFile, Filename.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr);
    if (status != 0) return Fail(status, Filename);
    status = AVIFileGetStream(pAVIFile, &pAVIStream, streamtypeVIDEO, 0);
    if (status != 0) return Fail(status, Filename);
    FirstFrame = AVIStreamStart(pAVIStream);
    if (FirstFrame == -1) return Fail(AVIERR_BADFORMAT, Filename);
    FrameCount = AVIStreamLength(pAVIStream);
    if (FrameCount == -1) return Fail(AVIERR_BADFORMAT, Filename);
    status = AVIFileInfo(pAVIFile, &FileInfo, sizeof FileInfo);
    if (status != 0) return Fail(status, Filename);
    status = AVIStreamInfo(pAVIStream, &StreamInfo, sizeof StreamInfo);
    if (status != 0) return Fail(status, Filename);
    if (!Usable()) return Fail(AVIERR_BADFORMAT, Filename);

    WantedFormat = BITMAPINFOHEADER{};
    WantedFormat.biSize = sizeof(BITMAPINFOHEADER);
    WantedFormat.biWidth = GetWidth();
    WantedFormat.biHeight = GetHeight();
    WantedFormat.biPlanes = 1;
    WantedFormat.biBitCount = 24;
    WantedFormat.biCompression = BI_RGB;
    WantedFormat.biSizeImage = static_cast<std::int32_t>(PaddedRowBytes(GetWidth()) * GetHeight());
    pGetFrame = AVIStreamGetFrameOpen(pAVIStream, &WantedFormat);
    CatchSlots.clear();
    if (!pGetFrame) {
        MsgBox("No suitable decompressor found for this video stream!", MB_ICONINFORMATION);
        Release();
        return false;
    }
    return true;
}

// A clip needs frames, a frame rate and a frame size that fits in memory.
bool cAVI::Usable() const {
    const auto rate = static_cast<std::int32_t>(StreamInfo.dwRate);
    const auto scale = static_cast<std::int32_t>(StreamInfo.dwScale);
    const std::int64_t width = GetWidth();
    const std::int64_t height = GetHeight();
    const std::int64_t last = std::int64_t{FirstFrame} + FrameCount - 1;
    if (FrameCount <= 0 || FirstFrame < 0 || last > std::numeric_limits<std::int32_t>::max()) return false;
    if (rate <= 0 || scale <= 0) return false;
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) return false;
    if (width * height > kMaxFramePixels) return false;
    const std::int64_t image = PaddedRowBytes(width) * height;
    const std::int64_t physical = PhysicalMemoryBytes();
    return image <= std::numeric_limits<std::int32_t>::max() &&
           (physical <= 0 || image <= static_cast<std::int64_t>(physical * kFrameShareOfMemory));
}

bool cAVI::Fail(HRESULT status, const std::string& Filename) {
    // A cancelled load is the user's own choice and needs no message.
    if (status != 0 && status != AVIERR_USERABORT)
        MsgBox("There was an error working with the file:\r\n" + Filename, MB_ICONINFORMATION);
    Release();
    return false;
}

void cAVI::CloseAVI() {
    ClearCatch();
    Release();
}

void cAVI::ClearCatch() {
    g_catchTotal -= CatchSize;
    CatchSlots.clear();
    CatchSize = 0;
}

void cAVI::Release() {
    ClearCatch();
    if (pGetFrame) AVIStreamGetFrameClose(pGetFrame);
    if (pAVIStream) AVIStreamRelease(pAVIStream);
    if (pAVIFile) AVIFileRelease(pAVIFile);
    pGetFrame = nullptr;
    pAVIStream = nullptr;
    pAVIFile = nullptr;
}

std::int32_t cAVI::GetLastFrame() const {
    return static_cast<std::int32_t>(std::int64_t{FirstFrame} + FrameCount - 1);
}

float cAVI::GetFPS() const {
    const auto rate = static_cast<std::int32_t>(StreamInfo.dwRate);
    const auto scale = static_cast<std::int32_t>(StreamInfo.dwScale);
    if (scale == 0) return 0.0f;
    return static_cast<float>(static_cast<double>(rate) / static_cast<double>(scale));
}

std::string cAVI::GetCodecName() const { return AVIStreamDecoderName(pGetFrame); }

std::string cAVI::GetContainerName() const { return AVIFileContainerName(pAVIFile); }

FrameKind cAVI::GetFrameKind(std::int32_t Frame) const {
    if (!HasFrame(Frame)) return FrameKind::Unknown;
    return AVIStreamGetFrameKind(pGetFrame, Frame);
}
