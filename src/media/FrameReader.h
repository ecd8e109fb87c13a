// The decoding engine behind a frame reader handle of the AVI file service.
//
// Positions are a frame table's (FrameTable.h): decoding its packets in order
// from the first, the j-th picture the decoder delivers belongs to the j-th
// packet that is not a discard packet, and a position shows the picture of the
// last packet whose slot is at or before it. A run that starts at a later key
// packet is aligned to that numbering by the source packet each picture
// carries (its pts), so pictures right after a key packet of an open GOP come
// out the same as when stepping from the start.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "media/Decoder.h"
#include "media/FrameTable.h"
#include "media/Libav.h"
#include "media/MediaTypes.h"
#include "media/MemoryBudgets.h"
#include "media/PackedBitmap.h"
#include "media/PictureConverter.h"
#include "media/PictureStore.h"
#include "media/PositionFacts.h"

struct ReaderSettings {
    int threads = 0;                     // 0: one per core, at most 8
    std::size_t keepBytes = ReaderKeepBytes();  // budget of the picture store
    // A worker thread decodes the pictures that stepping back or playing on
    // will ask for next (DecodeAhead.h).
    bool decodeAhead = false;
};

class DecodeAhead;

class FrameReader {
public:
    static constexpr PacketIndex kNoPacket = std::numeric_limits<PacketIndex>::max();

    static std::unique_ptr<FrameReader> Open(std::shared_ptr<FrameTable> table, const AVCodecParameters* codec,
                                             AVRational timeBase, int width, int height,
                                             const ReaderSettings& settings);
    ~FrameReader();
    // The packed bitmap of `position` (0-based from the stream's first
    // frame), or null. The reader never writes into a buffer it has handed
    // out while anyone else still holds it.
    std::shared_ptr<const std::uint8_t[]> Get(std::int64_t position);
    FrameKind KindAt(std::int64_t position) const;
    // What the decoder said of the fields of the picture shown at `position`;
    // not known until it has been decoded.
    PictureFields FieldsAt(std::int64_t position) const;
    const DecodedFormat& LastFormat() const { return lastFormat_; }
    // The decoded picture's own values at pixel (x, y) of `position` (top-down,
    // in the stream's frame size), at its own bit depth, before conversion:
    // "Y 940 Cb 512 Cr 512", "R 255 G 0 B 12", "index 7"; empty unless
    // `position` shows the picture converted last (the reader keeps a
    // reference to that one only, never a copy).
    std::string SourceValuesAt(std::int64_t position, int x, int y) const;
    // The decoded picture `position` shows, in its own format before any
    // conversion (a new reference to it), or null. Decodes as Get does, but
    // converts nothing and leaves the converted picture as it was.
    libav::FramePtr SourcePicture(std::int64_t position);
    // The same without decoding: a reference to the picture converted last
    // when `position` shows it, else null.
    libav::FramePtr ConvertedPicture(std::int64_t position) const;
    FrameReaderStats Stats() const;
    std::string DecoderName() const;

    // The decoded picture of `packet` (what Get converts), valid until the
    // next call; null when the packet has no picture of its own or decoding
    // was interrupted. For a decode-ahead worker.
    const AVFrame* Picture(PacketIndex packet);
    // While `*flag` is set, decoding stops at the next picture.
    void SetInterrupt(const std::atomic<bool>* flag) { interrupt_ = flag; }
    // Told of every picture a run places, as it places it (valid during the
    // call), and of the packet from which the pictures placed so far may sit
    // at wrong packets: a worker files what its job wants of them, so that a
    // run that places several at once, or passes a GOP on its way to the
    // leading pictures of the next, is not run again for them.
    struct PictureSink {
        std::function<void(PacketIndex, const AVFrame*)> placed;
        std::function<void(PacketIndex from)> misplaced;
    };
    void SetSink(PictureSink sink) { sink_ = std::move(sink); }

private:
    enum class Mode { Aligned, Aligning };
    struct Pending {
        libav::FramePtr frame;
        std::int64_t source;
    };
    // Everything one decoding run knows; a new run starts from a fresh one.
    struct Run {
        Mode mode = Mode::Aligned;
        PacketIndex key = 0;        // the key packet the run started at
        bool used = false;          // the decoder has been fed since the run began
        bool flushed = false;       // the end-of-stream packet was sent
        bool ended = false;         // the decoder reported its end
        bool sendPalette = false;
        std::vector<std::uint8_t> palette;  // the colours in effect, AV_PKT_DATA_PALETTE
        std::size_t nextChange = 0;         // the table's first palette change not yet applied
        bool sendNotes = false;     // the encoder's notes go before the key packet
        std::int64_t sent = 0;      // shown packets the decoder accepted
        PacketIndex nextFeed = 0;   // next packet to send
        PacketIndex nextOut = 0;    // packet the next picture belongs to (Aligned)
        PacketIndex firstValid = 0; // first packet whose picture this run decodes correctly
        PacketIndex lastOut = -1;   // last packet given a picture
        std::uint64_t errors = 0;   // the decoders' error count the run has seen
        bool fresh = false;         // on a decoder opened for it (StartRun)
        bool damaged = false;       // it went on over damage (MetDamage)
        libav::FramePtr lastFrame;
        std::deque<std::int64_t> sources;  // of the last pictures placed, oldest first
        // Alignment of a run that started at a key packet after the first.
        int seenBefore = 0;           // pictures delivered before the key picture
        std::int64_t minBefore = std::numeric_limits<std::int64_t>::max();  // their smallest source
        std::vector<Pending> after;   // the key picture and those after it
        std::int64_t minAfter = 0;
        bool referenceAfter = false;  // a picture not a B-picture came after the key picture
    };

    FrameReader(std::shared_ptr<FrameTable> table, const ReaderSettings& settings);
    bool StartDecoder(const AVCodecParameters* codec, AVRational timeBase, int width, int height);
    PacketIndex PacketFor(std::int64_t position) const;
    PacketIndex ShownPacket(std::int64_t position) const;
    PacketIndex NextShown(PacketIndex packet) const;
    PacketIndex ShownAfter(PacketIndex packet, std::int64_t n) const;
    PacketIndex LastShownBefore(PacketIndex packet, PacketIndex floor) const;
    PacketIndex KeyAtOrBefore(PacketIndex packet) const;
    PacketIndex BackReach(PacketIndex packet, PacketIndex capacity) const;
    bool SpareCoreAhead(PacketIndex packet) const;
    PacketIndex StartKeyFor(PacketIndex packet) const;
    bool CanContinueTo(PacketIndex packet, PacketIndex key) const;
    AVFrame* Decoded(PacketIndex packet);
    bool IsLongRun(PacketIndex key, PacketIndex target) const;
    bool DamageNear(PacketIndex from, PacketIndex target) const;
    bool MetDamage();
    void StartRun(PacketIndex key, PacketIndex target);
    std::chrono::nanoseconds OwnDecodeTime(PacketIndex packet) const;
    bool IsStep(PacketIndex last, PacketIndex packet) const;
    bool NearGopStart(PacketIndex packet) const;
    bool BackRunsPay(PacketIndex packet) const;
    void PlanAhead(PacketIndex packet);
    DecodeAhead* Ahead();
    void HandOver(PacketIndex packet, const AVFrame* frame);
    PacketIndex HandOverFloor(PacketIndex target) const;
    void PlanBack(PacketIndex packet, PacketIndex capacity, bool fresh, std::chrono::nanoseconds pause);
    bool RefillDue(PacketIndex packet, PacketIndex top) const;
    double RunSeconds(PacketIndex high) const;
    void PlanOn(PacketIndex packet, PacketIndex capacity, bool turned);
    bool Prepared(PacketIndex packet) const;
    PacketIndex AheadCapacity() const;
    std::size_t AheadPictureBytes() const;
    void Note(PacketIndex packet, const AVFrame* frame);
    AVFrame* DecodeUntil(PacketIndex target);
    bool Feed();
    bool ReadPacket(PacketIndex index, AVPacket* packet);
    void OnPicture(AVFrame* frame);
    void PlaceNext(const AVFrame* frame);
    PacketIndex AfterDroppedPictures(PacketIndex packet, std::int64_t source, const AVFrame* frame);
    void KeepAt(PacketIndex packet, const AVFrame* frame);
    void AlignStep(AVFrame* frame);
    void CommitAlignment();
    void CommitAtEnd();
    bool LostPictures() const;
    void CommitLead(std::int64_t lead);
    void GiveUpKeysBefore(std::int64_t end);
    PacketIndex StartBeforeFalseKey();
    std::shared_ptr<const std::uint8_t[]> Convert(const AVFrame* frame, PacketIndex packet);
    std::shared_ptr<std::uint8_t[]> FreeBuffer();
    int PacketCount() const { return static_cast<int>(packets_.size()); }

    std::shared_ptr<FrameTable> table_;
    std::vector<TablePacket> packets_;  // the table's, with key flags the decoder disproved taken back
    ReaderSettings settings_;
    // Runs of a few pictures decode without frame threads (an intra-only
    // codec's on slice threads): frame threads would first fill their
    // pipeline, decoding pictures past the target that the next jump throws
    // away. Longer runs use every thread, except over damage (MetDamage).
    // codec_ is the run's.
    DecodeErrors errors_;  // of both decoders; declared before them
    std::set<PacketIndex> damaged_;  // packets a decoder may have met damage in
    bool overDamage_ = false;  // the request being answered met damage: its runs take a new decoder
    libav::CodecPtr threaded_;
    libav::CodecPtr single_;  // no frame threads; null when threaded_ has none either
    AVCodecContext* codec_ = nullptr;
    bool threadedDirty_ = false;  // fed since its last flush
    bool singleDirty_ = false;
    libav::PacketPtr packet_;
    libav::FramePtr frame_;
    std::optional<PictureConverter> converter_;
    std::vector<std::uint8_t> encoderNotes_;  // EncoderNotes of the first packet
    PictureStore store_;
    std::unordered_map<PacketIndex, int> leading_;  // key packet -> pictures shown before it
    // The first key packet found whose run loses pictures at the stream's
    // end; targets from there on start at an earlier key.
    PacketIndex shortTail_ = kNoPacket;
    int falseKeys_ = 0;  // runs from false key packets in this request (StartBeforeFalseKey)
    std::vector<char> kinds_;  // per packet: its picture's FrameKind once decoded
    std::vector<std::uint8_t> fields_;  // per packet: its picture's field flags once decoded (kField*)
    DecodedFormat lastFormat_;          // of the last picture decoded
    std::size_t lastPictureBytes_ = 0;  // what keeping the last picture decoded takes
    BITMAPINFOHEADER header_;  // of every packed bitmap
    std::size_t packedBytes_ = 0;  // header, bottom-up BGR rows, the converter's slack
    std::vector<std::shared_ptr<std::uint8_t[]>> pool_;
    std::shared_ptr<std::uint8_t[]> current_;  // the last packed bitmap handed out
    int width_ = 0;
    int height_ = 0;
    bool reorders_ = true;  // the codec may show pictures in another order than it decodes them

    Run run_;
    PacketIndex target_ = -1;
    libav::FramePtr targetFrame_;
    PacketIndex convertedPacket_ = -1;
    libav::FramePtr convertedSource_;  // a reference to the picture converted last
    std::size_t keepLimit_ = 0;  // what the store may hold while this request decodes
    bool handOver_ = false;      // this request's run started for it (HandOver)
    int pictureCount_ = -1;      // packets that get a picture in the whole stream, once known
    FrameReaderStats stats_;
    double secondsPerPicture_ = 0;  // this reader's own decoding, as measured
    std::chrono::steady_clock::time_point lastReturn_;  // when the last request was answered
    double idle_ = 0;  // seconds between the last two requests
    std::chrono::steady_clock::time_point lastStart_;  // when the last request came
    double stepSeconds_ = 0;  // between requests a step apart, smoothed
    const std::atomic<bool>* interrupt_ = nullptr;
    PictureSink sink_;
    // The stream's parameters to start a decoder or the worker with; the
    // packet asked for last, which way the requests go (-1, 0, 1).
    libav::ParametersPtr codecParameters_;
    AVRational timeBase_{0, 1};
    PacketIndex lastRequest_ = -1;
    int direction_ = 0;
    std::unique_ptr<DecodeAhead> ahead_;  // declared last: stopped first
};
