#include "ClipMaker.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "TestUtil.h"

namespace fwtest {

namespace {

constexpr int kGrid = 4;  // 4 x 4 cells carry 16 bits

// Picture N as grey cells, bit b of N in cell b (row by row): light where the
// bit is set, dark where not. Dark areas lighten and light ones darken from
// left to right, so the two edges of a row never look alike: a converter that
// writes one edge's pixels onto the other cannot go unseen.
const std::string kPicture =
    "format=gray,geq=lum='if(mod(floor(N/pow(2\\,floor(X*4/W)+4*floor(Y*4/H)))\\,2)\\,235-X*32/W\\,20+X*32/W)'";

// The pts of picture N, in frames, when the positions listed ("3,7,8") are
// left empty: N plus the length of each run of them that lies before its place.
std::string PtsExpression(const std::string& list) {
    std::vector<int> empty;
    std::istringstream in(list);
    for (std::string w; std::getline(in, w, ',');) empty.push_back(std::stoi(w));
    std::sort(empty.begin(), empty.end());
    std::string expression = "N";
    for (std::size_t i = 0; i < empty.size();) {
        std::size_t end = i + 1;
        while (end < empty.size() && empty[end] == empty[end - 1] + 1) ++end;
        // The first picture after the run is the one with index empty[i] - i.
        expression.append("+").append(std::to_string(end - i)).append("*gte(N\\,");
        expression.append(std::to_string(empty[i] - static_cast<int>(i))).append(")");
        i = end;
    }
    return expression;
}

std::string EncodeCommand(const std::string& path, const std::string& spec) {
    std::istringstream words(spec);
    std::string encoder, size, frames, rate = "25/1", gop = "12", bFrames = "0", pixels, audio, more, given;
    words >> encoder >> size >> frames;
    for (std::string w; words >> w;) {
        const std::string key = w.substr(0, w.find('=')), value = w.substr(w.find('=') + 1);
        if (w == "audio") audio = " -f lavfi -i anullsrc=r=8000:cl=mono -map 0:v -map 1:a -shortest -c:a pcm_s16le";
        else if (key == "gop") gop = value;
        else if (key == "b") bFrames = value;
        else if (key == "pix") pixels = value;
        else if (key == "rate") rate = value;
        else if (key == "empty") more += " -vf " + ShellQuoted("setpts=" + PtsExpression(value)) + " -fps_mode passthrough";
        else if (key[0] == '-') given += " " + key + " " + ShellQuoted(value);
    }
    // The encoder's own pixel format otherwise; 4:2:0 for H.264 and VP9, as most clips are.
    static const std::map<std::string, std::string> kPixels = {
        {"mjpeg", "yuvj420p"}, {"rawvideo", "bgr24"}, {"ffv1", "bgr0"}, {"libx264", "yuv420p"}, {"libvpx-vp9", "yuv420p"}};
    if (pixels.empty() && kPixels.count(encoder)) pixels = kPixels.at(encoder);
    if (encoder == "mpeg4" || encoder == "msmpeg4" || encoder == "mjpeg") more += " -qmin 2 -qmax 4";
    if (encoder == "libx264") more += " -preset veryfast -crf 12";
    if (!pixels.empty()) more += " -pix_fmt " + pixels;
    return "ffmpeg -v error -y -f lavfi -i " + ShellQuoted("nullsrc=s=" + size + ":r=" + rate + "," + kPicture) + audio +
           " -frames:v " + frames + " -c:v " + encoder + " -g " + gop + " -bf " + bFrames + more + given + " " +
           ShellQuoted(path);
}

}  // namespace

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char ch : text) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return quoted + "'";
}

std::string RunCommand(const std::string& command, bool& ok) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[65536];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    ok = pipe && ::pclose(pipe) == 0;
    return output;
}

bool MakeClip(const std::string& path, const std::string& spec) {
    const std::string extension = std::filesystem::path(path).extension().string();
    const std::string cached = SharedCachePath("clip " + spec + " " + FfmpegStamp(), extension);
    std::error_code error;
    if (!std::filesystem::exists(cached)) {
        const std::string scratch = ScratchPathFor(cached);
        bool ok = false;
        RunCommand(EncodeCommand(scratch, spec), ok);
        if (!ok || !PublishToCache(scratch, cached)) {
            std::filesystem::remove(scratch, error);
            std::fprintf(stderr, "MakeClip %s: ffmpeg failed\n", path.c_str());
            return false;
        }
    }
    std::filesystem::copy_file(cached, path, std::filesystem::copy_options::overwrite_existing, error);
    return !error;
}

int FrameNumberOf(const PersistentImage& image) {
    const int width = image.Width(), height = image.Height();
    int number = width < kGrid || height < kGrid ? -1 : 0;
    for (int bit = 0; bit < kGrid * kGrid && number >= 0; ++bit) {
        const std::uint32_t rgb = image.PixelAt((2 * (bit % kGrid) + 1) * width / (2 * kGrid),
                                                (2 * (bit / kGrid) + 1) * height / (2 * kGrid));
        const unsigned luma = ((rgb >> 16) + 2 * (rgb >> 8 & 0xFF) + (rgb & 0xFF)) / 4;
        if (luma > 160) number |= 1 << bit;
        else if (luma >= 96) number = -1;  // neither dark nor light: not one of ours
    }
    return number;
}

}  // namespace fwtest
