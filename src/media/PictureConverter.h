// Turns decoded pictures into the pixels of a packed bitmap: 24-bit BGR rows,
// bottom-up, each padded to 4 bytes, byte for byte the picture the converter
// gives top-down (what the ffmpeg program writes for -pix_fmt bgr24).
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/Libav.h"

class PictureConverter {
public:
    // Bytes after the last row that a conversion may overwrite: libav's input
    // padding (AV_INPUT_BUFFER_PADDING_SIZE), wider than the blocks its vector
    // stores write past a row's end. A pixel block must have them.
    static constexpr std::size_t kSlackBytes = 64;

    PictureConverter(int width, int height);

    // Writes `picture`, scaled to the frame size when its own size differs,
    // into `pixels` (height rows of RowBytes(), then kSlackBytes). Row padding
    // that was zero is zero afterwards. False when the converter refuses the
    // picture.
    bool Convert(const AVFrame* picture, std::uint8_t* pixels);
    int RowBytes() const { return rowBytes_; }

private:
    // How the pixels reach the bitmap: with a negative stride, from the
    // picture read bottom row first, or through a top-down frame.
    enum class Mode { Straight, Flipped, ThroughFrame };

    bool Prepare(const AVFrame* picture);
    Mode ModeFor(const AVFrame* like);
    Mode ProbeMode(const AVFrame* like);
    bool ConvertWith(Mode mode, const AVFrame* picture, std::uint8_t* pixels);
    bool ConvertStraight(const AVFrame* picture, std::uint8_t* pixels);
    bool ConvertFlipped(const AVFrame* picture, std::uint8_t* pixels);
    bool ConvertThroughFrame(const AVFrame* picture, std::uint8_t* pixels);

    // What the context was made for.
    struct Source {
        int format = -1;
        int width = 0;
        int height = 0;
        bool operator==(const Source&) const = default;
    };

    int width_;
    int height_;
    int rowBytes_;
    libav::SwsPtr sws_;
    Source source_;
    int space_ = -1;      // colour matrix and range the context was given
    int fullRange_ = -1;
    Mode mode_ = Mode::ThroughFrame;  // the probe's verdict for the current context
    libav::FramePtr topDown_;  // the converter's own layout, made when first needed
};
