// The AVI file service on libavformat and libavcodec: AVI files through the
// AVI demuxer as the service has always read them, every other container
// through its own demuxer and frame table.
#include "platform/mAVIDecs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "media/AviHeaders.h"
#include "media/DemuxSource.h"
#include "media/FrameReader.h"
#include "media/FrameTable.h"
#include "media/StreamStart.h"
#include "platform/Memory.h"

struct AviFileObject {
    std::shared_ptr<DemuxSource> source;
    bool avi = false;  // read by the AVI demuxer
    AviHeaders headers;
    bool headersRead = false;
};

struct AviStreamObject {
    std::shared_ptr<DemuxSource> source;
    int streamIndex = -1;
    AVISTREAMINFOA info;
    std::shared_ptr<FrameTable> table;
    std::unique_ptr<PositionFacts> facts;  // made when first asked for
};

struct AviFrameReader {
    std::unique_ptr<FrameReader> engine;
    std::int64_t start = 0;  // the stream's first frame number
};

namespace {

// Readers decode ahead on a worker thread unless told not to.
ReaderSettings g_settings{.decodeAhead = true};
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

// The demuxer numbers chunks from the header's start, unless it finds that
// start implausible (over an hour), when it numbers them from 0.
std::int64_t FirstTimestamp(const AviStreamHeader* h) {
    const bool plausible = h && h->rate > 0 && h->scale > 0 && h->start <= 3600ull * h->rate / h->scale;
    return plausible ? h->start : 0;
}

// An AVI stream reports its header as the file has it.
AVISTREAMINFOA AviStreamInfo(const AviFileObject& file, const AVStream* st, const AviStreamHeader* h,
                             const FrameTable& table, bool first) {
    AVISTREAMINFOA info;
    info.fccType = streamtypeVIDEO;
    info.fccHandler = st->codecpar->codec_tag;
    if (h) {
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
        if (first && file.headers.odmlTotalFrames > info.dwLength && !table.Packets().empty()) {
            const std::int64_t indexed = table.Packets().back().slot + 1;
            info.dwLength = static_cast<DWORD>(std::clamp<std::int64_t>(
                std::min<std::int64_t>(file.headers.odmlTotalFrames, indexed), info.dwLength,
                std::numeric_limits<std::int32_t>::max()));
        }
    } else {
        info.dwScale = static_cast<DWORD>(st->time_base.num);
        info.dwRate = static_cast<DWORD>(st->time_base.den);
        info.dwLength = static_cast<DWORD>(std::clamp<std::int64_t>(
            st->nb_frames > 0 ? st->nb_frames : st->duration, 0, std::numeric_limits<std::int32_t>::max()));
    }
    return info;
}

// Pictures per second over the packets' presentation times: one less than
// the positions over the span from the first to the last; 0/1 when unknown.
AVRational SpanRate(const FrameTable& table, AVRational timeBase) {
    std::int64_t low = std::numeric_limits<std::int64_t>::max(), high = std::numeric_limits<std::int64_t>::min();
    for (const TablePacket& p : table.Packets())
        if (p.pts != TablePacket::kNoTime && !p.discard) low = std::min(low, p.pts), high = std::max(high, p.pts);
    const std::int64_t positions = table.PositionCount();
    if (high <= low || positions < 2) return AVRational{0, 1};
    AVRational rate{0, 1};
    av_reduce(&rate.num, &rate.den, (positions - 1) * std::int64_t{timeBase.den}, (high - low) * timeBase.num,
              std::numeric_limits<std::int32_t>::max());
    return rate;
}

// The stream's nominal frame rate; a variable-rate stream (whose average
// rate strays from it) its average rate; a stream counting whole frames the
// rate its timestamps count; with no rate given, the span of its timestamps.
AVRational NominalRate(const AVStream* st, const FrameTable& table) {
    if (table.Rule() == PositionRule::FrameSlots) return av_inv_q(st->time_base);
    const AVRational nominal = st->r_frame_rate;
    const AVRational average = st->avg_frame_rate;
    // A millisecond clock's 1000/1 is what the demuxer guesses when it finds no rate.
    const bool clockGuess = av_cmp_q(st->time_base, AVRational{1, 1000}) == 0 && av_cmp_q(nominal, {1000, 1}) == 0;
    const bool hasNominal = nominal.num > 0 && nominal.den > 0 && !clockGuess;
    const bool hasAverage = average.num > 0 && average.den > 0;
    if (hasNominal && (!hasAverage || std::abs(av_q2d(average) / av_q2d(nominal) - 1.0) < 0.01)) return nominal;
    if (hasAverage) return average;
    return hasNominal ? nominal : SpanRate(table, st->time_base);
}

// Any other stream: frames from 0, as many as its frame table has positions.
AVISTREAMINFOA OtherStreamInfo(const AVStream* st, const FrameTable& table) {
    AVISTREAMINFOA info;
    info.fccType = streamtypeVIDEO;
    info.fccHandler = st->codecpar->codec_tag;
    AVRational rate = NominalRate(st, table);
    av_reduce(&rate.num, &rate.den, rate.num, rate.den, std::numeric_limits<std::int32_t>::max());
    info.dwRate = static_cast<DWORD>(std::max(rate.num, 0));
    info.dwScale = static_cast<DWORD>(std::max(rate.den, 0));
    info.dwLength = static_cast<DWORD>(
        std::clamp<std::int64_t>(table.PositionCount(), 0, std::numeric_limits<std::int32_t>::max()));
    return info;
}

// Demuxers that make pictures of what is not video (still images, text):
// such files are not clips.
const PositionFacts& FactsOf(AviStreamObject& stream) {
    if (!stream.facts) {
        const AVRational tb = stream.source->format->streams[stream.streamIndex]->time_base;
        stream.facts = std::make_unique<PositionFacts>(stream.table, tb.num, tb.den);
    }
    return *stream.facts;
}

bool NotVideo(const AVInputFormat* format) {
    const std::string_view name = format->name;
    return name == "image2" || name.ends_with("_pipe") || name == "tty" || name == "bin" || name == "xbin" ||
           name == "adf" || name == "idf";
}

}  // namespace

void AVIFileInit() { SetUpOnce(); }
void AVIFileExit() {}

void AVISetReaderSettings(int decoderThreads, std::size_t keepBytes) {
    g_settings.threads = decoderThreads;
    g_settings.keepBytes = keepBytes;
}

void AVISetDecodeAhead(bool on) { g_settings.decodeAhead = on; }

HRESULT AVIFileOpen(PAVIFILE* ppfile, const char* szFile, std::uint32_t /*uMode*/, const void* /*lpHandler*/) {
    SetUpOnce();
    if (!ppfile) return AVIERR_BADPARAM;
    *ppfile = nullptr;
    if (!szFile || !IsRegularFile(szFile)) return AVIERR_FILEOPEN;
    // A RIFF AVI file is always read as AVI, however damaged; anything else
    // by whichever demuxer recognises it.
    const bool avi = StartsAsAvi(szFile);
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, szFile, avi ? av_find_input_format("avi") : nullptr, nullptr) < 0)
        return AVIERR_FILEOPEN;
    auto source = std::make_shared<DemuxSource>();
    source->format.reset(raw);
    source->fileSize = avio_size(raw->pb);
    if (!avi && NotVideo(raw->iformat)) return AVIERR_FILEOPEN;
    // Other containers are probed for what their streams hold.
    if (!avi && !CarriesSampleTable(raw) && avformat_find_stream_info(raw, nullptr) < 0) return AVIERR_FILEOPEN;
    auto file = std::make_unique<AviFileObject>();
    file->source = std::move(source);
    file->avi = avi;
    file->headersRead = avi && ReadAviHeaders(szFile, file->headers);
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
        const AviStreamHeader* header = HeaderFor(*pfile, stream->streamIndex, lParam);
        bool cancelled = false;
        stream->table = MakeFrameTable(pfile->source, stream->streamIndex, FirstTimestamp(header), g_progress, cancelled);
        if (!stream->table) return cancelled ? AVIERR_USERABORT : AVIERR_NODATA;
        stream->info = pfile->avi ? AviStreamInfo(*pfile, st, header, *stream->table, lParam == 0)
                                          : OtherStreamInfo(st, *stream->table);
        stream->info.rcFrame = RECT{0, 0, st->codecpar->width, std::abs(st->codecpar->height)};
        if (!pfile->avi) {
            // Containers may state a size the pictures do not have (a sequence
            // header that crops, a track header that rounds), or none at all:
            // the frame is the size of the first picture.
            const std::optional<PictureShape> shape = FirstPictureShape(*stream->table, st->codecpar, st->time_base);
            if (shape) stream->info.rcFrame = RECT{0, 0, shape->width, shape->height};
        }
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
    std::strncpy(pfi->szFileType, pfile->source->format->iformat->name, sizeof pfi->szFileType - 1);
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
    const AVStream* st = pavi->source->format->streams[pavi->streamIndex];
    auto engine = FrameReader::Open(pavi->table, st->codecpar, st->time_base, width, height, g_settings);
    if (!engine) return nullptr;
    auto reader = std::make_unique<AviFrameReader>();
    reader->engine = std::move(engine);
    reader->start = pavi->info.dwStart;
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

HRESULT AVIStreamGetFrameFacts(PAVISTREAM pavi, LONG lPos, FrameFacts* facts) {
    if (!pavi || !facts) return AVIERR_BADPARAM;
    const std::int64_t start = pavi->info.dwStart;
    *facts = FactsOf(*pavi).At(static_cast<std::int64_t>(lPos) - start);
    if (facts->position < 0) return AVIERR_BADPARAM;
    facts->position += start;
    if (facts->repeat) facts->repeatOf += start;
    return AVIERR_OK;
}

std::vector<LONG> AVIStreamKeyFrames(PAVISTREAM pavi) {
    std::vector<LONG> keys;
    if (!pavi) return keys;
    for (const std::int64_t position : FactsOf(*pavi).KeyPositions()) {
        const std::int64_t frame = position + pavi->info.dwStart;
        if (frame > std::numeric_limits<LONG>::max()) break;
        keys.push_back(static_cast<LONG>(frame));
    }
    return keys;
}

HRESULT AVIStreamGetFormatFacts(PAVISTREAM pavi, PGETFRAME pg, StreamFacts* facts) {
    if (!pavi || !facts) return AVIERR_BADPARAM;
    *facts = DescribeStream(pavi->source->format->streams[pavi->streamIndex], pg ? &pg->engine->LastFormat() : nullptr);
    return AVIERR_OK;
}

std::string AVIStreamSourceValues(PGETFRAME pg, LONG lPos, int x, int y) {
    return pg ? pg->engine->SourceValuesAt(static_cast<std::int64_t>(lPos) - pg->start, x, y) : std::string();
}

SourcePicture AVIStreamGetSourcePicture(PGETFRAME pg, LONG lPos, bool decode) {
    if (!pg) return nullptr;
    const std::int64_t position = static_cast<std::int64_t>(lPos) - pg->start;
    libav::FramePtr picture = decode ? pg->engine->SourcePicture(position) : pg->engine->ConvertedPicture(position);
    return SourcePicture(picture.release(), [](const AVFrame* f) {
        AVFrame* frame = const_cast<AVFrame*>(f);
        av_frame_free(&frame);
    });
}

PictureMetrics AVIComparePictures(const SourcePicture& a, const SourcePicture& b, bool ssim) {
    return MeasurePictures(a.get(), b.get(), ssim);
}

PictureFields AVIStreamGetFrameFields(PGETFRAME pg, LONG lPos) {
    return pg ? pg->engine->FieldsAt(static_cast<std::int64_t>(lPos) - pg->start) : PictureFields{};
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

AVIProgressHandler AVISetProgressHandler(AVIProgressHandler handler) {
    return std::exchange(g_progress, std::move(handler));
}
