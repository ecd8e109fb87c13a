#include "media/SampleTimes.h"

#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Headers larger than this are not read a second time.
constexpr std::uint64_t kMaxMovieHeader = std::uint64_t{256} << 20;

std::uint64_t BigEndian(const std::uint8_t* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

// A box inside a parent's body: its type and its body.
struct Box {
    std::string_view type;
    const std::uint8_t* body = nullptr;
    std::size_t size = 0;
};

// The boxes of `body`, in order; a box running past its parent's end ends the list.
std::vector<Box> Children(const std::uint8_t* body, std::size_t size) {
    std::vector<Box> boxes;
    for (std::size_t at = 0; at + 8 <= size;) {
        std::uint64_t length = BigEndian(body + at, 4);
        std::size_t header = 8;
        if (length == 1 && at + 16 <= size) {
            length = BigEndian(body + at + 8, 8);
            header = 16;
        } else if (length == 0) {
            length = size - at;
        }
        if (length < header || length > size - at) break;
        boxes.push_back({std::string_view(reinterpret_cast<const char*>(body + at + 4), 4), body + at + header,
                         static_cast<std::size_t>(length - header)});
        at += static_cast<std::size_t>(length);
    }
    return boxes;
}

std::optional<Box> Child(const Box& parent, std::string_view type) {
    for (const Box& b : Children(parent.body, parent.size))
        if (b.type == type) return b;
    return std::nullopt;
}

// Where a box's body lies in the file.
struct FileBox {
    std::uint64_t bodyAt = 0, bodySize = 0;
};

// The first box of `type` among the boxes from `at` to `end` (a parent's body,
// or the whole file), reading only their headers. A damaged header, or one that
// runs to the end of the file (length 0), ends the search.
std::optional<FileBox> FindBox(std::ifstream& in, std::uint64_t at, std::uint64_t end, std::string_view type) {
    std::uint8_t head[16];
    while (at + 8 <= end && in.seekg(static_cast<std::streamoff>(at)) && in.read(reinterpret_cast<char*>(head), 8)) {
        std::uint64_t length = BigEndian(head, 4), header = 8;
        if (length == 1) {
            if (!in.read(reinterpret_cast<char*>(head + 8), 8)) break;
            length = BigEndian(head + 8, 8);
            header = 16;
        }
        if (length < header || length > end - at) break;
        if (std::string_view(reinterpret_cast<const char*>(head + 4), 4) == type)
            return FileBox{at + header, length - header};
        at += length;
    }
    in.clear();
    return std::nullopt;
}

constexpr std::uint64_t kWholeFile = ~std::uint64_t{0};

// The movie header box of the file, read whole.
Bytes MovieHeader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::optional<FileBox> moov = FindBox(in, 0, kWholeFile, "moov");
    if (!moov || moov->bodySize > kMaxMovieHeader) return {};
    Bytes body(static_cast<std::size_t>(moov->bodySize));
    in.seekg(static_cast<std::streamoff>(moov->bodyAt));
    if (!in.read(reinterpret_cast<char*>(body.data()), static_cast<std::streamsize>(body.size()))) return {};
    return body;
}

// The sample table of track `trackId`.
std::optional<Box> SampleTable(const Bytes& movie, int trackId) {
    for (const Box& trak : Children(movie.data(), movie.size())) {
        if (trak.type != "trak") continue;
        const std::optional<Box> tkhd = Child(trak, "tkhd");
        if (!tkhd || tkhd->size < 24) continue;
        const std::size_t idAt = tkhd->body[0] == 1 ? 20 : 12;
        if (tkhd->size < idAt + 4 || BigEndian(tkhd->body + idAt, 4) != static_cast<std::uint64_t>(trackId)) continue;
        std::optional<Box> box = Child(trak, "mdia");
        if (box) box = Child(*box, "minf");
        if (box) box = Child(*box, "stbl");
        return box;
    }
    return std::nullopt;
}

}  // namespace

bool HasMovieFragments(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::optional<FileBox> moov = FindBox(in, 0, kWholeFile, "moov");
    return moov && FindBox(in, moov->bodyAt, moov->bodyAt + moov->bodySize, "mvex");
}

std::unordered_map<std::int64_t, std::int64_t> CompositionOffsets(const std::string& path, int trackId) {
    std::unordered_map<std::int64_t, std::int64_t> offsets;
    const Bytes movie = MovieHeader(path);
    const std::optional<Box> stbl = SampleTable(movie, trackId);
    if (!stbl) return offsets;
    const std::optional<Box> ctts = Child(*stbl, "ctts"), stsz = Child(*stbl, "stsz"), stsc = Child(*stbl, "stsc");
    std::optional<Box> stco = Child(*stbl, "stco");
    const bool wide = !stco;
    if (wide) stco = Child(*stbl, "co64");
    if (!ctts || !stsz || !stsc || !stco || ctts->size < 8 || stsz->size < 12 || stsc->size < 8 || stco->size < 8)
        return offsets;

    // Each sample's offset, in sample order.
    std::vector<std::int64_t> sampleOffsets;
    const std::uint64_t runs = BigEndian(ctts->body + 4, 4);
    for (std::uint64_t r = 0; r < runs && 8 + 8 * r + 8 <= ctts->size; ++r) {
        const std::uint8_t* run = ctts->body + 8 + 8 * r;
        const auto offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(BigEndian(run + 4, 4)));
        const std::uint64_t count = BigEndian(run, 4);
        for (std::uint64_t i = 0; i < count && sampleOffsets.size() < (std::size_t{1} << 26); ++i)
            sampleOffsets.push_back(offset);
    }

    // Each sample's position: chunk by chunk, samples one after another.
    const std::uint64_t fixedSize = BigEndian(stsz->body + 4, 4), sizes = BigEndian(stsz->body + 8, 4);
    const std::uint64_t chunks = BigEndian(stco->body + 4, 4), rules = BigEndian(stsc->body + 4, 4);
    const int entryBytes = wide ? 8 : 4;
    std::size_t sample = 0;
    for (std::uint64_t rule = 0; rule < rules && 8 + 12 * rule + 12 <= stsc->size; ++rule) {
        const std::uint8_t* entry = stsc->body + 8 + 12 * rule;
        const std::uint64_t first = BigEndian(entry, 4), perChunk = BigEndian(entry + 4, 4);
        const std::uint64_t end = rule + 1 < rules && 8 + 12 * (rule + 1) + 4 <= stsc->size
                                      ? BigEndian(entry + 12, 4) : chunks + 1;
        for (std::uint64_t chunk = first; chunk >= 1 && chunk < end && chunk <= chunks; ++chunk) {
            const std::size_t at = 8 + static_cast<std::size_t>(chunk - 1) * entryBytes;
            if (at + entryBytes > stco->size) return offsets;
            auto pos = static_cast<std::int64_t>(BigEndian(stco->body + at, entryBytes));
            for (std::uint64_t i = 0; i < perChunk && sample < sampleOffsets.size(); ++i, ++sample) {
                std::uint64_t size = fixedSize;
                if (fixedSize == 0) {
                    if (sample >= sizes || 12 + 4 * sample + 4 > stsz->size) return offsets;
                    size = BigEndian(stsz->body + 12 + 4 * sample, 4);
                }
                offsets.emplace(pos, sampleOffsets[sample]);
                pos += static_cast<std::int64_t>(size);
            }
        }
    }
    return offsets;
}
