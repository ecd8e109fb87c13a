// The decoding engine behind a frame reader handle (internal to the platform
// library).
//
// Frame positions follow the AVI file: position N shows the picture of the
// last non-empty video chunk at or before N; positions before the first chunk
// show the first picture. Decoding the non-empty chunks in file order from the
// first one, the j-th picture the decoder delivers belongs to the j-th chunk.
// A run that starts at a later key chunk is aligned to that numbering by the
// source chunk each picture carries (its pts), so pictures right after a key
// chunk of an open GOP come out the same as when stepping from the start.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Libav.h"
#include "platform/PictureConverter.h"
#include "platform/mAVIDecs.h"

struct Chunk {
    std::int64_t pos = 0;   // offset of the chunk header in the file
    std::int32_t size = 0;  // payload bytes (never 0: empty chunks are not listed)
    std::int64_t ts = 0;    // stream position of the chunk
    bool key = false;
};

// The demuxer shared by the file, stream and reader handles of one file.
struct DemuxSource {
    libav::FormatPtr format;
    std::int64_t fileSize = 0;
};

// Decoded pictures kept from earlier runs, so a step back or a return to a
// recent frame only converts. Bounded by bytes; least recently used go first.
class PictureStore {
public:
    explicit PictureStore(std::size_t budget) : budget_(budget) {}
    PictureStore(const PictureStore&) = delete;
    PictureStore& operator=(const PictureStore&) = delete;
    ~PictureStore() { Clear(); }
    AVFrame* Find(int chunk);
    // Keeps a reference to `frame`, then forgets the least recently used
    // pictures until at most `limit` (and the store's budget) bytes remain.
    void Keep(int chunk, libav::FramePtr frame, std::size_t limit);
    void Clear();
    std::size_t Bytes() const { return bytes_; }

private:
    struct Entry {
        libav::FramePtr frame;
        std::size_t bytes = 0;
        std::list<int>::iterator use;
    };
    std::size_t budget_;
    std::size_t bytes_ = 0;
    std::unordered_map<int, Entry> entries_;
    std::list<int> uses_;  // most recent first
};

struct ReaderSettings {
    int threads = 0;                       // 0: one per core, at most 8
    std::size_t keepBytes = 256u << 20;    // budget of the picture store
};

class FrameReader {
public:
    static std::unique_ptr<FrameReader> Open(std::shared_ptr<DemuxSource> source, int streamIndex,
                                             std::vector<Chunk> chunks, int width, int height,
                                             const ReaderSettings& settings);
    // The packed bitmap of `position` (0-based from the stream's start), or
    // null. The reader never writes into a buffer it has handed out while
    // anyone else still holds it.
    std::shared_ptr<const std::uint8_t[]> Get(std::int64_t position);
    const FrameReaderStats& Stats() const { return stats_; }
    FrameKind KindAt(std::int64_t position) const;
    std::string DecoderName() const;

private:
    enum class Mode { Aligned, Aligning };
    struct Pending {
        libav::FramePtr frame;
        std::int64_t source;
    };

    FrameReader(std::shared_ptr<DemuxSource> source, int streamIndex, std::vector<Chunk> chunks,
                const ReaderSettings& settings);
    bool OpenDecoder(int width, int height);
    int ChunkFor(std::int64_t position) const;
    int KeyAtOrBefore(int chunk) const;
    int StartKeyFor(int chunk) const;
    void StartRun(int key);
    AVFrame* DecodeUntil(int target);
    bool Feed();
    bool ReadChunk(int index, AVPacket* packet);
    void OnPicture(AVFrame* frame);
    void KeepAt(int chunk, const AVFrame* frame);
    void AlignStep(AVFrame* frame);
    void CommitAlignment(bool atEnd);
    void CommitLead(std::int64_t lead);
    void GiveUpKey();
    std::shared_ptr<const std::uint8_t[]> Convert(const AVFrame* frame, int chunk);
    std::shared_ptr<std::uint8_t[]> FreeBuffer();

    std::shared_ptr<DemuxSource> source_;
    AVStream* stream_ = nullptr;
    std::vector<Chunk> chunks_;
    ReaderSettings settings_;
    libav::CodecPtr codec_;
    libav::PacketPtr packet_;
    libav::FramePtr frame_;
    std::optional<PictureConverter> converter_;
    std::vector<std::uint8_t> palette_;  // AV_PKT_DATA_PALETTE for <= 8-bit streams
    PictureStore store_;
    std::unordered_map<int, int> leading_;  // key chunk -> pictures shown before it
    std::vector<char> pictureTypes_;         // per chunk: the decoder's I/P/B once seen, else 0
    BITMAPINFOHEADER header_;                // of every packed bitmap
    std::size_t packedBytes_ = 0;            // header, then bottom-up BGR rows
    std::vector<std::shared_ptr<std::uint8_t[]>> pool_;
    std::shared_ptr<std::uint8_t[]> current_;  // the last packed bitmap handed out
    int width_ = 0;
    int height_ = 0;
    int rowBytes_ = 0;
    bool reorders_ = true;  // the codec may show pictures in another order than it decodes them

    // The current decoding run.
    Mode mode_ = Mode::Aligned;
    bool used_ = false;       // the decoder has been fed since it was opened or flushed
    bool flushed_ = false;    // the end-of-stream packet was sent
    bool ended_ = false;      // the decoder reported its end
    bool sendPalette_ = false;
    int runKey_ = 0;          // key chunk the run started at
    std::int64_t runSent_ = 0;  // chunks the decoder accepted in this run
    int nextFeed_ = 0;        // next chunk to send
    int nextOut_ = 0;         // chunk the next picture belongs to (Aligned)
    int firstValid_ = 0;      // first chunk whose picture this run decodes correctly
    int lastOut_ = -1;        // last chunk given a picture in this run
    int target_ = -1;
    libav::FramePtr targetFrame_;
    libav::FramePtr lastFrame_;
    // Alignment of a run that started at runKey_ > 0.
    int seenBefore_ = 0;           // pictures delivered before the key picture
    std::vector<Pending> after_;   // the key picture and those after it
    std::int64_t minAfter_ = 0;
    int convertedChunk_ = -1;
    std::size_t keepLimit_ = 0;  // what the store may hold while this request decodes
    int pictureCount_ = -1;   // pictures the whole stream yields, once known
    FrameReaderStats stats_;
};
