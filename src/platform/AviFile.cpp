// The AVI file service on libavformat's AVI demuxer and libavcodec.
#include "platform/mAVIDecs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/AviHeaders.h"
#include "platform/FrameReader.h"
#include "platform/Memory.h"

struct AviFileObject {
    std::shared_ptr<DemuxSource> source;
    AviHeaders headers;
    bool headersRead = false;
};

struct AviStreamObject {
    std::shared_ptr<DemuxSource> source;
    int streamIndex = -1;
    AVISTREAMINFOA info;
    std::vector<Chunk> chunks;
    std::int64_t firstTimestamp = 0;  // chunk timestamp of the stream's first position
};

struct AviFrameReader {
    std::unique_ptr<FrameReader> engine;
    std::int64_t start = 0;
};

namespace {

ReaderSettings g_settings;
AVIProgressHandler g_progress;


void SetUpOnce() {
    static const bool once = [] {
        av_log_set_level(AV_LOG_FATAL);
        KeepFreedMemoryForReuse();
        return true;
    }();
    (void)once;
}

bool IsRegularFile(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The index the demuxer read from the file ('idx1' or OpenDML 'indx').
std::vector<Chunk> ChunksFromIndex(AVStream* st) {
    std::vector<Chunk> chunks;
    const int count = avformat_index_get_entries_count(st);
    chunks.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (!e || e->size <= 0) continue;
        chunks.push_back({e->pos, e->size, e->timestamp, (e->flags & AVINDEX_KEYFRAME) != 0});
    }
    return chunks;
}

// A file without an index: walk the packets once to list the chunks. The
// demuxer then calls every chunk a key chunk, so none is trusted as one but the
// first; a packet's position is that of its payload, 8 bytes into the chunk.
std::vector<Chunk> ChunksFromScan(AVFormatContext* fmt, int streamIndex) {
    std::vector<Chunk> chunks;
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        fmt->streams[i]->discard = static_cast<int>(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    libav::PacketPtr pkt(av_packet_alloc());
    if (!pkt || av_seek_frame(fmt, streamIndex, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE) < 0) {
        avio_seek(fmt->pb, 0, SEEK_SET);
    }
    std::int64_t position = 0;
    while (pkt && av_read_frame(fmt, pkt.get()) >= 0) {
        if (pkt->stream_index == streamIndex && pkt->size > 0 && pkt->pos >= 0) {
            const std::int64_t ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : position;
            chunks.push_back({pkt->pos - 8, pkt->size, ts, chunks.empty()});
            position = ts + 1;
        }
        av_packet_unref(pkt.get());
    }
    for (unsigned i = 0; i < fmt->nb_streams; ++i) fmt->streams[i]->discard = AVDISCARD_DEFAULT;
    return chunks;
}

const AviStreamHeader* HeaderFor(const AviFileObject& file, int streamIndex, int videoOrdinal) {
    const auto& hs = file.headers.streams;
    if (!file.headersRead) return nullptr;
    if (hs.size() == file.source->format->nb_streams && hs[streamIndex].fccType == FourCC('v', 'i', 'd', 's'))
        return &hs[streamIndex];
    int seen = 0;
    for (const AviStreamHeader& h : hs)
        if (h.fccType == FourCC('v', 'i', 'd', 's') && seen++ == videoOrdinal) return &h;
    return nullptr;
}

void FillStreamInfo(const AviFileObject& file, AviStreamObject& s, int videoOrdinal, AVISTREAMINFOA& info) {
    const AVStream* st = file.source->format->streams[s.streamIndex];
    info = AVISTREAMINFOA{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = st->codecpar->codec_tag;
    if (const AviStreamHeader* h = HeaderFor(file, s.streamIndex, videoOrdinal)) {
        info.fccHandler = h->fccHandler;
        info.dwFlags = h->flags;
        info.wPriority = h->priority;
        info.wLanguage = h->language;
        info.dwScale = h->scale;
        info.dwRate = h->rate;
        info.dwStart = h->start;
        info.dwLength = h->length;
        info.dwInitialFrames = h->initialFrames;
        info.dwSuggestedBufferSize = h->suggestedBufferSize;
        info.dwQuality = h->quality;
        info.dwSampleSize = h->sampleSize;
        std::strncpy(info.szName, h->name.c_str(), sizeof info.szName - 1);
        // OpenDML files may count only the first RIFF in the stream header.
        if (videoOrdinal == 0 && file.headers.odmlTotalFrames > info.dwLength && !s.chunks.empty()) {
            const std::int64_t indexed = s.chunks.back().ts + 1;
            info.dwLength = static_cast<DWORD>(std::clamp<std::int64_t>(
                std::min<std::int64_t>(file.headers.odmlTotalFrames, indexed), info.dwLength,
                std::numeric_limits<std::int32_t>::max()));
        }
        // The demuxer numbers chunks from the header's start, unless it finds
        // that start implausible (over an hour), when it numbers them from 0.
        const bool plausible = h->rate > 0 && h->scale > 0 && h->start <= 3600ull * h->rate / h->scale;
        s.firstTimestamp = plausible ? h->start : 0;
    } else {
        info.dwScale = static_cast<DWORD>(st->time_base.num);
        info.dwRate = static_cast<DWORD>(st->time_base.den);
        info.dwLength = static_cast<DWORD>(std::clamp<std::int64_t>(
            st->nb_frames > 0 ? st->nb_frames : st->duration, 0, std::numeric_limits<std::int32_t>::max()));
    }
    info.rcFrame = RECT{0, 0, st->codecpar->width, std::abs(st->codecpar->height)};
}

}  // namespace

void AVIFileInit() { SetUpOnce(); }
void AVIFileExit() {}

void AVISetReaderSettings(int decoderThreads, std::size_t keepBytes) {
    g_settings.threads = decoderThreads;
    g_settings.keepBytes = keepBytes;
}

HRESULT AVIFileOpen(PAVIFILE* ppfile, const char* szFile, std::uint32_t /*uMode*/, const void* /*lpHandler*/) {
    SetUpOnce();
    if (!ppfile) return AVIERR_BADPARAM;
    *ppfile = nullptr;
    if (!szFile || !IsRegularFile(szFile)) return AVIERR_FILEOPEN;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, szFile, av_find_input_format("avi"), nullptr) < 0) return AVIERR_FILEOPEN;
    auto source = std::make_shared<DemuxSource>();
    source->format.reset(raw);
    source->fileSize = avio_size(raw->pb);
    auto file = std::make_unique<AviFileObject>();
    file->source = std::move(source);
    file->headersRead = ReadAviHeaders(szFile, file->headers);
    *ppfile = file.release();
    return AVIERR_OK;
}

HRESULT AVIFileGetStream(PAVIFILE pfile, PAVISTREAM* ppavi, DWORD fccType, LONG lParam) {
    if (!ppavi) return AVIERR_BADPARAM;
    *ppavi = nullptr;
    if (!pfile || fccType != streamtypeVIDEO || lParam < 0) return AVIERR_NODATA;
    AVFormatContext* fmt = pfile->source->format.get();
    int ordinal = 0;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        if (ordinal++ != lParam) continue;
        auto stream = std::make_unique<AviStreamObject>();
        stream->source = pfile->source;
        stream->streamIndex = static_cast<int>(i);
        stream->chunks = ChunksFromIndex(fmt->streams[i]);
        if (stream->chunks.empty()) stream->chunks = ChunksFromScan(fmt, stream->streamIndex);
        FillStreamInfo(*pfile, *stream, lParam, stream->info);
        *ppavi = stream.release();
        return AVIERR_OK;
    }
    return AVIERR_NODATA;
}

LONG AVIStreamStart(PAVISTREAM pavi) {
    if (!pavi || pavi->info.dwStart > static_cast<DWORD>(std::numeric_limits<LONG>::max())) return -1;
    return static_cast<LONG>(pavi->info.dwStart);
}

LONG AVIStreamLength(PAVISTREAM pavi) {
    if (!pavi || pavi->info.dwLength > static_cast<DWORD>(std::numeric_limits<LONG>::max())) return -1;
    return static_cast<LONG>(pavi->info.dwLength);
}

HRESULT AVIFileInfo(PAVIFILE pfile, AVIFILEINFOA* pfi, LONG lSize) {
    if (!pfile || !pfi || lSize < static_cast<LONG>(sizeof(AVIFILEINFOA))) return AVIERR_BADPARAM;
    const AviMainHeader& h = pfile->headers.main;
    *pfi = AVIFILEINFOA{};
    pfi->dwMaxBytesPerSec = h.maxBytesPerSec;
    pfi->dwFlags = h.flags;
    pfi->dwStreams = pfile->source->format->nb_streams;
    pfi->dwSuggestedBufferSize = h.suggestedBufferSize;
    pfi->dwWidth = h.width;
    pfi->dwHeight = h.height;
    pfi->dwScale = h.microSecPerFrame;
    pfi->dwRate = 1000000;
    pfi->dwLength = h.totalFrames;
    std::strncpy(pfi->szFileType, "AVI", sizeof pfi->szFileType - 1);
    return AVIERR_OK;
}

HRESULT AVIStreamInfo(PAVISTREAM pavi, AVISTREAMINFOA* psi, LONG lSize) {
    if (!pavi || !psi || lSize < static_cast<LONG>(sizeof(AVISTREAMINFOA))) return AVIERR_BADPARAM;
    *psi = pavi->info;
    return AVIERR_OK;
}

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM pavi, const BITMAPINFOHEADER* lpbiWanted) {
    if (!pavi || !lpbiWanted) return nullptr;
    const int width = pavi->info.rcFrame.right - pavi->info.rcFrame.left;
    const int height = pavi->info.rcFrame.bottom - pavi->info.rcFrame.top;
    const bool wanted24 = lpbiWanted->biBitCount == 24 && lpbiWanted->biCompression == BI_RGB &&
                          lpbiWanted->biWidth == width && lpbiWanted->biHeight == height;
    if (!wanted24 || width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide ||
        std::int64_t{width} * height > kMaxFramePixels)
        return nullptr;
    auto engine = FrameReader::Open(pavi->source, pavi->streamIndex, pavi->chunks, width, height, g_settings);
    if (!engine) return nullptr;
    auto reader = std::make_unique<AviFrameReader>();
    reader->engine = std::move(engine);
    // Position N is chunk timestamp N - dwStart + the first position's timestamp.
    reader->start = static_cast<std::int64_t>(pavi->info.dwStart) - pavi->firstTimestamp;
    return reader.release();
}

const void* AVIStreamGetFrame(PGETFRAME pg, LONG lPos) { return AVIStreamGetFrameShared(pg, lPos).get(); }

std::shared_ptr<const std::uint8_t[]> AVIStreamGetFrameShared(PGETFRAME pg, LONG lPos) {
    if (!pg) return nullptr;
    return pg->engine->Get(static_cast<std::int64_t>(lPos) - pg->start);
}

HRESULT AVIStreamGetFrameClose(PGETFRAME pg) {
    delete pg;
    return AVIERR_OK;
}

ULONG AVIStreamRelease(PAVISTREAM pavi) {
    delete pavi;
    return 0;
}

ULONG AVIFileRelease(PAVIFILE pfile) {
    delete pfile;
    return 0;
}

FrameReaderStats AVIStreamGetFrameStats(PGETFRAME pg) { return pg ? pg->engine->Stats() : FrameReaderStats{}; }

std::string AVIStreamDecoderName(PGETFRAME pg) { return pg ? pg->engine->DecoderName() : std::string(); }

FrameKind AVIStreamGetFrameKind(PGETFRAME pg, LONG lPos) {
    return pg ? pg->engine->KindAt(static_cast<std::int64_t>(lPos) - pg->start) : FrameKind::Unknown;
}

AVIProgressHandler AVISetProgressHandler(AVIProgressHandler handler) {
    return std::exchange(g_progress, std::move(handler));
}

const std::vector<std::string>& AVIFileExtensions() {
    static const std::vector<std::string> extensions = {"avi", "mp4", "m4v", "mov", "qt",  "3gp", "3g2",
                                                        "mkv", "webm", "ogv", "ogg", "ts", "m2ts", "mts",
                                                        "flv", "mpg", "mpeg", "vob", "wmv", "asf"};
    return extensions;
}

std::string AVIFileContainerName(PAVIFILE pfile) {
    return pfile && pfile->source->format->iformat ? pfile->source->format->iformat->name : "";
}
