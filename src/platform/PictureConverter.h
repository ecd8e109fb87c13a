// Turns decoded pictures into the pixels of a packed bitmap: 24-bit BGR rows,
// bottom-up, each padded to 4 bytes, byte for byte the picture the converter
// gives top-down (what the ffmpeg program writes for -pix_fmt bgr24).
// Internal to the platform library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Libav.h"

class PictureConverter {
public:
    PictureConverter(int width, int height);

    // Writes `picture`, scaled to the frame size when its own size differs,
    // into `pixels` (height rows of RowBytes()). Nothing else is written, not
    // even the rows' padding. False when the converter refuses the picture.
    bool Convert(const AVFrame* picture, std::uint8_t* pixels);
    int RowBytes() const { return rowBytes_; }

private:
    bool Prepare(const AVFrame* picture);
    bool StraightIsExact(const AVFrame* like);
    bool ProbeStraight(const AVFrame* like);
    bool ConvertStraight(const AVFrame* picture, std::uint8_t* pixels);
    bool ConvertThroughFrame(const AVFrame* picture, std::uint8_t* pixels);

    int width_;
    int height_;
    int rowBytes_;
    libav::SwsPtr sws_;
    int space_ = -1;      // colour matrix and range the context was given
    int fullRange_ = -1;
    bool straight_ = false;  // the probe's verdict for the current context
    libav::FramePtr topDown_;  // the converter's own layout, made when first needed
};
