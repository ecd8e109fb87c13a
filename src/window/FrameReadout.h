// The texts beside the picture: where the shown frame lies in its clip, the
// value of a pixel, and reading a frame number or a time the user typed.
#pragma once

#include <cstdint>
#include <optional>

#include <QPoint>
#include <QString>

#include "platform/mAVIDecs.h"

// A clip's frame range and exact rate (rate / scale frames per second).
struct ClipTiming {
    std::int32_t first = 0;
    std::int32_t last = 0;
    std::int32_t rate = 0;
    std::int32_t scale = 0;

    // Milliseconds from the first frame to `frame`, rounded to the nearest.
    std::int64_t MsOf(std::int64_t frame) const;
    // The frame shown at `ms` after the first frame: the last one whose time
    // (as MsOf gives it) is not after `ms`.
    std::int64_t FrameAt(std::int64_t ms) const;
};

// What separates the facts of a readout line: "Frame 7 of 0–9 · 0:00:00.280".
inline const QString kReadoutDot = QStringLiteral(" \u00B7 ");

// "1:02:03.040"
QString FormatTime(std::int64_t ms);
// "Frame 4711 of 0–9999 · 0:03:08.440 · key"; a kind not known yet is left out.
QString FrameText(const ClipTiming& timing, std::int32_t frame, FrameKind kind);
// "x 120 y 45 · R 12 G 200 B 33" for a pixel given as 0xRRGGBB.
QString PixelText(QPoint pixel, std::uint32_t rgb);

// A frame number, h:mm:ss.mmm, m:ss.mmm, or seconds ("12.5", "12s") read
// against the clip: the frame it names, or a short reason why it names none.
struct GoToAnswer {
    std::optional<std::int32_t> frame;
    QString reason;
};
GoToAnswer ReadGoTo(const ClipTiming& timing, const QString& text);
