#include "ClipMaker.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>


namespace fwtest {

namespace {

constexpr int kGrid = 4;  // 4 x 4 cells carry 16 bits

// 3 x 5 digit glyphs, one row per 3 bits, top row first.
constexpr unsigned short kGlyphs[10] = {075557, 022222, 071747, 071717, 055711,
                                        074717, 074757, 071111, 075757, 075717};

struct Layout {
    int gridTop;  // first row of the cell grid (top-down)
    int gridHeight;
};

Layout LayoutFor(int height) {
    if (height >= 96) return {height / 2, height - height / 2};
    return {0, height};
}

void FillRect(std::vector<std::uint8_t>& rgb, int stride, int x0, int y0, int w, int h, std::uint8_t v) {
    for (int y = y0; y < y0 + h; ++y)
        std::fill_n(rgb.begin() + static_cast<std::ptrdiff_t>(y) * stride + x0 * 3, w * 3, v);
}

void DrawDigits(std::vector<std::uint8_t>& rgb, int stride, int width, int bandHeight, int number) {
    const std::string text = std::to_string(number);
    const int n = static_cast<int>(text.size());
    const int scale = std::max(1, std::min(width / (n * 4 + 1), bandHeight / 7));
    int x = (width - (n * 4 - 1) * scale) / 2;
    const int y = (bandHeight - 5 * scale) / 2;
    for (char c : text) {
        const unsigned glyph = kGlyphs[c - '0'];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (glyph >> ((4 - row) * 3 + (2 - col)) & 1)
                    FillRect(rgb, stride, x + col * scale, y + row * scale, scale, scale, 255);
        x += 4 * scale;
    }
}

// Top-down BGR24 picture of `number`. Dark areas lighten and light ones
// darken from left to right, so the two edges of a row never look alike: a
// converter that writes one edge's pixels onto the other cannot go unseen.
std::vector<std::uint8_t> DrawPicture(int width, int height, int number) {
    const int stride = width * 3;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(stride) * height, 40);
    const Layout layout = LayoutFor(height);
    if (layout.gridTop > 0) DrawDigits(rgb, stride, width, layout.gridTop, number);
    for (int bit = 0; bit < kGrid * kGrid; ++bit) {
        const int cx = bit % kGrid, cy = bit / kGrid;
        const int x0 = cx * width / kGrid, x1 = (cx + 1) * width / kGrid;
        const int y0 = layout.gridTop + cy * layout.gridHeight / kGrid;
        const int y1 = layout.gridTop + (cy + 1) * layout.gridHeight / kGrid;
        FillRect(rgb, stride, x0, y0, x1 - x0, y1 - y0, (number >> bit & 1) ? 235 : 20);
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                std::uint8_t& v = rgb[static_cast<std::size_t>(y) * stride + x * 3 + c];
                v = static_cast<std::uint8_t>(v < 128 ? v + x * 32 / width : v - x * 32 / width);
            }
    return rgb;
}

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
    std::string c = "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s " + std::to_string(spec.width) + "x" +
                    std::to_string(spec.height) + " -framerate " + std::to_string(spec.rate) + "/" +
                    std::to_string(spec.scale) + " -i -";
    if (spec.withAudio) c += " -f lavfi -i anullsrc=r=8000:cl=mono -map 0:v -map 1:a -shortest -c:a pcm_s16le";
    if (!spec.emptyPositions.empty())
        c += " -vf " + ShellQuoted("setpts=" + PtsExpression(spec.emptyPositions)) + " -fps_mode passthrough";
    c += " -c:v " + spec.encoder + " -g " + std::to_string(spec.gop) + " -bf " + std::to_string(spec.bFrames);
    if (spec.encoder == "mpeg4" || spec.encoder == "msmpeg4" || spec.encoder == "mjpeg") c += " -qmin 2 -qmax 4";
    if (spec.encoder == "libx264") c += " -preset veryfast -crf 12";
    if (!spec.pixelFormat.empty()) c += " -pix_fmt " + spec.pixelFormat;
    else if (spec.encoder == "mjpeg") c += " -pix_fmt yuvj420p";
    else if (spec.encoder == "rawvideo") c += " -pix_fmt bgr24";
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

bool MakeClip(const std::string& path, const ClipSpec& spec) {
    FILE* encoder = ::popen(EncodeCommand(path, spec).c_str(), "w");
    bool written = encoder != nullptr;
    for (int k = 0; written && k < spec.frames; ++k) {
        const std::vector<std::uint8_t> rgb = DrawPicture(spec.width, spec.height, k);
        written = std::fwrite(rgb.data(), 1, rgb.size(), encoder) == rgb.size();
    }
    const bool ok = encoder && ::pclose(encoder) == 0 && written;
    if (!ok) std::fprintf(stderr, "MakeClip %s: ffmpeg failed\n", path.c_str());
    return ok;
}

int FrameNumberOfDIB(const std::uint8_t* bgr, int width, int height) {
    if (!bgr || width < kGrid || height < kGrid) return -1;
    const int stride = (width * 3 + 3) & ~3;
    const Layout layout = LayoutFor(height);
    int number = 0;
    for (int bit = 0; bit < kGrid * kGrid; ++bit) {
        const int cx = bit % kGrid, cy = bit / kGrid;
        const int x = (2 * cx + 1) * width / (2 * kGrid);
        const int y = layout.gridTop + (2 * cy + 1) * layout.gridHeight / (2 * kGrid);
        const std::uint8_t* p = bgr + static_cast<std::size_t>(height - 1 - y) * stride + x * 3;
        const int luma = (p[0] + 2 * p[1] + p[2]) / 4;
        if (luma > 160) number |= 1 << bit;
        else if (luma >= 96) return -1;  // neither dark nor light: not one of ours
    }
    return number;
}

int FrameNumberOf(const PersistentImage& image) {
    const int width = image.Width(), height = image.Height();
    if (width < kGrid || height < kGrid) return -1;
    // The image is top-down; turn it into the bottom-up layout the reader uses.
    const int stride = (width * 3 + 3) & ~3;
    std::vector<std::uint8_t> dib(static_cast<std::size_t>(stride) * height);
    for (int y = 0; y < height; ++y)
        std::copy_n(image.Row(y), width * 3, dib.begin() + static_cast<std::ptrdiff_t>(height - 1 - y) * stride);
    return FrameNumberOfDIB(dib.data(), width, height);
}

std::vector<int> ExpectedNumbers(const ClipSpec& spec) {
    std::set<int> empty(spec.emptyPositions.begin(), spec.emptyPositions.end());
    std::vector<int> numbers;
    int picture = -1;
    for (int position = 0; picture < spec.frames - 1 || empty.count(position); ++position) {
        if (!empty.count(position)) ++picture;
        numbers.push_back(std::max(picture, 0));
    }
    return numbers;
}

}  // namespace fwtest
