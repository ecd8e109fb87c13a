#include "ClipMaker.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>


namespace fwtest {

namespace {

constexpr int kGrid = 4;  // 4 x 4 cells carry 16 bits

struct ClipSpec {
    std::string encoder;
    int width = 0, height = 0, frames = 0, rate = 25, scale = 1, gop = 12, bFrames = 0;
    std::vector<int> emptyPositions;
    bool withAudio = false;
    std::string pixelFormat;
    std::vector<std::pair<std::string, std::string>> options;
};

ClipSpec ParseSpec(const std::string& text) {
    std::istringstream words(text);
    ClipSpec spec;
    char x = 0;
    words >> spec.encoder >> spec.width >> x >> spec.height >> spec.frames;
    for (std::string w; words >> w;) {
        const std::string key = w.substr(0, w.find('=')), value = w.substr(w.find('=') + 1);
        if (w == "audio") spec.withAudio = true;
        else if (key == "gop") spec.gop = std::stoi(value);
        else if (key == "b") spec.bFrames = std::stoi(value);
        else if (key == "pix") spec.pixelFormat = value;
        else if (key == "rate") std::sscanf(value.c_str(), "%d/%d", &spec.rate, &spec.scale);
        else if (key == "empty") for (std::istringstream in(value); std::getline(in, w, ',');) spec.emptyPositions.push_back(std::stoi(w));
        else if (key[0] == '-') spec.options.emplace_back(key.substr(1), value);
    }
    return spec;
}

// Picture N as grey cells, bit b of N in cell b (row by row): light where the
// bit is set, dark where not. Dark areas lighten and light ones darken from
// left to right, so the two edges of a row never look alike: a converter that
// writes one edge's pixels onto the other cannot go unseen.
const std::string kPicture =
    "format=gray,geq=lum='if(mod(floor(N/pow(2\\,floor(X*4/W)+4*floor(Y*4/H)))\\,2)\\,235-X*32/W\\,20+X*32/W)'";

// The pts of picture N, in frames, with the empty positions skipped: N plus
// the length of each run of empty positions that lies before its place.
std::string PtsExpression(std::vector<int> empty) {
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

std::string EncodeCommand(const std::string& path, const ClipSpec& spec) {
    std::string c = "ffmpeg -v error -y -f lavfi -i " +
                    ShellQuoted("nullsrc=s=" + std::to_string(spec.width) + "x" + std::to_string(spec.height) +
                                ":r=" + std::to_string(spec.rate) + "/" + std::to_string(spec.scale) + "," + kPicture);
    if (spec.withAudio) c += " -f lavfi -i anullsrc=r=8000:cl=mono -map 0:v -map 1:a -shortest -c:a pcm_s16le";
    if (!spec.emptyPositions.empty())
        c += " -vf " + ShellQuoted("setpts=" + PtsExpression(spec.emptyPositions)) + " -fps_mode passthrough";
    c += " -frames:v " + std::to_string(spec.frames) + " -c:v " + spec.encoder + " -g " + std::to_string(spec.gop) +
         " -bf " + std::to_string(spec.bFrames);
    if (spec.encoder == "mpeg4" || spec.encoder == "msmpeg4" || spec.encoder == "mjpeg") c += " -qmin 2 -qmax 4";
    if (spec.encoder == "libx264") c += " -preset veryfast -crf 12";
    if (!spec.pixelFormat.empty()) c += " -pix_fmt " + spec.pixelFormat;
    else if (spec.encoder == "mjpeg") c += " -pix_fmt yuvj420p";
    else if (spec.encoder == "rawvideo") c += " -pix_fmt bgr24";
    else if (spec.encoder == "ffv1") c += " -pix_fmt bgr0";
    else if (spec.encoder == "libx264" || spec.encoder == "libvpx-vp9") c += " -pix_fmt yuv420p";  // as most clips are
    for (const auto& [key, value] : spec.options) c += " -" + key + " " + ShellQuoted(value);
    return c + " " + ShellQuoted(path);
}

}  // namespace

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char ch : text) {
        if (ch == '\'') quoted += "'\\''";
        else quoted += ch;
    }
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
    bool ok = false;
    RunCommand(EncodeCommand(path, ParseSpec(spec)), ok);
    if (!ok) std::fprintf(stderr, "MakeClip %s: ffmpeg failed\n", path.c_str());
    return ok;
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
