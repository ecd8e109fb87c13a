// The frame table of a video stream: its packets in decode order, which of
// them are key frames, and which position each picture is shown at. One
// implementation per container family; the frame reader decodes through it.
//
// Decoding the packets in order from the first, the j-th picture the decoder
// delivers belongs to the j-th packet that is not a discard packet, and it is
// shown from that packet's slot up to the next packet's slot. What a slot is
// depends on the stream:
//  - AVI: the chunk's position in the stream (empty chunks repeat the
//    picture before them);
//  - streams whose time base is one frame (Ogg Theora, many 3GP and MOV
//    files): the frame slot of the packet's timestamp, counted from the first
//    picture's, so that a slot without a picture repeats the one before;
//  - every other stream: the picture's rank in presentation order, so that
//    position N is the N-th picture a plain sequential decode delivers.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "media/MediaTypes.h"

struct AVCodecParameters;
struct AVPacket;
struct DemuxSource;

// A packet's index in its table, in decode order.
using PacketIndex = int;

struct TablePacket {
    std::int64_t pos = 0;   // byte position as the demuxer reports it (AVI: the chunk header)
    std::int32_t size = 0;  // payload bytes, never 0
    std::int64_t slot = 0;  // the position its picture is shown from (see above)
    std::int64_t ts = 0;    // the demuxer's timestamp of the packet, for seeking
    bool key = false;
    bool discard = false;   // decoded for the pictures that refer to it, never shown
    // Frame slots: presented at a slot an earlier packet holds; a discard
    // packet unless it holds a picture of its own (PlacePicturesInSharedSlots).
    bool sharedSlot = false;
    // MPEG-1/2 video listed in one pass: the picture coding type its picture
    // header gives (1 I, 2 P, 3 B, 4 D), 0 where none was read.
    std::uint8_t codedType = 0;
    static constexpr std::uint8_t kCodedB = 3;
    // The demuxer's presentation and decode timestamps in the stream's time
    // base, kNoTime where it gives none (sample tables learn their
    // presentation times only from FillPresentationTimes). Facts for tools:
    // positions never depend on them.
    std::int64_t pts = kNoTime;
    std::int64_t dts = kNoTime;
    static constexpr std::int64_t kNoTime = std::numeric_limits<std::int64_t>::min();  // AV_NOPTS_VALUE
};

enum class PositionRule { Chunks, FrameSlots, Ranks };

// New colours of a paletted AVI stream (a '##pc' chunk): entries `first` on,
// as AV_PKT_DATA_PALETTE holds them (0xAARRGGBB), in effect from packet `at`.
struct PaletteChange {
    PacketIndex at = 0;
    int first = 0;
    std::vector<std::uint32_t> colours;
};

class FrameTable {
public:
    virtual ~FrameTable() = default;

    const std::vector<TablePacket>& Packets() const { return packets_; }
    PositionRule Rule() const { return rule_; }
    // Positions from 0: up to and including the last packet's slot.
    std::int64_t PositionCount() const;
    // Fills `packet` with the payload of packet `index`. Readers ask for
    // consecutive indices, each run from a key packet on.
    virtual bool Read(PacketIndex index, AVPacket* packet) = 0;
    // Gives every packet the presentation time the demuxer reports when it
    // reads it. Tables built without reading packets (sample tables) read the
    // stream once for it, without decoding; the others have them already.
    virtual void FillPresentationTimes() {}
    // A copy of this table that reads the same file through a demuxer of its
    // own, opened on its first Read, so that another thread can read packets
    // while this table is in use. Made on the thread that uses this table;
    // the copy then belongs to the other thread alone.
    virtual std::shared_ptr<FrameTable> Reopened() const = 0;
    // In packet order; empty but for paletted AVI streams whose colours change.
    const std::vector<PaletteChange>& PaletteChanges() const { return paletteChanges_; }
    // A paletted stream's first colours (AV_PKT_DATA_PALETTE): an AVI
    // stream's from its format block; elsewhere those the demuxer gave (MOV
    // and Matroska hand them only to the first packet they read, whoever
    // reads it), empty until a packet has come with them.
    const std::vector<std::uint8_t>& StreamPalette() const { return streamPalette_; }
    // Takes `packets` out of the positions, as discard packets: decoded, but
    // never shown (they deliver no picture). Slots are assigned again.
    void ShowNoPictureFor(const std::vector<PacketIndex>& packets);
    // Frame slots: a packet presented at a slot an earlier one holds is
    // taken for one without a picture (an access unit of parameter sets or
    // an end of sequence), unless it holds a coded picture: then its picture
    // takes the next slot, and the ones after it move on up to a free slot.
    void PlacePicturesInSharedSlots(const AVCodecParameters* codec);

protected:
    std::vector<TablePacket> packets_;
    PositionRule rule_ = PositionRule::Ranks;
    std::vector<std::int64_t> slotTimes_;  // per packet, what its slot is assigned from (AssignSlots)
    std::vector<PaletteChange> paletteChanges_;
    std::vector<std::uint8_t> streamPalette_;
    // Keeps the colours `packet` carries as the stream's, if it is the first to.
    void NotePalette(const AVPacket* packet);
};

// The packets of stream `streamIndex` listed by the container's family: AVI
// chunks from the file's index (or one pass over an index-less file), MP4/MOV
// samples from the sample table the demuxer read at open, and every other
// container's packets (and fragmented MP4's) from one pass over the file that
// decodes nothing and reports progress to `progress`. The table is null when
// the stream has no packets or when `progress` cancelled the pass;
// `cancelled` tells which. MakeFrameTable (StreamStart.h) finishes it.
struct ListedPackets {
    // Fragments: an MP4-family file listed in a pass over its movie fragments.
    enum class From { AviChunks, SampleTable, Fragments, Pass };
    std::shared_ptr<FrameTable> table;
    From from = From::Pass;
};
ListedPackets ListPackets(std::shared_ptr<DemuxSource> source, int streamIndex, std::int64_t aviFirstTimestamp,
                          const ProgressHandler& progress, bool& cancelled);

// Readies `packet`, read for packet `index` of a table (`entry`), to be sent
// as readers send packets: it carries its index as timestamps, so that each
// picture tells which packet it came from, and the table's key and discard
// flags in place of the demuxer's.
void TagTablePacket(AVPacket* packet, PacketIndex index, const TablePacket& entry);
