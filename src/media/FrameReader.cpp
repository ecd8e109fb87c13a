#include "media/FrameReader.h"

#include "media/DecodeAhead.h"
#include "media/Decoder.h"
#include "media/NalUnits.h"
#include "media/PictureMemory.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

// How many pictures a run that started at a key packet may deliver before its
// alignment must be settled. Reordering codecs settle within a few pictures.
constexpr std::size_t kAlignWindow = 12;
// While only B-pictures have come after the key picture, the reference
// picture a decoder holds back may still be to come: MPEG-1 allows any number
// of B-pictures between two references (a real file has 25). The window then
// stretches to this.
constexpr std::size_t kAlignLongestWindow = 64;
constexpr std::size_t kPoolBuffers = 4;
// Only the newest picture: anything more lands in fresh memory while playing.
constexpr std::size_t kPlayingKeepBytes = 0;
// Requests at most this many packets apart are steps (stepping, playing,
// playing with dropped frames); anything farther is a jump.
constexpr PacketIndex kStepReach = 8;
// Pictures a worker prepares ahead of playing.
constexpr PacketIndex kPlayAhead = 16;
// Pictures a worker prepares below the steps at least, stepping back.
constexpr PacketIndex kBackMinReach = 32;
// A run to prepare the pictures below the steps starts this many times its
// measured length before the steps would reach its last picture.
constexpr double kRunMargin = 1.5;
// A held key's presses per second (a keyboard's repeat).
constexpr double kHeldKeyRate = 30;
// A frame from which a held key reaches the GOP before within this many
// presses is near that GOP's start, however fast the GOP decodes.
constexpr PacketIndex kNearGopStartPresses = 3;
// After a jump near a GOP's start, how long the requests must pause before
// the worker prepares the GOP before it: scrubbing and random access leave
// it idle.
constexpr auto kPauseAfterJump = std::chrono::milliseconds(100);
// Pictures from which a worker on a spare core pays (720p).
constexpr std::int64_t kSpareCoreFromPixels = 1280 * 720;

std::int64_t SourceOf(const AVFrame* f) { return f->pts; }

constexpr std::uint8_t kFieldKnown = 1, kFieldInterlaced = 2, kFieldTopFirst = 4, kFieldRepeat = 8;

std::uint8_t FieldFlagsOf(const AVFrame* f) {
    return static_cast<std::uint8_t>(kFieldKnown | (f->interlaced_frame ? kFieldInterlaced : 0) |
                                     (f->top_field_first ? kFieldTopFirst : 0) | (f->repeat_pict > 0 ? kFieldRepeat : 0));
}

bool IsIntra(const AVFrame* f) { return f->key_frame || f->pict_type == AV_PICTURE_TYPE_I; }

bool IsPredicted(const AVFrame* f) {
    return f->pict_type == AV_PICTURE_TYPE_P || f->pict_type == AV_PICTURE_TYPE_B;
}

FrameKind KindOf(const AVFrame* f) {
    if (f->key_frame) return FrameKind::Key;
    switch (f->pict_type) {
        case AV_PICTURE_TYPE_I: return FrameKind::I;
        case AV_PICTURE_TYPE_P: return FrameKind::P;
        case AV_PICTURE_TYPE_B: return FrameKind::B;
        default: return FrameKind::Unknown;
    }
}

}  // namespace

// ---- Opening ---------------------------------------------------------------

FrameReader::FrameReader(std::shared_ptr<FrameTable> table, const ReaderSettings& settings)
    : table_(std::move(table)), packets_(table_->Packets()), settings_(settings), store_(settings.keepBytes) {}

std::unique_ptr<FrameReader> FrameReader::Open(std::shared_ptr<FrameTable> table, const AVCodecParameters* codec,
                                               AVRational timeBase, int width, int height,
                                               const ReaderSettings& settings) {
    if (!table || table->Packets().empty() || !codec) return nullptr;
    std::unique_ptr<FrameReader> reader(new FrameReader(std::move(table), settings));
    if (!reader->StartDecoder(codec, timeBase, width, height)) return nullptr;
    reader->packets_.front().key = true;  // decoding starts there
    reader->kinds_.assign(reader->packets_.size(), 0);
    reader->fields_.assign(reader->packets_.size(), 0);
    reader->run_.nextOut = reader->NextShown(0);
    // A new decoder for a run over damage, and the worker, start from these.
    reader->codecParameters_.reset(avcodec_parameters_alloc());
    reader->timeBase_ = timeBase;
    if (!reader->codecParameters_ || avcodec_parameters_copy(reader->codecParameters_.get(), codec) < 0)
        return nullptr;
    return reader;
}

// The worker goes first: it may be decoding.
FrameReader::~FrameReader() { ahead_.reset(); }

bool FrameReader::StartDecoder(const AVCodecParameters* par, AVRational timeBase, int width, int height) {
    threaded_ = OpenDecoder(par, timeBase, settings_.threads, 0, &errors_);
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!threaded_ || !packet_ || !frame_) return false;
    codec_ = threaded_.get();
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(par->codec_id);
    reorders_ = !descriptor || (descriptor->props & AV_CODEC_PROP_REORDER);
    // Short runs go without frame threads, which delay each picture. An
    // intra-only codec's (each jump decodes one picture) go on slice threads
    // where it has them; any other's on one thread, since a codec whose
    // pictures refer to others may conceal damage it reports no error for
    // otherwise on slice threads than a plain decode does. A run over
    // reported damage takes a decoder of one thread (StartRun).
    if (threaded_->thread_count > 1 && threaded_->active_thread_type != 0) {
        const bool slices = (threaded_->active_thread_type & FF_THREAD_FRAME) &&
                            (threaded_->codec->capabilities & AV_CODEC_CAP_SLICE_THREADS) && descriptor &&
                            (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);
        single_ = OpenDecoder(par, timeBase, slices ? settings_.threads : 1, 0, &errors_, false);
    }

    // A run from the first packet reads the encoder's notes there; one from a
    // later key is sent them before its key packet.
    if (par->codec_id == AV_CODEC_ID_H264 && PacketCount() > 0 && table_->Read(0, packet_.get())) {
        encoderNotes_ = EncoderNotes(par, packet_.get());
        av_packet_unref(packet_.get());
    }

    width_ = width;
    height_ = height;
    converter_.emplace(width, height);
    const std::size_t imageBytes = static_cast<std::size_t>(converter_->RowBytes()) * static_cast<std::size_t>(height);
    packedBytes_ = sizeof(BITMAPINFOHEADER) + imageBytes + PictureConverter::kSlackBytes;
    header_.biSize = sizeof(BITMAPINFOHEADER);
    header_.biWidth = width;
    header_.biHeight = height;
    header_.biPlanes = 1;
    header_.biBitCount = 24;
    header_.biCompression = BI_RGB;
    header_.biSizeImage = static_cast<std::int32_t>(imageBytes);
    return true;
}

FrameReaderStats FrameReader::Stats() const {
    FrameReaderStats stats = stats_;
    stats.keptBytes = store_.Bytes();
    stats.aheadBytes = ahead_ ? ahead_->Bytes() : 0;
    stats.aheadDecoded = ahead_ ? ahead_->Decoded() : 0;
    return stats;
}

std::string FrameReader::DecoderName() const {
    return codec_ && codec_->codec ? codec_->codec->name : "";
}

// ---- Positions -------------------------------------------------------------

// The last packet whose slot is at or before `position`; positions before the
// first packet show its picture. Discard packets carry the next shown
// packet's slot, so they are never the last one.
PacketIndex FrameReader::PacketFor(std::int64_t position) const {
    auto it = std::upper_bound(packets_.begin(), packets_.end(), position,
                               [](std::int64_t p, const TablePacket& c) { return p < c.slot; });
    if (it == packets_.begin()) return NextShown(0);
    return static_cast<PacketIndex>(it - packets_.begin()) - 1;
}

// The packet whose picture `position` shows. The decoder may deliver fewer
// pictures than there are packets: the rest show its last picture.
PacketIndex FrameReader::ShownPacket(std::int64_t position) const {
    const PacketIndex packet = PacketFor(position);
    return pictureCount_ > 0 && packet >= pictureCount_ ? pictureCount_ - 1 : packet;
}

PacketIndex FrameReader::NextShown(PacketIndex packet) const {
    while (packet < PacketCount() && packets_[packet].discard) ++packet;
    return packet;
}

// The n-th shown packet after `packet` (itself for 0); PacketCount() past the last.
PacketIndex FrameReader::ShownAfter(PacketIndex packet, std::int64_t n) const {
    for (; n > 0 && packet < PacketCount(); --n) packet = NextShown(packet + 1);
    return std::min(packet, PacketCount());
}

// The last shown packet before `packet`, no earlier than `floor`.
PacketIndex FrameReader::LastShownBefore(PacketIndex packet, PacketIndex floor) const {
    packet = std::min(packet, PacketCount()) - 1;
    while (packet > floor && packets_[packet].discard) --packet;
    return std::max(packet, floor);
}

// A key packet that is never shown (an edit list's cut lands after it) is no
// start: a run aligns on its key picture, which the decoder drops.
PacketIndex FrameReader::KeyAtOrBefore(PacketIndex packet) const {
    while (packet > 0 && (!packets_[packet].key || packets_[packet].discard)) --packet;
    return std::max(packet, 0);
}

// The key packet a run must start at so that `packet` comes out right:
// pictures shown before a key picture (open GOPs) need the run to start one
// key earlier.
PacketIndex FrameReader::StartKeyFor(PacketIndex packet) const {
    PacketIndex key = KeyAtOrBefore(packet);
    while (key > 0) {
        if (key >= shortTail_) {
            key = KeyAtOrBefore(shortTail_ - 1);
            continue;
        }
        auto it = leading_.find(key);
        if (it == leading_.end() || packet >= key + it->second) break;
        key = KeyAtOrBefore(key - 1);
    }
    return key;
}

PictureFields FrameReader::FieldsAt(std::int64_t position) const {
    if (packets_.empty() || position < 0) return {};
    const PacketIndex packet = ShownPacket(position);
    if (packet >= PacketCount() || !(fields_[packet] & kFieldKnown)) return {};
    const std::uint8_t f = fields_[packet];
    return {true, (f & kFieldInterlaced) != 0, (f & kFieldTopFirst) != 0, (f & kFieldRepeat) != 0};
}

std::string FrameReader::SourceValuesAt(std::int64_t position, int x, int y) const {
    if (packets_.empty() || position < 0 || !convertedSource_ || !convertedSource_->data[0]) return {};
    const PacketIndex packet = ShownPacket(position);
    if (packet != convertedPacket_) return {};
    const AVFrame* f = convertedSource_.get();
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) || width_ <= 0 || height_ <= 0)
        return {};
    // The decoded picture may differ in size from the stream's frame.
    const int px = static_cast<int>(std::int64_t{x} * f->width / width_);
    const int py = static_cast<int>(std::int64_t{y} * f->height / height_);
    if (px < 0 || py < 0 || px >= f->width || py >= f->height) return {};
    const bool rgb = (desc->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    const bool palette = (desc->flags & AV_PIX_FMT_FLAG_PAL) != 0;
    static const char* const kYuv[] = {"Y", "Cb", "Cr", "A"};
    static const char* const kRgb[] = {"R", "G", "B", "A"};
    static const char* const kGray[] = {"Y", "A"};
    const char* const* names = rgb ? kRgb : desc->nb_components <= 2 ? kGray : kYuv;
    std::string text;
    for (int c = 0; c < (palette ? 1 : desc->nb_components); ++c) {
        // Chroma planes of YUV formats are subsampled.
        const bool chroma = !rgb && !palette && desc->nb_components >= 3 && (c == 1 || c == 2);
        const int cx = chroma ? px >> desc->log2_chroma_w : px;
        const int cy = chroma ? py >> desc->log2_chroma_h : py;
        std::uint32_t value = 0;
        av_read_image_line2(&value, const_cast<const std::uint8_t**>(f->data), f->linesize, desc, cx, cy, c, 1, 0, 4);
        if (!text.empty()) text += ' ';
        text += std::string(palette ? "index" : names[c]) + ' ' + std::to_string(value);
    }
    return text;
}

FrameKind FrameReader::KindAt(std::int64_t position) const {
    if (packets_.empty() || position < 0) return FrameKind::Unknown;
    const PacketIndex packet = PacketFor(position);
    if (packet >= PacketCount() || packets_[packet].slot != position || (pictureCount_ > 0 && packet >= pictureCount_))
        return FrameKind::Repeat;
    if (kinds_[packet]) return static_cast<FrameKind>(kinds_[packet]);
    // An AVI chunk's picture is its own, so its index entry tells before decoding.
    return table_->Rule() == PositionRule::Chunks && packets_[packet].key ? FrameKind::Key : FrameKind::Unknown;
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
    // The padding reads as zeros; conversion leaves it so.
    const int rowBytes = converter_->RowBytes(), padding = rowBytes - width_ * 3;
    for (int y = 0; padding > 0 && y < height_; ++y)
        std::memset(buffer.get() + sizeof header_ + static_cast<std::size_t>(y) * rowBytes + width_ * 3, 0, padding);
    // Buffers that bitmaps keep for good (cached frames) leave the pool only
    // when it is full; the ones on screen come back to it.
    if (pool_.size() >= kPoolBuffers) pool_.erase(pool_.begin());
    pool_.push_back(buffer);
    return buffer;
}

std::shared_ptr<const std::uint8_t[]> FrameReader::Get(std::int64_t position) {
    ++stats_.requests;
    const PacketIndex packet = ShownPacket(position);
    if (packet >= PacketCount()) return nullptr;
    if (packet == convertedPacket_) return current_;
    std::shared_ptr<const std::uint8_t[]> bitmap;
    if (ahead_ && !store_.Has(packet)) {
        // A step waits for a picture the worker is due to deliver; a jump
        // takes only one it holds, since the worker's job was planned for
        // other requests (or for a pause that has not come).
        const bool step = IsStep(lastRequest_, packet);
        bool due = false;
        if (libav::FramePtr ready = ahead_->Take(packet, step ? OwnDecodeTime(packet) : std::chrono::nanoseconds{}, due)) {
            ++stats_.aheadServed;
            Note(packet, ready.get());
            bitmap = Convert(ready.get(), packet);
        } else if (due || !step) {
            // The worker is late, or busy with pictures a jump has left
            // behind: it leaves the cores to this reader's own run.
            ahead_->Post({});
        }
    }
    const auto start = std::chrono::steady_clock::now();
    idle_ = std::chrono::duration<double>(start - lastReturn_).count();
    const double sinceLast = std::chrono::duration<double>(start - lastStart_).count();
    lastStart_ = start;
    if (lastRequest_ >= 0 && packet != lastRequest_ && std::abs(packet - lastRequest_) <= kStepReach)
        stepSeconds_ = Smoothed(stepSeconds_, sinceLast);
    if (!bitmap) {
        const std::uint64_t before = stats_.picturesOut;
        AVFrame* picture = Decoded(packet);
        if (const std::uint64_t pictures = stats_.picturesOut - before) {
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double each = seconds / static_cast<double>(pictures);
            secondsPerPicture_ = Smoothed(secondsPerPicture_, each);
        }
        bitmap = picture ? Convert(picture, packet) : nullptr;
    }
    if (settings_.decodeAhead) PlanAhead(packet);
    lastReturn_ = std::chrono::steady_clock::now();
    return bitmap;
}

const AVFrame* FrameReader::Picture(PacketIndex packet) {
    if (packet < 0 || packet >= PacketCount() || packets_[packet].discard) return nullptr;
    if (pictureCount_ > 0 && packet >= pictureCount_) return nullptr;
    return Decoded(packet);
}

bool FrameReader::CanContinueTo(PacketIndex packet, PacketIndex key) const {
    return run_.mode == Mode::Aligned && run_.used && !run_.ended && run_.nextOut <= packet &&
           run_.firstValid <= packet && key <= run_.nextFeed;
}

AVFrame* FrameReader::Decoded(PacketIndex packet) {
    if (AVFrame* kept = store_.Find(packet)) return kept;
    overDamage_ = false;
    const PacketIndex key = StartKeyFor(packet);
    bool canContinue = CanContinueTo(packet, key);
    // A short run that goes on (playing after a jump) moves to every thread,
    // and a threaded one to one thread before it reaches known damage.
    if (canContinue && codec_ == single_.get() && IsLongRun(run_.key, packet) && !DamageNear(key, packet))
        canContinue = false;
    if (canContinue && codec_ == threaded_.get() && single_ && DamageNear(run_.nextFeed, packet)) canContinue = false;
    // A damaged picture may have come out as none, or as two: after it the
    // count that places pictures no longer holds. The next GOP is placed anew.
    if (canContinue && run_.damaged && key > run_.key) canContinue = false;
    if (!canContinue) StartRun(key, packet);
    // Playing straight on keeps only a short tail of pictures, so the decoder
    // recycles its picture buffers instead of touching fresh memory for every
    // frame; a run rolled forward to a far target keeps all it decoded, which
    // is what stepping back needs.
    keepLimit_ = canContinue && packet - run_.nextOut <= 1 ? kPlayingKeepBytes : settings_.keepBytes;
    handOver_ = !canContinue;
    return DecodeUntil(packet);
}

// ---- Decoding ahead ----------------------------------------------------------

// How long this reader would take to decode `packet` itself, as measured so
// far: the longest a request waits for the worker.
std::chrono::nanoseconds FrameReader::OwnDecodeTime(PacketIndex packet) const {
    const PacketIndex key = StartKeyFor(packet);
    const PacketIndex from = CanContinueTo(packet, key) ? run_.nextOut : key;
    const double seconds = secondsPerPicture_ * static_cast<double>(std::max(1, packet - from + 1));
    return std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
}

// What one picture of this stream takes in the worker's budget: as much as the
// last one decoded, an estimate before the first; 0 when unknown.
std::size_t FrameReader::AheadPictureBytes() const {
    if (lastPictureBytes_ > 0) return lastPictureBytes_;
    const auto format = lastFormat_.format >= 0 ? static_cast<AVPixelFormat>(lastFormat_.format) : AV_PIX_FMT_YUV420P;
    const int bytes = av_image_get_buffer_size(format, width_, height_, 64);
    if (bytes <= 0) return 0;
    return static_cast<std::size_t>(bytes) + 64 + AV_INPUT_BUFFER_PADDING_SIZE + sizeof(AVFrame);
}

// Pictures of this stream's size the worker may hold.
PacketIndex FrameReader::AheadCapacity() const {
    const std::size_t each = AheadPictureBytes();
    if (each == 0) return 0;
    return static_cast<PacketIndex>(std::min<std::size_t>(DecodeAhead::BudgetBytes() / each, PacketCount()));
}

// How far below `packet` the worker prepares pictures while stepping back:
// the rest of the GOP the steps are in and the whole GOP before it, so that
// the next run can begin as the steps cross into that one, and no farther
// (pictures beyond it would hold memory long before they are needed); at
// least kBackMinReach over short GOPs, and never more than `capacity`.
PacketIndex FrameReader::BackReach(PacketIndex packet, PacketIndex capacity) const {
    const PacketIndex gopBefore = KeyAtOrBefore(std::max(0, KeyAtOrBefore(packet) - 1));
    return std::min(capacity, std::max(packet - gopBefore, kBackMinReach));
}

// Requests from `last` to `packet` are steps: a few packets apart, or
// several steps taken at once (a held key's presses the window shows
// together, frames dropped while playing) that land on a prepared picture.
bool FrameReader::IsStep(PacketIndex last, PacketIndex packet) const {
    return last >= 0 && (std::abs(packet - last) <= kStepReach || (ahead_ && ahead_->Holds(packet)));
}

// Whether a key held from `packet` would cross into the GOP before within its
// first few presses (kNearGopStartPresses), or before a worker started by its
// first press could prepare that GOP.
bool FrameReader::NearGopStart(PacketIndex packet) const {
    const PacketIndex key = KeyAtOrBefore(packet);
    if (key <= 0) return false;
    const PacketIndex presses = packet - key + 1;
    return presses <= kNearGopStartPresses || static_cast<double>(presses) / kHeldKeyRate < RunSeconds(key - 1);
}

// Whether the runs that prepare the pictures below `packet` (the one below
// it, the last of the GOP before) take long enough to be worth a worker
// (DecodeAhead::ShortestRunSeconds).
bool FrameReader::BackRunsPay(PacketIndex packet) const {
    const PacketIndex key = KeyAtOrBefore(packet);
    const double below = packet > 0 ? RunSeconds(packet - 1) : 0;
    const double gopBefore = key > 0 ? RunSeconds(key - 1) : 0;
    return std::max(below, gopBefore) >= DecodeAhead::ShortestRunSeconds();
}

// Seconds a run takes to decode `high` from where it must start, at the
// slower of the measured paces of this reader and its worker.
double FrameReader::RunSeconds(PacketIndex high) const {
    const double perPicture = std::max(ahead_ ? ahead_->SecondsPerPicture() : 0.0, secondsPerPicture_);
    return perPicture * static_cast<double>(high - StartKeyFor(high) + 1);
}

// Gives the worker its next job after a request for `packet`. Stepping back,
// it prepares the pictures below `packet` (PlanBack); after a jump near a
// GOP's start, the same once the requests pause. Playing on, the next few
// frames, when the requests leave this thread time between them (a clip
// playing at its rate) or the worker has a core this reader's decoder cannot
// use (SpareCoreAhead); fetched as fast as it decodes otherwise, a worker
// would only compete with it for the cores. Any other jump leaves it idle and
// forgets what it held.
void FrameReader::PlanAhead(PacketIndex packet) {
    const PacketIndex last = std::exchange(lastRequest_, packet);
    if (last < 0 || packet == last) return;
    const int direction = !IsStep(last, packet) ? 0 : packet < last ? -1 : 1;
    const bool turned = direction != direction_;
    direction_ = direction;
    const bool aheadPays = idle_ > secondsPerPicture_ || SpareCoreAhead(packet);
    const bool prepare = direction <= 0 ? (direction < 0 || NearGopStart(packet)) && BackRunsPay(packet)
                                        : aheadPays || (ahead_ && ahead_->Holds(packet + 1));
    if (!prepare) {
        if (ahead_) {
            ahead_->Post({});
            // A jump keeps what its run handed over (HandOver).
            ahead_->Retain(direction == 0 ? HandOverFloor(packet) : packet, packet);
        }
        return;
    }
    if (!Ahead()) return;
    const PacketIndex capacity = AheadCapacity();
    if (capacity < 2) return;
    if (direction > 0) {
        PlanOn(packet, capacity, turned);
        return;
    }
    const auto pause = direction == 0 ? std::chrono::nanoseconds(kPauseAfterJump) : std::chrono::nanoseconds{};
    PlanBack(packet, capacity, turned || direction == 0, pause);
}

// The worker, started when first needed; null when none can start.
DecodeAhead* FrameReader::Ahead() {
    if (!ahead_ && settings_.decodeAhead) {
        ahead_ = DecodeAhead::Start(*table_, codecParameters_.get(), timeBase_, width_, height_, settings_.threads);
        if (!ahead_) settings_.decodeAhead = false;
    }
    return ahead_.get();
}

// A picture a run to a far target passes and the store will not keep goes
// to the worker, as one it prepared below the target: once the steps back
// from the target have used up the store's pictures, they would otherwise
// wait for the worker to decode the GOP again from its key, the nearest
// pictures last. The store's pictures do not last that long where the GOP
// is much longer than they are: at 2160p the store holds 85 pictures of a
// 250-frame GOP (2.8 s of a held key), and the worker takes 4 s to decode the
// rest of an HEVC GOP again. Only a run started for the request hands over:
// one going on past a few frames (playing that drops frames) is not followed
// by steps back.
void FrameReader::HandOver(PacketIndex packet, const AVFrame* frame) {
    if (!handOver_ || !settings_.decodeAhead || packet < HandOverFloor(target_))
        return;
    if (DecodeAhead* ahead = Ahead()) ahead->Give(packet, frame);
}

// The lowest packet whose picture a run to `target` hands over.
PacketIndex FrameReader::HandOverFloor(PacketIndex target) const { return target - BackReach(target, AheadCapacity()); }

// Whether a request for `packet` would need no decoding: no picture of its
// own, kept by this reader, or held by its worker.
bool FrameReader::Prepared(PacketIndex packet) const {
    return packets_[packet].discard || store_.Has(packet) || ahead_->Holds(packet);
}

// Stepping back: the pictures below `packet` as far as BackReach goes, the
// nearest GOP first, once fewer than half of them are ready (or at once when
// `fresh`: the steps have just turned this way, or a jump came).
void FrameReader::PlanBack(PacketIndex packet, PacketIndex capacity, bool fresh, std::chrono::nanoseconds pause) {
    const PacketIndex reach = BackReach(packet, capacity);
    const PacketIndex low = std::max(0, packet - reach);
    ahead_->Retain(KeyAtOrBefore(low), packet + kStepReach);  // a run files from its key
    PacketIndex top = packet - 1;
    while (top >= low && Prepared(top)) --top;
    if (top < low || (!fresh && ahead_->Busy())) return;
    // Refilled once fewer than half the reach is ready, or sooner where the
    // steps would otherwise outrun the worker (RefillDue).
    const PacketIndex readyRun = packet - 1 - top;
    if (!fresh && readyRun >= reach / 2 && !RefillDue(packet, top)) return;
    const double runSeconds = RunSeconds(top);
    // It takes in the GOPs down to as low as will stay: the room free now and
    // what the steps free while it runs (pictures above the steps are
    // forgotten). Each run files from its key, as it decodes from there
    // anyway: what the room freed meanwhile allows stays, the highest first,
    // so that a GOP whose run starts while the budget is full is not decoded
    // again for every part of it.
    const auto held = static_cast<PacketIndex>(ahead_->Bytes() / AheadPictureBytes());
    const double freed = stepSeconds_ > 0 ? runSeconds / stepSeconds_ : capacity;
    const PacketIndex room =
        std::max<PacketIndex>(1, capacity - held + static_cast<PacketIndex>(std::min<double>(freed, capacity)));
    const PacketIndex from = std::max(low, top - room + 1);
    std::vector<DecodeAhead::Chunk> chunks;
    for (PacketIndex high = top; high >= from;) {
        const PacketIndex key = KeyAtOrBefore(high);
        chunks.push_back({key, high});
        high = key - 1;
    }
    ahead_->Post(std::move(chunks), DecodeAhead::Full::KeepHighest, pause);
}

// Whether steps at their measured pace would reach `top`, or cross into the
// GOP below it, sooner than kRunMargin times the runs that prepare them take
// (a run files its last picture after decoding from its key). Then a long GOP
// of big pictures starts while the worker still holds most of the GOP being
// stepped through: it keeps the highest pictures the room freed meanwhile
// allows, and a shorter run fills in the rest.
bool FrameReader::RefillDue(PacketIndex packet, PacketIndex top) const {
    if (stepSeconds_ <= 0) return false;
    const auto stepsSeconds = [&](PacketIndex to) { return stepSeconds_ * static_cast<double>(packet - to); };
    const double topRun = RunSeconds(top);
    if (stepsSeconds(top) <= kRunMargin * topRun) return true;
    const PacketIndex key = KeyAtOrBefore(top);
    return key > 0 && stepsSeconds(key - 1) <= kRunMargin * (topRun + RunSeconds(key - 1));
}

// Playing on: the next few frames, once fewer than half of them are ready.
void FrameReader::PlanOn(PacketIndex packet, PacketIndex capacity, bool turned) {
    const PacketIndex reach = std::min(capacity, kPlayAhead);
    const PacketIndex high = std::min(PacketCount() - 1, packet + reach);
    ahead_->Retain(packet - kStepReach, high);
    PacketIndex next = packet + 1;
    while (next <= high && Prepared(next)) ++next;
    if (next > high || next - packet - 1 >= reach / 2 || (!turned && ahead_->Busy())) return;
    ahead_->Post({{next, high}});
}

// Whether a worker decoding the frames after `packet` leaves this reader's
// work as it is: it may use every core, its decoder runs on one thread
// whatever it is given (a codec without threads), and the next packet is a
// key, so the worker's run starts there instead of decoding again what this
// reader has. Then reading straight on as fast as it goes, the worker decodes
// while this thread converts. Not for pictures under kSpareCoreFromPixels:
// they decode in less time than handing them over takes.
bool FrameReader::SpareCoreAhead(PacketIndex packet) const {
    static const bool manyCores = std::thread::hardware_concurrency() > 1;
    return std::int64_t{width_} * height_ >= kSpareCoreFromPixels && settings_.threads != 1 && manyCores &&
           threaded_->active_thread_type == 0 && packet + 1 < PacketCount() && packets_[packet + 1].key;
}

// Long enough for frame threads to pay: a few pictures per thread.
bool FrameReader::IsLongRun(PacketIndex key, PacketIndex target) const {
    return target - key >= 2 * threaded_->thread_count;
}

// Whether a run decoding from `from` to `target` would feed a packet near
// which a decoder met damage before. It feeds past the target: a picture per
// thread and the codec's reorder delay.
bool FrameReader::DamageNear(PacketIndex from, PacketIndex target) const {
    const auto it = damaged_.lower_bound(from);
    return it != damaged_.end() && *it <= target + threaded_->thread_count + kMaxReorderDelay;
}

// Whether the decoder has reported damage since this run began, so that the
// picture it just delivered and those after it must come from another run.
// It may have met the damage in any packet in its threads now; those are
// noted. The pictures delivered before were decoded before the damage and
// come out the same from any run. A decoder conceals damage from what it
// decoded before (and frame threads from what each thread did), so only a
// run on one thread of a new decoder from the key StartKeyFor gives goes on:
// that is what every reader shows.
bool FrameReader::MetDamage() {
    const std::uint64_t errors = errors_.Count();
    if (errors == run_.errors) return false;
    run_.errors = errors;
    // Slice threads too: a damaged slice that runs over into the next one
    // writes where another thread writes, so the picture differs run to run.
    const bool threads = codec_->active_thread_type != 0 && codec_->thread_count > 1;
    const bool frameThreads = threads && (codec_->active_thread_type & FF_THREAD_FRAME);
    const PacketIndex from = std::max(run_.key, run_.nextFeed - (frameThreads ? codec_->thread_count : 1) - 1);
    for (PacketIndex p = from; p < run_.nextFeed; ++p) damaged_.insert(p);
    if (!threads && run_.fresh && run_.key == StartKeyFor(target_)) {
        run_.damaged = true;
        return false;
    }
    overDamage_ = true;
    return true;
}

void FrameReader::StartRun(PacketIndex key, PacketIndex target) {
    // A reader's first request is taken to start playing.
    const bool frameThreads = threaded_->active_thread_type & FF_THREAD_FRAME;
    const bool shortRun = single_ && frameThreads && stats_.requests > 1 && !IsLongRun(key, target);
    const bool overDamage = overDamage_ || DamageNear(key, target);
    const bool oneThread = single_ && (shortRun || overDamage);
    libav::CodecPtr& decoder = oneThread ? single_ : threaded_;
    bool& dirty = oneThread ? singleDirty_ : threadedDirty_;
    bool fresh = false;
    if (overDamage) {
        const int threads = oneThread ? 1 : settings_.threads;
        if (libav::CodecPtr opened = OpenDecoder(codecParameters_.get(), timeBase_, threads, 0, &errors_))
            decoder = std::move(opened), dirty = false, fresh = true;
    }
    codec_ = decoder.get();
    if (dirty) avcodec_flush_buffers(codec_);
    dirty = false;
    ++stats_.seeks;
    run_ = Run{};
    run_.fresh = fresh;
    run_.errors = errors_.Count();  // after the flush: the errors of runs before are in
    run_.key = key;
    run_.nextFeed = key;
    run_.palette = table_->StreamPalette();
    run_.sendPalette = !run_.palette.empty();
    run_.sendNotes = key > 0 && !encoderNotes_.empty();
    // From the first packet the numbering holds by definition.
    run_.mode = key == 0 ? Mode::Aligned : Mode::Aligning;
    run_.nextOut = NextShown(0);
    run_.firstValid = key == 0 ? 0 : std::numeric_limits<PacketIndex>::max();
}

AVFrame* FrameReader::DecodeUntil(PacketIndex target) {
    target_ = target;
    targetFrame_.reset();
    falseKeys_ = 0;
    for (int restarts = 0;;) {
        if (targetFrame_) return targetFrame_.get();
        if (interrupt_ && interrupt_->load(std::memory_order_relaxed)) return nullptr;
        if (run_.mode == Mode::Aligned && run_.firstValid > target) {
            // This run cannot show the target: start one key earlier.
            if (run_.key == 0 || ++restarts > 64) return nullptr;
            StartRun(StartKeyFor(target), target);
            continue;
        }
        const libav::Step step = libav::Translate(avcodec_receive_frame(codec_, frame_.get()));
        if (step == libav::Step::Ok) {
            ++stats_.picturesOut;
            if (MetDamage()) {
                // The pictures delivered before came out as any run makes them.
                av_frame_unref(frame_.get());
                StartRun(StartKeyFor(target), target);
                if (++restarts > 64) return nullptr;
                continue;
            }
            OnPicture(frame_.get());
            av_frame_unref(frame_.get());
        } else if (step == libav::Step::NeedInput) {
            if (!Feed()) return nullptr;
        } else {
            // The decoder has delivered everything it will: a position past
            // its last picture shows that picture.
            run_.ended = true;
            const bool aligning = run_.mode == Mode::Aligning;
            const bool noKeyPicture = aligning && run_.after.empty();
            // The index calls it a key packet, the decoder does not: nor any
            // key packet after it that gave no picture.
            if (noKeyPicture) GiveUpKeysBefore(std::min<std::int64_t>(run_.minBefore, run_.nextFeed));
            const bool lost = aligning ? LostPictures() : run_.nextOut < PacketCount();
            if (run_.key > 0 && (noKeyPicture || (lost && shortTail_ == kNoPacket))) {
                // A run from a later key delivered fewer pictures than it was
                // sent. A decoder drops leading pictures whose references lie
                // before the key, but near the end it may drop the pictures
                // after the key picture as well, and which it dropped no
                // picture tells: a run from an earlier key decodes them.
                // The pictures this run kept were numbered on the count it
                // has now found short, so they may sit at wrong packets.
                if (!noKeyPicture) shortTail_ = run_.key;
                store_.ForgetFrom(run_.key);
                if (sink_.misplaced) sink_.misplaced(run_.key);
                if (ahead_) ahead_->ForgetFrom(run_.key);
                StartRun(noKeyPicture ? StartBeforeFalseKey() : StartKeyFor(target), target);
                if (++restarts > 64) return nullptr;
                continue;
            }
            if (run_.mode == Mode::Aligned && run_.firstValid <= target) pictureCount_ = run_.nextOut;
            if (run_.mode == Mode::Aligning) {
                CommitAtEnd();
                if (targetFrame_) return targetFrame_.get();
            }
            if (run_.firstValid > target) continue;
            return run_.lastOut >= 0 && run_.lastOut < target && run_.lastFrame ? run_.lastFrame.get() : nullptr;
        }
    }
}

bool FrameReader::Feed() {
    run_.used = true;
    (codec_ == single_.get() ? singleDirty_ : threadedDirty_) = true;
    while (run_.nextFeed < PacketCount()) {
        const PacketIndex index = run_.nextFeed++;
        if (!ReadPacket(index, packet_.get())) continue;
        const int sent = avcodec_send_packet(codec_, packet_.get());
        av_packet_unref(packet_.get());
        ++stats_.packetsSent;
        // A packet the decoder refuses yields no picture; the stream goes on.
        if (libav::Translate(sent) != libav::Step::Failed) {
            if (!packets_[index].discard) ++run_.sent;
            return true;
        }
        errors_.AddRefusal(codec_);
    }
    if (run_.flushed) return false;
    run_.flushed = true;
    // The end is sent even where this reports an error: avcodec_send_packet
    // also reports the decoding of packets sent before (a run from a packet
    // the index calls a key but that is none), and the decoder drains anyway.
    avcodec_send_packet(codec_, nullptr);
    return true;
}

// The packet carries its index as timestamps, so each picture tells which
// packet it came from.
bool FrameReader::ReadPacket(PacketIndex index, AVPacket* packet) {
    if (!table_->Read(index, packet)) return false;
    TagTablePacket(packet, index, packets_[index]);
    // Colours that change in the stream change before their packet, and a
    // run from a later key starts with those in effect there.
    const std::vector<PaletteChange>& changes = table_->PaletteChanges();
    for (; run_.nextChange < changes.size() && changes[run_.nextChange].at <= index; ++run_.nextChange) {
        const PaletteChange& change = changes[run_.nextChange];
        run_.palette.resize(AVPALETTE_SIZE);
        std::memcpy(run_.palette.data() + 4 * change.first, change.colours.data(), 4 * change.colours.size());
        run_.sendPalette = true;
    }
    if (run_.sendPalette && !av_packet_get_side_data(packet, AV_PKT_DATA_PALETTE, nullptr)) {
        if (std::uint8_t* side = av_packet_new_side_data(packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE))
            std::memcpy(side, run_.palette.data(), AVPALETTE_SIZE);
        run_.sendPalette = false;
    }
    if (run_.sendNotes) {
        const int size = packet->size;
        const int notes = static_cast<int>(encoderNotes_.size());
        if (av_grow_packet(packet, notes) == 0) {  // leaves the data writable
            std::memmove(packet->data + notes, packet->data, static_cast<std::size_t>(size));
            std::memcpy(packet->data, encoderNotes_.data(), encoderNotes_.size());
        }
        run_.sendNotes = false;
    }
    return true;
}

void FrameReader::OnPicture(AVFrame* frame) {
    if (run_.mode == Mode::Aligning) {
        AlignStep(frame);
        return;
    }
    PlaceNext(frame);
}

// Places the run's next picture (an aligned run's) at the next shown packet.
void FrameReader::PlaceNext(const AVFrame* frame) {
    const std::int64_t source = SourceOf(frame);
    const PacketIndex packet = AfterDroppedPictures(run_.nextOut, source, frame);
    if (packet >= PacketCount()) return;  // more pictures than packets
    run_.nextOut = NextShown(packet + 1);
    if (source > 0 && source < PacketCount() && packets_[source].key && packet >= source)
        leading_[static_cast<PacketIndex>(source)] = packet - static_cast<PacketIndex>(source);
    KeepAt(packet, frame);
}

// A decoder may deliver no picture for a packet it sent (damage it refuses, a
// change of size), and the count then places every picture after it one
// packet early. A key picture tells where it belongs, whichever run decodes
// it: at the shown packet after its own, one on for each picture delivered
// before it that was decoded after it (its leading pictures), as a run
// started at that key places it. Where the count falls short of that, the
// packets between show the picture before them and the count goes on from
// the key picture; so every run places the pictures after a drop alike.
PacketIndex FrameReader::AfterDroppedPictures(PacketIndex packet, std::int64_t source, const AVFrame* frame) {
    if (!IsIntra(frame) || source <= run_.key || source >= PacketCount() || !packets_[source].key) return packet;
    const auto leading = std::count_if(run_.sources.begin(), run_.sources.end(), [&](std::int64_t s) { return s > source; });
    const PacketIndex place = ShownAfter(static_cast<PacketIndex>(source), leading);
    if (place <= packet) return packet;
    // KeepAt replaces the run's last picture: the repeats hold one of their own.
    const libav::FramePtr before(av_frame_clone(run_.lastFrame ? run_.lastFrame.get() : frame));
    for (; packet < place && before; packet = NextShown(packet + 1)) KeepAt(packet, before.get());
    return packet;
}

// What the picture of `packet` tells about it.
void FrameReader::Note(PacketIndex packet, const AVFrame* frame) {
    kinds_[packet] = static_cast<char>(KindOf(frame));
    fields_[packet] = FieldFlagsOf(frame);
    lastPictureBytes_ = CopiedBytes(frame);
    lastFormat_ = {frame->format, codec_->profile, frame->colorspace, frame->color_range, frame->color_primaries,
                   frame->color_trc, frame->sample_aspect_ratio.num, frame->sample_aspect_ratio.den};
}

void FrameReader::KeepAt(PacketIndex packet, const AVFrame* frame) {
    run_.lastOut = packet;
    if (run_.sources.size() == kAlignLongestWindow) run_.sources.pop_front();
    run_.sources.push_back(SourceOf(frame));
    if (packet < run_.firstValid) return;
    Note(packet, frame);
    if (sink_.placed) sink_.placed(packet, frame);
    run_.lastFrame.reset(av_frame_clone(frame));
    if (packet == target_) targetFrame_.reset(av_frame_clone(frame));
    // A key picture asked for at its own packet costs one decode to get again,
    // less than keeping it (every request on an intra-only stream is such a
    // one). A key picture that a run passes on its way to a later target is
    // kept: stepping back asks for it next, and getting it again would start
    // a run of its own.
    if (IsIntra(frame) && packet == target_ && packets_[packet].key && SourceOf(frame) == packet) return;
    // A run rolled forward to a far target keeps what the store can hold of
    // the pictures up to it: earlier ones would be evicted before the target
    // is reached, after costing a copy each.
    if (keepLimit_ > 0 && packet < target_ &&
        static_cast<std::size_t>(target_ - packet + 1) * CopiedBytes(frame) > keepLimit_) {
        HandOver(packet, frame);
        return;
    }
    // Kept pictures lie in picture memory: most decoders write them there
    // and keeping one takes a reference; the rest are copied out of the
    // decoder's own pool, which it then reuses. While playing (a limit of
    // nothing) the one picture kept just shares the decoder's.
    store_.Keep(packet, keepLimit_ ? CopyToPictureMemory(frame) : libav::FramePtr(av_frame_clone(frame)), keepLimit_);
}

// A run that started at key packet k > 0 learns where its pictures belong:
// the key picture (the one carrying source k) is shown at the L-th shown
// packet after k, where L counts the pictures shown before it that were
// decoded after it. Those may have been dropped by the decoder (their
// references lie before k), so L is read off the smallest source among the
// pictures after the key picture: it is the (L+1)-th shown packet after k.
// Discard packets between (an edit list's cut) give no picture and no place.
void FrameReader::AlignStep(AVFrame* frame) {
    Run& r = run_;
    const std::int64_t source = SourceOf(frame);
    if (source == AV_NOPTS_VALUE) {
        // Without sources only the count can place pictures.
        r.after.push_back({libav::FramePtr(av_frame_clone(frame)), r.key});
        r.minAfter = ShownAfter(r.key, r.seenBefore + 1);
        CommitAlignment();
        return;
    }
    if (r.after.empty()) {
        if (source == r.key && IsPredicted(frame)) {
            GiveUpKeysBefore(r.key + 1);  // the index calls it a key packet, the decoder does not
            StartRun(StartBeforeFalseKey(), target_);
            return;
        }
        if (source != r.key) {
            r.minBefore = std::min(r.minBefore, source);
            if (++r.seenBefore > static_cast<int>(kAlignWindow)) {
                GiveUpKeysBefore(r.minBefore);
                StartRun(StartBeforeFalseKey(), target_);
            }
            return;
        }
        r.after.push_back({libav::FramePtr(av_frame_clone(frame)), source});
        r.minAfter = std::numeric_limits<std::int64_t>::max();
        // Without reordering nothing is shown before a key picture.
        if (!reorders_) {
            CommitLead(ShownAfter(r.key, r.seenBefore) - r.key);
            return;
        }
        // A key this reader has placed before needs no second look.
        if (auto known = leading_.find(r.key); known != leading_.end() && known->second >= r.seenBefore)
            CommitLead(known->second);
        return;
    }
    r.after.push_back({libav::FramePtr(av_frame_clone(frame)), source});
    r.minAfter = std::min(r.minAfter, source);
    r.referenceAfter = r.referenceAfter || frame->pict_type != AV_PICTURE_TYPE_B;
    const std::int64_t settled = ShownAfter(r.key, r.seenBefore + 1);
    const std::size_t window = r.referenceAfter ? kAlignWindow : kAlignLongestWindow;
    if (r.minAfter <= settled || r.after.size() > window) CommitAlignment();
}

void FrameReader::CommitAlignment() {
    const Run& r = run_;
    PacketIndex at = ShownAfter(r.key, r.seenBefore);
    if (r.after.size() > 1 && r.minAfter != std::numeric_limits<std::int64_t>::max())
        at = std::max(at, LastShownBefore(static_cast<PacketIndex>(std::min<std::int64_t>(r.minAfter, PacketCount())), r.key));
    CommitLead(std::clamp<std::int64_t>(at - r.key, 0, PacketCount()));
}

// At the decoder's end every picture it will deliver is out: the pictures it
// dropped are the packets sent that gave none, taken to be leading pictures.
void FrameReader::CommitAtEnd() {
    const Run& r = run_;
    const std::int64_t delivered = r.seenBefore + static_cast<std::int64_t>(r.after.size());
    const PacketIndex at = ShownAfter(r.key, r.seenBefore + std::max<std::int64_t>(0, r.sent - delivered));
    CommitLead(std::clamp<std::int64_t>(at - r.key, 0, PacketCount()));
}

bool FrameReader::LostPictures() const {
    return run_.after.empty() || run_.sent > run_.seenBefore + static_cast<std::int64_t>(run_.after.size());
}

void FrameReader::CommitLead(std::int64_t lead) {
    Run& r = run_;
    leading_[r.key] = static_cast<int>(lead);
    r.mode = Mode::Aligned;
    r.firstValid = r.key + static_cast<PacketIndex>(lead);
    r.nextOut = NextShown(r.firstValid);
    std::vector<Pending> pictures = std::move(r.after);
    r.after.clear();
    r.seenBefore = 0;
    for (Pending& p : pictures) {
        if (r.nextOut >= PacketCount()) break;
        PlaceNext(p.frame.get());
    }
}

// Where to start after a run from a false key: one key earlier at first,
// then twice as far back each time, so that a stretch of false keys costs a
// few runs, not one each.
PacketIndex FrameReader::StartBeforeFalseKey() {
    const PacketIndex back = run_.key - (PacketIndex{1} << std::min(falseKeys_++, 30));
    return std::min(StartKeyFor(target_), KeyAtOrBefore(std::max<PacketIndex>(back, 0)));
}

// The run's key packet is no key (it gave no picture, or a predicted one),
// nor is any key packet after it before `end`, where the decoder took up the
// stream (the smallest packet a picture came from). An AVI index may flag
// every chunk.
void FrameReader::GiveUpKeysBefore(std::int64_t end) {
    for (PacketIndex p = std::max(run_.key, 1); p < std::min<std::int64_t>(end, PacketCount()); ++p) packets_[p].key = false;
}

// ---- Conversion ------------------------------------------------------------

std::shared_ptr<const std::uint8_t[]> FrameReader::Convert(const AVFrame* frame, PacketIndex packet) {
    std::shared_ptr<std::uint8_t[]> buffer = FreeBuffer();
    if (!buffer || !converter_->Convert(frame, buffer.get() + sizeof(BITMAPINFOHEADER))) return nullptr;
    ++stats_.conversions;
    convertedPacket_ = packet;
    if (!convertedSource_) convertedSource_.reset(av_frame_alloc());
    if (convertedSource_) {
        av_frame_unref(convertedSource_.get());
        if (av_frame_ref(convertedSource_.get(), frame) < 0) av_frame_unref(convertedSource_.get());
    }
    current_ = std::move(buffer);
    return current_;
}

// ---- Pictures as decoded ----------------------------------------------------

libav::FramePtr FrameReader::ConvertedPicture(std::int64_t position) const {
    if (packets_.empty() || position < 0 || !convertedSource_ || !convertedSource_->data[0]) return nullptr;
    const PacketIndex packet = ShownPacket(position);
    return packet == convertedPacket_ ? libav::FramePtr(av_frame_clone(convertedSource_.get())) : nullptr;
}

libav::FramePtr FrameReader::SourcePicture(std::int64_t position) {
    const PacketIndex packet = ShownPacket(position);
    if (packet >= PacketCount()) return nullptr;
    const bool converted = packet == convertedPacket_ && convertedSource_ && convertedSource_->data[0];
    const AVFrame* picture = converted ? convertedSource_.get() : Decoded(packet);
    return picture ? libav::FramePtr(av_frame_clone(picture)) : nullptr;
}
