// The AVI file service: open an AVI file, take its first video stream, read
// its properties and decode single frames as packed 24-bit bitmaps.
//
// Contract kept by every caller:
//  - a status of exactly 0 is success, anything else failure;
//  - AVIStreamStart and AVIStreamLength return -1 on failure;
//  - a null handle means none, and release functions accept it.
// All functions run on one thread; handles are not shared across threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/MediaTypes.h"
#include "media/MemoryBudgets.h"
#include "media/PictureMetrics.h"
#include "media/PositionFacts.h"
#include "platform/WinTypes.h"

struct AviFileObject;
struct AviStreamObject;
struct AviFrameReader;
using PAVIFILE = AviFileObject*;
using PAVISTREAM = AviStreamObject*;
using PGETFRAME = AviFrameReader*;

inline constexpr std::uint32_t OF_READ = 0x0;
inline constexpr std::uint32_t OF_SHARE_DENY_WRITE = 0x20;
inline constexpr DWORD streamtypeVIDEO = 0x73646976;  // 'vids'


// Failure statuses (the values only need to be non-zero).
inline constexpr HRESULT AVIERR_OK = 0;
inline constexpr HRESULT AVIERR_FILEOPEN = -2147205009;
inline constexpr HRESULT AVIERR_NODATA = -2147205005;
inline constexpr HRESULT AVIERR_BADFORMAT = -2147205018;
inline constexpr HRESULT AVIERR_BADPARAM = -2147205011;
// The user cancelled a long operation (see AVISetProgressHandler): a failure
// that needs no message.
inline constexpr HRESULT AVIERR_USERABORT = -2147204922;

void AVIFileInit();
void AVIFileExit();

// szFile is a UTF-8 path. AVI files and every other container the demuxers
// read open; positions follow the container's rules (see FrameTable.h).
HRESULT AVIFileOpen(PAVIFILE* ppfile, const char* szFile, std::uint32_t uMode, const void* lpHandler);
// Finds the lParam-th stream of the given type (only streamtypeVIDEO is served).
HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam);
LONG AVIStreamStart(PAVISTREAM pavi);
LONG AVIStreamLength(PAVISTREAM pavi);
HRESULT AVIFileInfo(PAVIFILE pfile, AVIFILEINFOA* pfi, LONG lSize);
HRESULT AVIStreamInfo(PAVISTREAM pavi, AVISTREAMINFOA* psi, LONG lSize);

// Returns null when no decoder can deliver frames of the stream in the wanted
// format (24 bits, BI_RGB, the stream's frame size).
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM pavi, const BITMAPINFOHEADER* lpbiWanted);
// Returns a packed bitmap (40-byte header, then biSizeImage bytes of bottom-up
// BGR rows padded to 4 bytes) owned by the reader and valid until its next
// call, or null when frame lPos cannot be decoded.
const void* AVIStreamGetFrame(PGETFRAME pg, LONG lPos);
// The same packed bitmap with shared ownership: the reader never writes into
// it again while the caller holds it, so a bitmap may keep it without a copy.
std::shared_ptr<const std::uint8_t[]> AVIStreamGetFrameShared(PGETFRAME pg, LONG lPos);
HRESULT AVIStreamGetFrameClose(PGETFRAME pg);
ULONG AVIStreamRelease(PAVISTREAM pavi);
ULONG AVIFileRelease(PAVIFILE pfile);

// Beyond the classic service: facts about a reader for tools, tests and benchmarks
// (MediaTypes.h).
FrameReaderStats AVIStreamGetFrameStats(PGETFRAME pg);
// Tuning of readers opened from now on: decoder threads (0: one per core) and
// the bytes of decoded pictures a reader keeps for stepping back.
void AVISetReaderSettings(int decoderThreads, std::size_t keepBytes);
// Whether readers opened from now on decode ahead on a worker thread (the
// default): the pictures that stepping back or playing on asks for next.
void AVISetDecodeAhead(bool on);
// The decoder's short name ("mpeg4", "h264"), empty for a null reader.
std::string AVIStreamDecoderName(PGETFRAME pg);
// What position lPos shows (MediaTypes.h), without decoding.
FrameKind AVIStreamGetFrameKind(PGETFRAME pg, LONG lPos);
// The facts of frame lPos from the frame table, without decoding
// (PositionFacts.h); positions in them are frame numbers like lPos. The first
// call on a stream whose table lacks presentation times reads the stream once.
HRESULT AVIStreamGetFrameFacts(PAVISTREAM pavi, LONG lPos, FrameFacts* facts);
// Frame numbers whose own picture is a key frame, in order, without decoding.
std::vector<LONG> AVIStreamKeyFrames(PAVISTREAM pavi);
// The stream's codec and picture format as its parameters give them, where
// they leave a value open as reader pg (may be null) last decoded it.
HRESULT AVIStreamGetFormatFacts(PAVISTREAM pavi, PGETFRAME pg, StreamFacts* facts);
// The decoded picture's own values at pixel (x, y) of frame lPos, before
// conversion ("Y 940 Cb 512 Cr 512"); empty unless frame lPos is the one the
// reader converted last.
std::string AVIStreamSourceValues(PGETFRAME pg, LONG lPos, int x, int y);
// The decoded picture of frame lPos, in its own format; decoding it if
// `decode`, else only when it is the one the reader converted last (null
// otherwise). Any thread may measure it, with AVIComparePictures.
SourcePicture AVIStreamGetSourcePicture(PGETFRAME pg, LONG lPos, bool decode);
// PSNR and SSIM of picture a against picture b, in their own pixel format
// (PictureMetrics.h); an invalid result says why there are none. Any thread.
PictureMetrics AVIComparePictures(const SourcePicture& a, const SourcePicture& b, bool ssim = true);
// What the decoder said of the fields of frame lPos's picture, once decoded.
PictureFields AVIStreamGetFrameFields(PGETFRAME pg, LONG lPos);

// Long operations (listing the packets of a file that carries no index, in
// AVIFileGetStream) call the handler now and then with the fraction done,
// from 0 at the start to 1 at the end, on the calling thread. Returning false
// cancels the operation, which then fails with AVIERR_USERABORT. Returns the
// handler installed before; an empty handler never cancels.
using AVIProgressHandler = ProgressHandler;
AVIProgressHandler AVISetProgressHandler(AVIProgressHandler handler);

// Name extensions (lower case, without the dot) of the video files offered
// for opening; any other file is still tried.
const std::vector<std::string>& AVIFileExtensions();
// The demuxer's short name of an open file ("avi", "mov,mp4,m4a,3gp,3g2,mj2",
// "matroska,webm"), empty for a null file.
std::string AVIFileContainerName(PAVIFILE pfile);
