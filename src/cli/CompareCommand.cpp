// framewise-cli compare: two clips frame by frame, as CSV.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "cli/Commands.h"
#include "clip/ClipCompare.h"
#include "clip/cAVI.h"
#include "platform/mAVIDecs.h"

namespace {

std::string Number(double value, int decimals) {
    if (std::isinf(value)) return "inf";
    if (std::isnan(value)) return "nan";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// psnr_y,psnr_u,psnr_v,psnr_avg,ssim_y; a grey picture has no U and V.
std::string MetricCells(const PictureMetrics& m) {
    if (!m.valid) return ",,,,";
    std::string cells = Number(m.psnr[0], 4);
    for (int c = 1; c < 3; ++c) cells += "," + (c < m.components ? Number(m.psnr[c], 4) : std::string());
    return cells + "," + Number(m.psnrAverage, 4) + "," + (std::isnan(m.ssimY) ? std::string() : Number(m.ssimY, 6));
}

}  // namespace

int CompareCommand(const std::string& pathA, const std::string& pathB, std::int32_t offset, std::int32_t from,
                   std::int32_t to, bool noSsim) {
    // The pass reads each position once, in order, A's and B's at the same
    // time on threads of their own: each reader may use every core (the
    // clip that decodes slower takes what the other leaves), keeps nothing
    // for stepping back and needs no decoding ahead.
    AVISetReaderSettings(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())), 0);
    AVISetDecodeAhead(false);
    cAVI a, b;
    if (!a.LoadAVI(pathA) || !b.LoadAVI(pathB)) return 1;
    const PairedFrames frames = PairFrames(a, b, offset, from, to);
    if (frames.Count() == 0) {
        std::cerr << "framewise-cli: no frame of " << pathA << " has a partner in " << pathB << " at offset " << offset
                  << " within the frames asked for\n";
        return 1;
    }
    // Sizes and pixel formats hold for a whole clip: a first pair that cannot
    // be compared ends the command before any numbers.
    const PictureMetrics first = CompareClipFrames(a, frames.first, b, frames.first + offset);
    if (!first.valid) {
        std::cerr << "framewise-cli: no metrics: " << first.reason << "\n";
        return 1;
    }
    std::cout << "frame_a,frame_b,psnr_y,psnr_u,psnr_v,psnr_avg,ssim_y\n";
    MetricsSummary summary;
    ComparePass(a, b, offset, frames, [&](const FrameMetrics& f) {
        if (!f.metrics.valid) std::cerr << "framewise-cli: frame " << f.frameA << ": " << f.metrics.reason << "\n";
        std::cout << f.frameA << "," << f.frameB << "," << MetricCells(f.metrics) << "\n";
        summary.Add(f);
        return true;
    }, !noSsim);
    const FrameMetrics& worst = summary.Worst();
    std::cout << "\nstatistic,frame_a,frame_b,psnr_y,psnr_u,psnr_v,psnr_avg,ssim_y\n"
              << "mean,,," << MetricCells(summary.Mean()) << "\n"
              << "min," << worst.frameA << "," << worst.frameB << "," << MetricCells(worst.metrics) << "\n";
    return 0;
}
