// Per-frame quality metrics of two decoded pictures, in their own pixel
// format (before any conversion), defined as ffmpeg's psnr and ssim filters
// define them:
//  - PSNR per component from its MSE over the whole plane, with the peak
//    (1 << depth) - 1; the average weights each component's MSE by its share
//    of all samples and uses the rounded weighted peak;
//  - SSIM of the first component from 4x4 block sums combined into
//    overlapping 8x8 windows (the filter's fast approximation).
// Identical planes have an MSE of 0 and an infinite PSNR. A packed,
// paletted or semi-planar picture is measured as the filters get it: repacked
// without loss into the planar format of the same components and depth
// (bgr0 as gbrp, nv12 as yuv420p); its Y, U, V are then R, G, B for RGB.
#pragma once

#include <array>
#include <memory>
#include <string>

struct AVFrame;

// A decoded picture in its own format, shared and never written again; its
// buffers are reference-counted, so it may be measured on another thread.
using SourcePicture = std::shared_ptr<const AVFrame>;

struct PictureMetrics {
    bool valid = false;
    std::string reason;   // why no metrics, when not valid
    int components = 0;   // components compared: 1 (grey), 3, or 4 (with alpha)
    // Per component in the format's own order: Y, U, V (or R, G, B) and alpha.
    std::array<double, 4> mse{};
    std::array<double, 4> psnr{};
    double mseAverage = 0;
    double psnrAverage = 0;
    double ssimY = 0;     // NaN when not asked for, or the planes are under 8x8
    std::array<int, 4> peak{};  // per component: (1 << depth) - 1
    int averagePeak = 0;        // the rounded peak weighted as the MSEs are
    bool Identical() const { return valid && mseAverage == 0; }
};

// Why pictures of these two formats cannot be compared, or empty when they
// can (same size, same planar format).
std::string MetricsMismatch(int widthA, int heightA, int formatA, int widthB, int heightB, int formatB);

// The metrics of `a` against `b`, or an invalid result with its reason.
// Without `ssim` only the PSNRs (a graph of PSNR needs no more).
PictureMetrics MeasurePictures(const AVFrame* a, const AVFrame* b, bool ssim = true);
