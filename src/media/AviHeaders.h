// The header records of an AVI file as written in it: the main header and the
// stream headers of the 'hdrl' list. libavformat reduces a stream's rate
// fraction and drops fields the service must report as the file has them, so
// these are read directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AviMainHeader {
    std::uint32_t microSecPerFrame = 0;
    std::uint32_t maxBytesPerSec = 0;
    std::uint32_t flags = 0;
    std::uint32_t totalFrames = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t streams = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

struct AviStreamHeader {
    std::uint32_t fccType = 0;
    std::uint32_t fccHandler = 0;
    std::uint32_t flags = 0;
    std::uint16_t priority = 0;
    std::uint16_t language = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t quality = 0;
    std::uint32_t sampleSize = 0;
    std::string name;  // from an optional 'strn' chunk
};

struct AviHeaders {
    AviMainHeader main;
    std::vector<AviStreamHeader> streams;  // in the order of the 'strl' lists
    std::uint32_t odmlTotalFrames = 0;     // 'dmlh', 0 when absent
};

// Whether the file starts as a RIFF AVI file does.
bool StartsAsAvi(const std::string& path);
// Reads the headers of a RIFF AVI file up to its 'movi' list. Returns false
// when the file does not start like an AVI file or its header list is broken.
bool ReadAviHeaders(const std::string& path, AviHeaders& headers);

constexpr std::uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}
