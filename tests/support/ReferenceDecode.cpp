#include "ReferenceDecode.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

#include "ClipMaker.h"
#include "TestUtil.h"

namespace fwtest {

std::size_t Reference::PictureFor(std::int64_t position, Positions rule) const {
    std::int64_t index = position;
    if (rule != Positions::Ordinal && !slots.empty()) {
        const std::int64_t first = rule == Positions::Pts ? slots.front() : 0;
        index = std::upper_bound(slots.begin(), slots.end(), position + first) - slots.begin() - 1;
    }
    return static_cast<std::size_t>(std::clamp<std::int64_t>(index, 0, std::int64_t(pictures.size()) - 1));
}

namespace {

// A reference as a text file: "W H", then the count and the pictures' CRCs,
// then the count and the slots.
bool LoadReference(const std::string& file, Reference& out) {
    std::ifstream in(file);
    std::size_t count = 0;
    if (!(in >> out.width >> out.height >> count)) return false;
    out.pictures.resize(count);
    for (auto& crc : out.pictures) in >> crc;
    if (!(in >> count)) return false;
    out.slots.resize(count);
    for (auto& slot : out.slots) in >> slot;
    return !in.fail() && !out.pictures.empty();
}

void SaveReference(const Reference& reference, const std::string& cached) {
    const std::string scratch = ScratchPathFor(cached);
    {
        std::ofstream out(scratch);
        out << reference.width << ' ' << reference.height << '\n' << reference.pictures.size();
        for (auto crc : reference.pictures) out << ' ' << crc;
        out << '\n' << reference.slots.size();
        for (auto slot : reference.slots) out << ' ' << slot;
        out << '\n';
    }
    PublishToCache(scratch, cached);
}

bool DecodeWithFfmpeg(const std::string& path, Reference& out) {
    bool ok = false;
    const std::string file = ShellQuoted(path);
    std::stringstream name(RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name "
                                      "-of csv=p=0 " + file, ok));
    std::string codec;
    if (!ok || !(name >> codec)) return false;
    // The VP3 family's frame-threaded decoder does not give the same pictures
    // from run to run; one thread does.
    const bool oneThread = codec == "theora" || codec == "vp3" || codec == "vp4";
    std::stringstream hashes(RunCommand(std::string("ffmpeg -v error") + (oneThread ? " -threads 1" : "") + " -i " + file +
                                        " -map 0:v:0 -fps_mode passthrough -pix_fmt bgr24 "
                                        "-sws_flags bicubic -c:v rawvideo -f framehash -hash CRC32 pipe:1", ok));
    // The size is the pictures' as the program decoded them, not the stream
    // header's: a Theora picture region that starts a few pixels in is
    // cropped only to an aligned edge.
    constexpr std::string_view kDimensions = "#dimensions 0: ";
    for (std::string line; ok && std::getline(hashes, line);) {
        if (line.rfind(kDimensions, 0) == 0) std::sscanf(line.c_str() + kDimensions.size(), "%dx%d", &out.width, &out.height);
        if (line[0] != '#') out.pictures.push_back(std::stoul(line.substr(line.rfind(' ') + 1), nullptr, 16));
    }
    std::stringstream packets(RunCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pts,dts,size "
                                         "-of csv=p=0 " + file, ok));
    for (std::string line; ok && std::getline(packets, line);) {
        // pts, dts, size: the pts where the container gives one (AVI gives only the dts)
        std::replace(line.begin(), line.end(), ',', ' ');
        std::string pts, dts;
        long bytes = 0;
        if (std::istringstream(line) >> pts >> dts >> bytes && bytes > 0)
            out.slots.push_back(std::atoll((pts == "N/A" ? dts : pts).c_str()));
    }
    std::sort(out.slots.begin(), out.slots.end());  // pictures come out in presentation order
    // Where every packet gave a picture, two at one slot are two pictures:
    // the later one takes the next slot (and those after it move on).
    if (out.slots.size() == out.pictures.size())
        for (std::size_t j = 1; j < out.slots.size(); ++j) out.slots[j] = std::max(out.slots[j], out.slots[j - 1] + 1);
    return ok && !out.pictures.empty();
}

}  // namespace

// Made once per file's bytes (and ffmpeg program) for all test processes.
bool DecodeReference(const std::string& path, Reference& out) {
    out = Reference{};
    const std::vector<std::uint8_t> bytes = ReadAll(path);
    const std::string key = "reference 4 " + std::to_string(bytes.size()) + " " +
                            std::to_string(::crc32(0, bytes.data(), static_cast<uInt>(bytes.size()))) + " " +
                            std::to_string(::adler32(1, bytes.data(), static_cast<uInt>(bytes.size()))) + " " +
                            FfmpegStamp();
    const std::string cached = SharedCachePath(key, ".txt");
    if (LoadReference(cached, out)) return true;
    out = Reference{};
    if (!DecodeWithFfmpeg(path, out)) return false;
    SaveReference(out, cached);
    return true;
}

std::uint32_t PictureCrc(const std::uint8_t* bottomUpBgr, int width, int height) {
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    const std::size_t stride = (row + 3) & ~std::size_t{3};
    std::uint32_t crc = 0;
    bool padded = true;  // with zeros, as a bitmap's rows must be
    for (int y = height - 1; y >= 0; --y) {
        crc = static_cast<std::uint32_t>(::crc32(crc, bottomUpBgr + y * stride, static_cast<uInt>(row)));
        for (std::size_t x = row; x < stride; ++x) padded = padded && bottomUpBgr[y * stride + x] == 0;
    }
    return padded ? crc : ~crc;
}

}  // namespace fwtest
