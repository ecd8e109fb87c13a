// Placeholder until the FFmpeg-backed service lands.
#include "platform/mAVIDecs.h"
void AVIFileInit() {}
void AVIFileExit() {}
HRESULT AVIFileOpen(PAVIFILE* ppfile, const char*, std::uint32_t, const void*) { if (ppfile) *ppfile = nullptr; return AVIERR_FILEOPEN; }
HRESULT AVIFileGetStream(PAVIFILE, PAVISTREAM* ppavi, DWORD, LONG) { if (ppavi) *ppavi = nullptr; return AVIERR_NODATA; }
LONG AVIStreamStart(PAVISTREAM) { return -1; }
LONG AVIStreamLength(PAVISTREAM) { return -1; }
HRESULT AVIFileInfo(PAVIFILE, AVIFILEINFOA*, LONG) { return AVIERR_BADPARAM; }
HRESULT AVIStreamInfo(PAVISTREAM, AVISTREAMINFOA*, LONG) { return AVIERR_BADPARAM; }
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM, const BITMAPINFOHEADER*) { return nullptr; }
const void* AVIStreamGetFrame(PGETFRAME, LONG) { return nullptr; }
HRESULT AVIStreamGetFrameClose(PGETFRAME) { return 0; }
ULONG AVIStreamRelease(PAVISTREAM) { return 0; }
ULONG AVIFileRelease(PAVIFILE) { return 0; }
FrameReaderStats AVIStreamGetFrameStats(PGETFRAME) { return {}; }
std::string AVIStreamDecoderName(PGETFRAME) { return {}; }
