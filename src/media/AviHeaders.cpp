#include "media/AviHeaders.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Reads up to `want` bytes of a chunk body; a short body leaves zeros.
bool ReadBody(std::FILE* f, std::uint32_t size, unsigned char* out, std::size_t want) {
    std::memset(out, 0, want);
    const std::size_t n = size < want ? size : want;
    return std::fread(out, 1, n, f) == n;
}

void ParseMainHeader(const unsigned char* b, AviMainHeader& h) {
    h.microSecPerFrame = Le32(b);
    h.maxBytesPerSec = Le32(b + 4);
    h.flags = Le32(b + 12);
    h.totalFrames = Le32(b + 16);
    h.initialFrames = Le32(b + 20);
    h.streams = Le32(b + 24);
    h.suggestedBufferSize = Le32(b + 28);
    h.width = Le32(b + 32);
    h.height = Le32(b + 36);
}

void ParseStreamHeader(const unsigned char* b, AviStreamHeader& h) {
    h.fccType = Le32(b);
    h.fccHandler = Le32(b + 4);
    h.flags = Le32(b + 8);
    h.priority = Le16(b + 12);
    h.language = Le16(b + 14);
    h.initialFrames = Le32(b + 16);
    h.scale = Le32(b + 20);
    h.rate = Le32(b + 24);
    h.start = Le32(b + 28);
    h.length = Le32(b + 32);
    h.suggestedBufferSize = Le32(b + 36);
    h.quality = Le32(b + 40);
    h.sampleSize = Le32(b + 44);
}

class HeaderWalker {
public:
    HeaderWalker(std::FILE* f, AviHeaders& h) : f_(f), h_(h) {}

    // Walks the chunks between the current offset and `end`; stops at 'movi'.
    bool Walk(long end, int depth) {
        unsigned char head[8];
        while (std::ftell(f_) + 8 <= end) {
            if (++chunks_ > 100000 || std::fread(head, 1, 8, f_) != 8) return false;
            const std::uint32_t id = Le32(head);
            const std::uint32_t size = Le32(head + 4);
            const long body = std::ftell(f_);
            const long next = body + static_cast<long>(size) + (size & 1);
            if (id == FourCC('L', 'I', 'S', 'T')) {
                if (!List(size, next, depth)) return done_;
            } else if (!Leaf(id, size)) {
                return false;
            }
            if (done_) return true;
            if (std::fseek(f_, next, SEEK_SET) != 0) return false;
        }
        return true;
    }
    bool Done() const { return done_; }

private:
    bool List(std::uint32_t size, long next, int depth) {
        unsigned char type[4];
        if (size < 4 || std::fread(type, 1, 4, f_) != 4) return false;
        const std::uint32_t t = Le32(type);
        if (t == FourCC('m', 'o', 'v', 'i')) {
            done_ = true;
            return false;
        }
        if (depth > 3) return true;
        if (t == FourCC('s', 't', 'r', 'l')) h_.streams.emplace_back();
        if (t == FourCC('h', 'd', 'r', 'l') || t == FourCC('s', 't', 'r', 'l') || t == FourCC('o', 'd', 'm', 'l'))
            return Walk(next, depth + 1) || done_;
        return true;
    }

    bool Leaf(std::uint32_t id, std::uint32_t size) {
        unsigned char b[64];
        if (id == FourCC('a', 'v', 'i', 'h')) {
            if (!ReadBody(f_, size, b, 56)) return false;
            ParseMainHeader(b, h_.main);
        } else if (id == FourCC('s', 't', 'r', 'h') && !h_.streams.empty()) {
            if (!ReadBody(f_, size, b, 64)) return false;
            ParseStreamHeader(b, h_.streams.back());
        } else if (id == FourCC('s', 't', 'r', 'n') && !h_.streams.empty()) {
            if (!ReadBody(f_, size, b, 63)) return false;
            h_.streams.back().name.assign(reinterpret_cast<char*>(b), strnlen(reinterpret_cast<char*>(b), 63));
        } else if (id == FourCC('d', 'm', 'l', 'h')) {
            if (!ReadBody(f_, size, b, 4)) return false;
            h_.odmlTotalFrames = Le32(b);
        }
        return true;
    }

    std::FILE* f_;
    AviHeaders& h_;
    int chunks_ = 0;
    bool done_ = false;
};


bool ReadRiffHeader(std::FILE* f, unsigned char (&riff)[12]) {
    return f && std::fread(riff, 1, 12, f) == 12 && Le32(riff) == FourCC('R', 'I', 'F', 'F') &&
           Le32(riff + 8) == FourCC('A', 'V', 'I', ' ');
}

}  // namespace

bool StartsAsAvi(const std::string& path) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    unsigned char riff[12];
    return ReadRiffHeader(f.get(), riff);
}

bool ReadAviHeaders(const std::string& path, AviHeaders& headers) {
    headers = AviHeaders{};
    FilePtr f(std::fopen(path.c_str(), "rb"));
    unsigned char riff[12];
    if (!ReadRiffHeader(f.get(), riff)) return false;
    const long end = 8 + static_cast<long>(Le32(riff + 4));
    HeaderWalker walker(f.get(), headers);
    walker.Walk(end, 0);
    return !headers.streams.empty();
}
