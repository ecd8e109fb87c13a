#include "media/PictureMetrics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include "media/Libav.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// A format whose every component has a plane of its own, one native-endian
// integer sample per pixel: what the metrics read directly.
bool IsPlanar(const AVPixFmtDescriptor* d) {
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL |
                           AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BE)))
        return false;
    if (d->nb_components < 1) return false;
    unsigned planes = 0;
    for (int c = 0; c < d->nb_components; ++c) {
        const AVComponentDescriptor& comp = d->comp[c];
        const int bytes = comp.depth > 8 ? 2 : 1;
        if (comp.step != bytes || comp.shift != 0 || comp.offset != 0 || comp.depth > 16) return false;
        if (planes & (1u << comp.plane)) return false;
        planes |= 1u << comp.plane;
    }
    return true;
}

int Depth(const AVPixFmtDescriptor* d) {
    int depth = 0;
    for (int c = 0; c < d->nb_components; ++c) depth = std::max(depth, d->comp[c].depth);
    return depth;
}

// The planar format ffmpeg's filters would measure a packed, paletted or
// semi-planar picture in: the same components, subsampling and depth, so
// that repacking changes no value. NONE when there is none.
AVPixelFormat PlanarCounterpart(const AVPixFmtDescriptor* d) {
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_FLOAT)))
        return AV_PIX_FMT_NONE;
    const int depth = Depth(d);
    const bool alpha = (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    if (d->flags & AV_PIX_FMT_FLAG_PAL) return AV_PIX_FMT_GBRP;
    if (d->flags & AV_PIX_FMT_FLAG_RGB) {
        if (alpha) return depth <= 8 ? AV_PIX_FMT_GBRAP : AV_PIX_FMT_GBRAP16;
        return depth <= 8 ? AV_PIX_FMT_GBRP : depth <= 9 ? AV_PIX_FMT_GBRP9 : depth <= 10 ? AV_PIX_FMT_GBRP10
             : depth <= 12 ? AV_PIX_FMT_GBRP12 : depth <= 14 ? AV_PIX_FMT_GBRP14 : AV_PIX_FMT_GBRP16;
    }
    for (const AVPixFmtDescriptor* c = av_pix_fmt_desc_next(nullptr); c; c = av_pix_fmt_desc_next(c)) {
        if (!IsPlanar(c) || (c->flags & AV_PIX_FMT_FLAG_RGB) || c->nb_components != d->nb_components ||
            c->log2_chroma_w != d->log2_chroma_w || c->log2_chroma_h != d->log2_chroma_h || Depth(c) != depth ||
            std::string_view(c->name).starts_with("yuvj"))
            continue;
        return av_pix_fmt_desc_get_id(c);
    }
    return AV_PIX_FMT_NONE;
}

// `src` repacked into `format`, or null.
libav::FramePtr Repacked(const AVFrame* src, AVPixelFormat format) {
    libav::FramePtr dst(av_frame_alloc());
    if (!dst) return nullptr;
    dst->format = format;
    dst->width = src->width;
    dst->height = src->height;
    if (av_frame_get_buffer(dst.get(), 0) < 0) return nullptr;
    libav::SwsPtr sws(sws_getContext(src->width, src->height, static_cast<AVPixelFormat>(src->format), src->width,
                                     src->height, format, SWS_POINT | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr,
                                     nullptr, nullptr));
    if (!sws || sws_scale(sws.get(), src->data, src->linesize, 0, src->height, dst->data, dst->linesize) != src->height)
        return nullptr;
    return dst;
}

std::string FormatName(int format) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
    return name ? name : "unknown";
}

int CeilShift(int value, int shift) { return -((-value) >> shift); }

// One plane of a picture: where its rows start and how far apart they are.
struct Plane {
    const std::uint8_t* data;
    std::ptrdiff_t stride;
    int width;
    int height;
};

// Samples per run of the inner loops: a fixed count, so that the compiler
// turns them into vector code without a scalar tail (at -O2 too).
constexpr int kRun = 64;

// The squared differences of kRun samples of at most 12 bits: a 32-bit sum
// holds 64 squares of 24 bits.
template <typename Sample>
std::uint32_t RunSquares(const Sample* __restrict a, const Sample* __restrict b) {
    std::uint32_t sum = 0;
    for (int x = 0; x < kRun; ++x) {
        const int d = int{a[x]} - int{b[x]};
        sum += static_cast<std::uint32_t>(d * d);
    }
    return sum;
}

template <typename Sample>
std::uint64_t SumSquaredErrors(const Plane& a, const Plane& b, int depth) {
    std::uint64_t total = 0;
    for (int y = 0; y < a.height; ++y) {
        const auto* pa = reinterpret_cast<const Sample*>(a.data + y * a.stride);
        const auto* pb = reinterpret_cast<const Sample*>(b.data + y * b.stride);
        int x = 0;
        if (depth <= 12)
            for (; x + kRun <= a.width; x += kRun) total += RunSquares(pa + x, pb + x);
        for (; x < a.width; ++x) {
            const std::int64_t d = std::int64_t{pa[x]} - std::int64_t{pb[x]};
            total += static_cast<std::uint64_t>(d * d);
        }
    }
    return total;
}

double Psnr(double mse, int peak) {
    return 10.0 * std::log10(static_cast<double>(static_cast<unsigned>(peak) * static_cast<unsigned>(peak)) / mse);
}

// Sums of a 4x4 block: a, b, a*a + b*b, a*b.
template <typename Sum>
struct BlockSums {
    Sum s1, s2, ss, s12;
};

// Adds `count` samples of a row to the column sums (vector code for kRun).
template <int count, typename Sample, typename Sum>
void AddColumns(const Sample* __restrict pa, const Sample* __restrict pb, Sum* __restrict c1, Sum* __restrict c2,
                Sum* __restrict css, Sum* __restrict c12) {
    for (int x = 0; x < count; ++x) {
        const Sum va = pa[x], vb = pb[x];
        c1[x] += va;
        c2[x] += vb;
        css[x] += va * va + vb * vb;
        c12[x] += va * vb;
    }
}

// The block sums of one row of 4x4 blocks starting at pixel row 4 * row.
template <typename Sample, typename Sum>
void BlockRow(const Plane& a, const Plane& b, int row, int blocks, std::vector<Sum>& columns,
              std::vector<BlockSums<Sum>>& out) {
    const int width = blocks * 4;
    columns.resize(static_cast<std::size_t>(width) * 4);
    Sum* c1 = columns.data();
    Sum* c2 = c1 + width;
    Sum* css = c2 + width;
    Sum* c12 = css + width;
    std::fill(columns.begin(), columns.end(), Sum{0});
    for (int y = 0; y < 4; ++y) {
        const auto* pa = reinterpret_cast<const Sample*>(a.data + (4 * row + y) * a.stride);
        const auto* pb = reinterpret_cast<const Sample*>(b.data + (4 * row + y) * b.stride);
        int x = 0;
        for (; x + kRun <= width; x += kRun) AddColumns<kRun>(pa + x, pb + x, c1 + x, c2 + x, css + x, c12 + x);
        for (; x < width; ++x) AddColumns<1>(pa + x, pb + x, c1 + x, c2 + x, css + x, c12 + x);
    }
    out.resize(static_cast<std::size_t>(blocks));
    for (int z = 0; z < blocks; ++z) {
        const int x = 4 * z;
        out[z] = {c1[x] + c1[x + 1] + c1[x + 2] + c1[x + 3], c2[x] + c2[x + 1] + c2[x + 2] + c2[x + 3],
                  css[x] + css[x + 1] + css[x + 2] + css[x + 3], c12[x] + c12[x + 1] + c12[x + 2] + c12[x + 3]};
    }
}

// SSIM of one 8x8 window from its sums, in the filter's own integer and
// single-precision arithmetic.
float WindowSsim(std::int64_t s1, std::int64_t s2, std::int64_t ss, std::int64_t s12, int peak, bool eightBit) {
    if (eightBit) {
        constexpr int c1 = static_cast<int>(.01 * .01 * 255 * 255 * 64 + .5);
        constexpr int c2 = static_cast<int>(.03 * .03 * 255 * 255 * 64 * 63 + .5);
        const int fs1 = static_cast<int>(s1), fs2 = static_cast<int>(s2);
        const int vars = static_cast<int>(ss) * 64 - fs1 * fs1 - fs2 * fs2;
        const int covar = static_cast<int>(s12) * 64 - fs1 * fs2;
        return static_cast<float>(2 * fs1 * fs2 + c1) * static_cast<float>(2 * covar + c2) /
               (static_cast<float>(fs1 * fs1 + fs2 * fs2 + c1) * static_cast<float>(vars + c2));
    }
    const double max = peak;
    const auto c1 = static_cast<std::int64_t>(.01 * .01 * max * max * 64 + .5);
    const auto c2 = static_cast<std::int64_t>(.03 * .03 * max * max * 64 * 63 + .5);
    const std::int64_t vars = ss * 64 - s1 * s1 - s2 * s2;
    const std::int64_t covar = s12 * 64 - s1 * s2;
    return static_cast<float>(2 * s1 * s2 + c1) * static_cast<float>(2 * covar + c2) /
           (static_cast<float>(s1 * s1 + s2 * s2 + c1) * static_cast<float>(vars + c2));
}

template <typename Sample, typename Sum>
double PlaneSsim(const Plane& a, const Plane& b, int peak) {
    const int blocksX = a.width >> 2, blocksY = a.height >> 2;
    if (blocksX < 2 || blocksY < 2) return std::numeric_limits<double>::quiet_NaN();
    std::vector<Sum> columns;
    std::vector<BlockSums<Sum>> above, below;
    BlockRow<Sample, Sum>(a, b, 0, blocksX, columns, above);
    double total = 0;
    for (int row = 1; row < blocksY; ++row) {
        BlockRow<Sample, Sum>(a, b, row, blocksX, columns, below);
        double line = 0;
        for (int x = 0; x + 1 < blocksX; ++x) {
            const auto& p = above[x];
            const auto& q = above[x + 1];
            const auto& r = below[x];
            const auto& s = below[x + 1];
            line += WindowSsim(p.s1 + q.s1 + r.s1 + s.s1, p.s2 + q.s2 + r.s2 + s.s2, p.ss + q.ss + r.ss + s.ss,
                               p.s12 + q.s12 + r.s12 + s.s12, peak, sizeof(Sample) == 1);
        }
        total += line;
        std::swap(above, below);
    }
    return total / (static_cast<double>(blocksX - 1) * (blocksY - 1));
}

}  // namespace

std::string MetricsMismatch(int widthA, int heightA, int formatA, int widthB, int heightB, int formatB) {
    if (widthA != widthB || heightA != heightB)
        return "sizes differ (" + std::to_string(widthA) + "x" + std::to_string(heightA) + " and " +
               std::to_string(widthB) + "x" + std::to_string(heightB) + ")";
    if (formatA != formatB)
        return "pixel formats differ (" + FormatName(formatA) + " and " + FormatName(formatB) + ")";
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(formatA));
    if (!IsPlanar(d) && PlanarCounterpart(d) == AV_PIX_FMT_NONE)
        return "pixel format " + FormatName(formatA) + " cannot be measured";
    return {};
}

PictureMetrics MeasurePictures(const AVFrame* a, const AVFrame* b, bool ssim) {
    PictureMetrics m;
    if (!a || !b || !a->data[0] || !b->data[0]) {
        m.reason = "a picture could not be decoded";
        return m;
    }
    m.reason = MetricsMismatch(a->width, a->height, a->format, b->width, b->height, b->format);
    if (!m.reason.empty()) return m;
    if (!IsPlanar(av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a->format)))) {
        const AVPixelFormat planar = PlanarCounterpart(av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a->format)));
        const libav::FramePtr pa = Repacked(a, planar), pb = Repacked(b, planar);
        if (!pa || !pb) {
            m.reason = "pixel format " + FormatName(a->format) + " could not be repacked";
            return m;
        }
        return MeasurePictures(pa.get(), pb.get(), ssim);
    }
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(a->format));
    m.components = d->nb_components;

    // The planes in plane order, as the filters weight them.
    std::array<Plane, 4> planeA{}, planeB{};
    std::array<int, 4> peak{};
    double samples = 0;
    for (int p = 0; p < m.components; ++p) {
        const bool chroma = p == 1 || p == 2;
        const int w = chroma ? CeilShift(a->width, d->log2_chroma_w) : a->width;
        const int h = chroma ? CeilShift(a->height, d->log2_chroma_h) : a->height;
        planeA[p] = {a->data[p], a->linesize[p], w, h};
        planeB[p] = {b->data[p], b->linesize[p], w, h};
        samples += static_cast<double>(w) * h;
    }
    std::array<double, 4> planeMse{};
    double averagePeak = 0;
    for (int p = 0; p < m.components; ++p) {
        // The component stored in plane p.
        int c = 0;
        while (d->comp[c].plane != p) ++c;
        peak[p] = (1 << d->comp[c].depth) - 1;
        const int depth = d->comp[c].depth;
        const std::uint64_t sse = depth > 8 ? SumSquaredErrors<std::uint16_t>(planeA[p], planeB[p], depth)
                                            : SumSquaredErrors<std::uint8_t>(planeA[p], planeB[p], depth);
        planeMse[p] = static_cast<double>(sse) / (static_cast<double>(planeA[p].width) * planeA[p].height);
        const double weight = static_cast<double>(planeA[p].width) * planeA[p].height / samples;
        m.mseAverage += planeMse[p] * weight;
        averagePeak += peak[p] * weight;
        m.mse[c] = planeMse[p];
        m.psnr[c] = Psnr(planeMse[p], peak[p]);
        m.peak[c] = peak[p];
    }
    m.averagePeak = static_cast<int>(std::lrint(averagePeak));
    m.psnrAverage = Psnr(m.mseAverage, m.averagePeak);

    const int first = d->comp[0].plane;
    m.ssimY = !ssim ? std::numeric_limits<double>::quiet_NaN()
            : d->comp[0].depth > 8
                  ? PlaneSsim<std::uint16_t, std::int64_t>(planeA[first], planeB[first], peak[first])
                  : PlaneSsim<std::uint8_t, std::int32_t>(planeA[first], planeB[first], peak[first]);
    m.valid = true;
    return m;
}
