#include "platform/FrameReader.h"

#include "platform/PictureMemory.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>

extern "C" {
#include <libavutil/imgutils.h>
}

namespace {

// How many pictures a run that started at a key chunk may deliver before its
// alignment must be settled. Reordering codecs settle within a few pictures.
constexpr std::size_t kAlignWindow = 12;
constexpr std::size_t kPoolBuffers = 4;
// Only the newest picture: anything more lands in fresh memory while playing.
constexpr std::size_t kPlayingKeepBytes = 0;

// Kept pictures of every reader together stay under this, so that many open
// clips do not each hold their full budget.
constexpr std::size_t kAllReadersBudget = 512u << 20;
std::size_t g_keptBytes = 0;

std::size_t FrameBytes(const AVFrame* f) {
    std::size_t bytes = sizeof(AVFrame);
    for (const AVBufferRef* b : f->buf)
        if (b) bytes += b->size;
    return bytes;
}

std::int64_t SourceOf(const AVFrame* f) { return f->pts; }

bool IsPredicted(const AVFrame* f) {
    return f->pict_type == AV_PICTURE_TYPE_P || f->pict_type == AV_PICTURE_TYPE_B;
}

void ReleasePictureBlock(void* opaque, std::uint8_t* data) {
    FreePictureBlock(data, reinterpret_cast<std::uintptr_t>(opaque));
}

// A copy of `src` whose planes live in one block of picture memory.
libav::FramePtr CopyToPictureMemory(const AVFrame* src) {
    const auto format = static_cast<AVPixelFormat>(src->format);
    const int size = av_image_get_buffer_size(format, src->width, src->height, 64);
    if (size <= 0) return libav::FramePtr(av_frame_clone(src));
    // Padding past the last row, as the decoder's own buffers have, for the
    // converter's vector loads.
    const std::size_t bytes = static_cast<std::size_t>(size) + 64 + AV_INPUT_BUFFER_PADDING_SIZE;
    auto* block = static_cast<std::uint8_t*>(AllocatePictureBlock(bytes));
    if (!block) return nullptr;
    libav::FramePtr dst(av_frame_alloc());
    AVBufferRef* buffer = av_buffer_create(block, static_cast<int>(bytes), ReleasePictureBlock,
                                           reinterpret_cast<void*>(static_cast<std::uintptr_t>(bytes)), 0);
    if (!dst || !buffer) {
        if (buffer) av_buffer_unref(&buffer);
        else FreePictureBlock(block, bytes);
        return nullptr;
    }
    dst->buf[0] = buffer;
    dst->format = src->format;
    dst->width = src->width;
    dst->height = src->height;
    if (av_image_fill_arrays(dst->data, dst->linesize, block, format, src->width, src->height, 64) < 0 ||
        av_frame_copy(dst.get(), src) < 0 || av_frame_copy_props(dst.get(), src) < 0)
        return nullptr;
    return dst;
}

int DefaultThreads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

}  // namespace

// ---- PictureStore ----------------------------------------------------------

AVFrame* PictureStore::Find(int chunk) {
    auto it = entries_.find(chunk);
    if (it == entries_.end()) return nullptr;
    uses_.splice(uses_.begin(), uses_, it->second.use);
    return it->second.frame.get();
}

void PictureStore::Keep(int chunk, libav::FramePtr copy, std::size_t limit) {
    if (budget_ == 0 || !copy) return;
    limit = std::min(limit, budget_);
    if (entries_.count(chunk)) return;
    const std::size_t bytes = FrameBytes(copy.get());
    uses_.push_front(chunk);
    entries_.emplace(chunk, Entry{std::move(copy), bytes, uses_.begin()});
    bytes_ += bytes;
    g_keptBytes += bytes;
    while ((bytes_ > limit || g_keptBytes > kAllReadersBudget) && uses_.size() > 1) {
        auto victim = entries_.find(uses_.back());
        bytes_ -= victim->second.bytes;
        g_keptBytes -= victim->second.bytes;
        entries_.erase(victim);
        uses_.pop_back();
    }
}

void PictureStore::Clear() {
    g_keptBytes -= bytes_;
    entries_.clear();
    uses_.clear();
    bytes_ = 0;
}

// ---- Opening ---------------------------------------------------------------

FrameReader::FrameReader(std::shared_ptr<DemuxSource> source, int streamIndex, std::vector<Chunk> chunks,
                         const ReaderSettings& settings)
    : source_(std::move(source)),
      stream_(source_->format->streams[streamIndex]),
      chunks_(std::move(chunks)),
      settings_(settings),
      store_(settings.keepBytes) {}

std::unique_ptr<FrameReader> FrameReader::Open(std::shared_ptr<DemuxSource> source, int streamIndex,
                                               std::vector<Chunk> chunks, int width, int height,
                                               const ReaderSettings& settings) {
    if (!source || !source->format || streamIndex < 0 ||
        streamIndex >= static_cast<int>(source->format->nb_streams))
        return nullptr;
    std::unique_ptr<FrameReader> reader(new FrameReader(std::move(source), streamIndex, std::move(chunks), settings));
    if (!reader->OpenDecoder(width, height)) return nullptr;
    if (!reader->chunks_.empty()) reader->chunks_.front().key = true;  // decoding starts there
    reader->pictureTypes_.assign(reader->chunks_.size(), 0);
    return reader;
}

bool FrameReader::OpenDecoder(int width, int height) {
    const AVCodecParameters* par = stream_->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder) return false;
    codec_.reset(avcodec_alloc_context3(decoder));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!codec_ || !packet_ || !frame_) return false;
    if (avcodec_parameters_to_context(codec_.get(), par) < 0) return false;
    codec_->pkt_timebase = stream_->time_base;
    codec_->thread_count = settings_.threads > 0 ? settings_.threads : DefaultThreads();
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(codec_.get(), decoder, nullptr) < 0) return false;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(par->codec_id);
    reorders_ = !descriptor || (descriptor->props & AV_CODEC_PROP_REORDER);

    // The demuxer hands a paletted stream's colours to the first packet it
    // reads; chunks are read here directly, so the palette travels with the
    // first packet of every run instead.
    const int bits = par->bits_per_coded_sample;
    if (bits > 0 && bits <= 8 && par->extradata_size >= 4) {
        const int entries = std::min(1 << bits, par->extradata_size / 4);
        palette_.assign(AVPALETTE_SIZE, 0);
        const std::uint8_t* src = par->extradata + par->extradata_size - 4 * entries;
        for (int i = 0; i < entries; ++i) {
            const std::uint32_t argb = 0xFF000000u | src[4 * i] | src[4 * i + 1] << 8 | src[4 * i + 2] << 16;
            std::memcpy(palette_.data() + 4 * i, &argb, 4);
        }
    }

    width_ = width;
    height_ = height;
    rowBytes_ = (width * 3 + 3) & ~3;
    const std::size_t imageBytes = static_cast<std::size_t>(rowBytes_) * static_cast<std::size_t>(height);
    packedBytes_ = sizeof(BITMAPINFOHEADER) + imageBytes;
    converter_.emplace(width, height);
    header_.biSize = sizeof(BITMAPINFOHEADER);
    header_.biWidth = width;
    header_.biHeight = height;
    header_.biPlanes = 1;
    header_.biBitCount = 24;
    header_.biCompression = BI_RGB;
    header_.biSizeImage = static_cast<std::int32_t>(imageBytes);
    return true;
}

std::string FrameReader::DecoderName() const {
    return codec_ && codec_->codec ? codec_->codec->name : "";
}

// ---- Positions -------------------------------------------------------------

int FrameReader::ChunkFor(std::int64_t position) const {
    auto it = std::upper_bound(chunks_.begin(), chunks_.end(), position,
                               [](std::int64_t p, const Chunk& c) { return p < c.ts; });
    if (it == chunks_.begin()) return 0;
    return static_cast<int>(it - chunks_.begin()) - 1;
}

int FrameReader::KeyAtOrBefore(int chunk) const {
    while (chunk > 0 && !chunks_[chunk].key) --chunk;
    return std::max(chunk, 0);
}

// The key chunk a run must start at so that `chunk` comes out right: pictures
// shown before a key picture (open GOPs) need the run to start one key earlier.
int FrameReader::StartKeyFor(int chunk) const {
    int key = KeyAtOrBefore(chunk);
    while (key > 0) {
        auto it = leading_.find(key);
        if (it == leading_.end() || chunk >= key + it->second) break;
        key = KeyAtOrBefore(key - 1);
    }
    return key;
}

FrameKind FrameReader::KindAt(std::int64_t position) const {
    if (chunks_.empty() || position < 0) return FrameKind::Unknown;
    const int chunk = ChunkFor(position);
    if (chunks_[chunk].ts != position || (pictureCount_ > 0 && chunk >= pictureCount_)) return FrameKind::Repeat;
    if (chunks_[chunk].key) return FrameKind::Key;
    switch (pictureTypes_[chunk]) {
        case 'I': return FrameKind::I;
        case 'P': return FrameKind::P;
        case 'B': return FrameKind::B;
        default: return FrameKind::Unknown;
    }
}

// ---- Decoding --------------------------------------------------------------

// A packed-bitmap buffer nobody else holds: a bitmap that took over a buffer
// (a cached frame, the picture on screen) keeps it unchanged for good.
std::shared_ptr<std::uint8_t[]> FrameReader::FreeBuffer() {
    for (const auto& buffer : pool_)
        if (buffer.use_count() == 1) return buffer;
    std::shared_ptr<std::uint8_t[]> buffer = MakePictureBuffer(packedBytes_);
    if (!buffer) return nullptr;
    std::memcpy(buffer.get(), &header_, sizeof header_);
    // Conversion writes only the pixels of each row; the padding reads as zeros.
    const int padding = rowBytes_ - width_ * 3;
    for (int y = 0; padding > 0 && y < height_; ++y)
        std::memset(buffer.get() + sizeof header_ + static_cast<std::size_t>(y) * rowBytes_ + width_ * 3, 0, padding);
    // Buffers that bitmaps keep for good (cached frames) leave the pool only
    // when it is full; the ones on screen come back to it.
    if (pool_.size() >= kPoolBuffers) pool_.erase(pool_.begin());
    pool_.push_back(buffer);
    return buffer;
}

std::shared_ptr<const std::uint8_t[]> FrameReader::Get(std::int64_t position) {
    ++stats_.requests;
    if (chunks_.empty()) return nullptr;
    int chunk = ChunkFor(position);
    // The decoder delivered fewer pictures than there are chunks: the rest
    // show its last picture.
    if (pictureCount_ > 0 && chunk >= pictureCount_) chunk = pictureCount_ - 1;
    if (chunk == convertedChunk_) return current_;
    if (AVFrame* kept = store_.Find(chunk)) return Convert(kept, chunk);

    const int key = StartKeyFor(chunk);
    const bool canContinue = mode_ == Mode::Aligned && used_ && !ended_ && nextOut_ <= chunk &&
                             firstValid_ <= chunk && key <= nextFeed_;
    if (!canContinue) StartRun(key);
    // Playing straight on keeps only a short tail of pictures, so the decoder
    // recycles its picture buffers instead of touching fresh memory for every
    // frame; a run rolled forward to a far target keeps all it decoded, which
    // is what stepping back needs.
    keepLimit_ = canContinue && chunk - nextOut_ <= 1 ? kPlayingKeepBytes : settings_.keepBytes;
    AVFrame* picture = DecodeUntil(chunk);
    return picture ? Convert(picture, chunk) : nullptr;
}

void FrameReader::StartRun(int key) {
    if (used_) avcodec_flush_buffers(codec_.get());
    ++stats_.seeks;
    used_ = false;
    flushed_ = ended_ = false;
    sendPalette_ = !palette_.empty();
    runKey_ = key;
    runSent_ = 0;
    nextFeed_ = key;
    seenBefore_ = 0;
    after_.clear();
    lastOut_ = -1;
    // From the first chunk the numbering holds by definition.
    mode_ = key == 0 ? Mode::Aligned : Mode::Aligning;
    nextOut_ = 0;
    firstValid_ = key == 0 ? 0 : std::numeric_limits<int>::max();
}

AVFrame* FrameReader::DecodeUntil(int target) {
    target_ = target;
    targetFrame_.reset();
    for (int restarts = 0;;) {
        if (targetFrame_) return targetFrame_.get();
        if (mode_ == Mode::Aligned && firstValid_ > target) {
            // This run cannot show the target: start one key earlier.
            if (runKey_ == 0 || ++restarts > 64) return nullptr;
            StartRun(StartKeyFor(target));
            continue;
        }
        const int got = avcodec_receive_frame(codec_.get(), frame_.get());
        const libav::Step step = libav::Translate(got);
        if (step == libav::Step::Ok) {
            ++stats_.picturesOut;
            OnPicture(frame_.get());
            av_frame_unref(frame_.get());
        } else if (step == libav::Step::NeedInput) {
            if (!Feed()) return nullptr;
        } else {
            // The decoder has delivered everything it will: a position past
            // its last picture shows that picture.
            ended_ = true;
            if (mode_ == Mode::Aligned && firstValid_ <= target) pictureCount_ = nextOut_;
            if (mode_ == Mode::Aligning) {
                if (after_.empty()) {
                    GiveUpKey();
                    StartRun(StartKeyFor(target));
                    if (++restarts > 64) return nullptr;
                    continue;
                }
                CommitAlignment(true);
                if (targetFrame_) return targetFrame_.get();
            }
            if (firstValid_ > target) continue;
            return lastOut_ >= 0 && lastOut_ < target && lastFrame_ ? lastFrame_.get() : nullptr;
        }
    }
}

bool FrameReader::Feed() {
    used_ = true;
    while (nextFeed_ < static_cast<int>(chunks_.size())) {
        const int index = nextFeed_++;
        if (!ReadChunk(index, packet_.get())) continue;
        const int sent = avcodec_send_packet(codec_.get(), packet_.get());
        av_packet_unref(packet_.get());
        ++stats_.packetsSent;
        // A chunk the decoder refuses yields no picture; the stream goes on.
        if (libav::Translate(sent) != libav::Step::Failed) {
            ++runSent_;
            return true;
        }
    }
    if (flushed_) return false;
    flushed_ = true;
    return libav::Translate(avcodec_send_packet(codec_.get(), nullptr)) != libav::Step::Failed;
}

bool FrameReader::ReadChunk(int index, AVPacket* packet) {
    const Chunk& c = chunks_[index];
    const std::int64_t payload = c.pos + 8;
    if (c.size <= 0 || payload < 0 || (source_->fileSize > 0 && payload + c.size > source_->fileSize)) return false;
    if (av_new_packet(packet, c.size) < 0) return false;
    AVIOContext* io = source_->format->pb;
    if (avio_seek(io, payload, SEEK_SET) < 0 || avio_read(io, packet->data, c.size) != c.size) {
        av_packet_unref(packet);
        return false;
    }
    packet->pts = packet->dts = index;
    if (c.key) packet->flags |= AV_PKT_FLAG_KEY;
    if (sendPalette_) {
        if (std::uint8_t* side = av_packet_new_side_data(packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE))
            std::memcpy(side, palette_.data(), AVPALETTE_SIZE);
        sendPalette_ = false;
    }
    return true;
}

void FrameReader::OnPicture(AVFrame* frame) {
    if (mode_ == Mode::Aligning) {
        AlignStep(frame);
        return;
    }
    const int chunk = nextOut_++;
    if (chunk >= static_cast<int>(chunks_.size())) return;  // more pictures than chunks
    const std::int64_t source = SourceOf(frame);
    if (source > 0 && source < static_cast<std::int64_t>(chunks_.size()) && chunks_[source].key && chunk >= source)
        leading_[static_cast<int>(source)] = chunk - static_cast<int>(source);
    KeepAt(chunk, frame);
}

void FrameReader::KeepAt(int chunk, const AVFrame* frame) {
    lastOut_ = chunk;
    if (chunk < firstValid_) return;
    pictureTypes_[chunk] = av_get_picture_type_char(frame->pict_type);
    lastFrame_.reset(av_frame_clone(frame));
    if (chunk == target_) targetFrame_.reset(av_frame_clone(frame));
    // A key picture shown at its own chunk costs one decode to get again:
    // keeping it would cost more.
    const bool intraAtItsKey = (frame->key_frame || frame->pict_type == AV_PICTURE_TYPE_I) && chunks_[chunk].key &&
                               SourceOf(frame) == chunk;
    if (intraAtItsKey) return;
    // Kept pictures move out of the decoder's buffers (which it then reuses)
    // into picture memory; while playing, the one kept picture just shares them.
    store_.Keep(chunk, keepLimit_ ? CopyToPictureMemory(frame) : libav::FramePtr(av_frame_clone(frame)), keepLimit_);
}

// A run that started at key chunk k > 0 learns where its pictures belong: the
// key picture (the one carrying source k) is shown at k + L, where L counts
// the pictures shown before it that were decoded after it. Those may have been
// dropped by the decoder (their references lie before k), so L is read off the
// smallest source among the pictures after the key picture: it is k + L + 1.
void FrameReader::AlignStep(AVFrame* frame) {
    const std::int64_t source = SourceOf(frame);
    if (source == AV_NOPTS_VALUE) {
        // Without sources only the count can place pictures.
        after_.push_back({libav::FramePtr(av_frame_clone(frame)), runKey_});
        minAfter_ = runKey_ + seenBefore_ + 1;
        CommitAlignment(false);
        return;
    }
    if (after_.empty()) {
        if (source == runKey_ && IsPredicted(frame)) {
            GiveUpKey();  // the index calls it a key chunk, the decoder does not
            StartRun(StartKeyFor(target_));
            return;
        }
        if (source != runKey_) {
            if (++seenBefore_ > static_cast<int>(kAlignWindow)) {
                GiveUpKey();
                StartRun(StartKeyFor(target_));
            }
            return;
        }
        after_.push_back({libav::FramePtr(av_frame_clone(frame)), source});
        minAfter_ = std::numeric_limits<std::int64_t>::max();
        // Without reordering nothing is shown before a key picture.
        if (!reorders_) {
            CommitLead(seenBefore_);
            return;
        }
        // A key this reader has placed before needs no second look.
        if (auto known = leading_.find(runKey_); known != leading_.end() && known->second >= seenBefore_)
            CommitLead(known->second);
        return;
    }
    after_.push_back({libav::FramePtr(av_frame_clone(frame)), source});
    minAfter_ = std::min(minAfter_, source);
    const std::int64_t settled = runKey_ + seenBefore_ + 1;
    if (minAfter_ <= settled || after_.size() > kAlignWindow) CommitAlignment(false);
}

// At the decoder's end every picture it will deliver is out, so the pictures
// it dropped are simply the chunks sent that gave none.
void FrameReader::CommitAlignment(bool atEnd) {
    const std::int64_t seenBefore = seenBefore_;
    std::int64_t lead = seenBefore;
    if (atEnd) {
        const std::int64_t delivered = seenBefore + static_cast<std::int64_t>(after_.size());
        lead = seenBefore + std::max<std::int64_t>(0, runSent_ - delivered);
    } else if (after_.size() > 1 && minAfter_ != std::numeric_limits<std::int64_t>::max()) {
        lead = std::max(seenBefore, minAfter_ - runKey_ - 1);
    }
    CommitLead(std::clamp<std::int64_t>(lead, 0, static_cast<std::int64_t>(chunks_.size())));
}

void FrameReader::CommitLead(std::int64_t lead) {
    leading_[runKey_] = static_cast<int>(lead);
    mode_ = Mode::Aligned;
    firstValid_ = runKey_ + static_cast<int>(lead);
    nextOut_ = firstValid_;
    std::vector<Pending> pictures = std::move(after_);
    after_.clear();
    seenBefore_ = 0;
    for (Pending& p : pictures) {
        const int chunk = nextOut_++;
        if (chunk < static_cast<int>(chunks_.size())) KeepAt(chunk, p.frame.get());
    }
}

void FrameReader::GiveUpKey() {
    if (runKey_ > 0) chunks_[runKey_].key = false;
}

// ---- Conversion ------------------------------------------------------------

std::shared_ptr<const std::uint8_t[]> FrameReader::Convert(const AVFrame* frame, int chunk) {
    std::shared_ptr<std::uint8_t[]> buffer = FreeBuffer();
    if (!buffer || !converter_->Convert(frame, buffer.get() + sizeof(BITMAPINFOHEADER))) return nullptr;
    ++stats_.conversions;
    convertedChunk_ = chunk;
    current_ = std::move(buffer);
    return current_;
}
