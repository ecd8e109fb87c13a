// A clip's first video stream opened through the file service as 24-bit
// bitmaps, with the decoder threads, kept pictures and decode-ahead given.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ReferenceDecode.h"
#include "platform/mAVIDecs.h"

namespace fwtest {

class StreamFrames {
public:
    StreamFrames(const std::string& path, bool ahead, int threads, std::size_t keepBytes) {
        AVISetReaderSettings(threads, keepBytes);
        AVISetDecodeAhead(ahead);
        if (AVIFileOpen(&file_, path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
            AVIFileGetStream(file_, &stream_, streamtypeVIDEO, 0) == AVIERR_OK) {
            AVISTREAMINFOA info;
            AVIStreamInfo(stream_, &info, sizeof info);
            first_ = AVIStreamStart(stream_);
            count_ = AVIStreamLength(stream_);
            wanted_.biSize = sizeof wanted_;
            wanted_.biWidth = info.rcFrame.right - info.rcFrame.left;
            wanted_.biHeight = info.rcFrame.bottom - info.rcFrame.top;
            wanted_.biPlanes = 1;
            wanted_.biBitCount = 24;
            frames_ = AVIStreamGetFrameOpen(stream_, &wanted_);
        }
        AVISetReaderSettings(0, ReaderKeepBytes());
        AVISetDecodeAhead(true);
    }
    StreamFrames(const StreamFrames&) = delete;
    StreamFrames& operator=(const StreamFrames&) = delete;
    ~StreamFrames() {
        Close();
        if (stream_) AVIStreamRelease(stream_);
        if (file_) AVIFileRelease(file_);
    }
    bool Ok() const { return frames_ != nullptr; }
    void Close() {
        if (frames_) AVIStreamGetFrameClose(frames_);
        frames_ = nullptr;
    }
    LONG Count() const { return count_; }
    int RowBytes() const { return (wanted_.biWidth * 3 + 3) & ~3; }
    std::size_t Bytes() const { return sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(RowBytes()) * wanted_.biHeight; }
    // The bitmap of frame `first + index`.
    std::shared_ptr<const std::uint8_t[]> Get(LONG index) { return AVIStreamGetFrameShared(frames_, first_ + index); }
    // CRC of frame `first + index`'s pixels; 0 when nothing came.
    std::uint32_t Crc(LONG index) {
        const auto bitmap = Get(index);
        return bitmap ? PictureCrc(bitmap.get() + sizeof(BITMAPINFOHEADER), wanted_.biWidth, wanted_.biHeight) : 0;
    }
    FrameReaderStats Stats() const { return AVIStreamGetFrameStats(frames_); }
    std::vector<LONG> Keys() const { return AVIStreamKeyFrames(stream_); }

private:
    PAVIFILE file_ = nullptr;
    PAVISTREAM stream_ = nullptr;
    PGETFRAME frames_ = nullptr;
    BITMAPINFOHEADER wanted_{};
    LONG first_ = 0, count_ = 0;
};

}  // namespace fwtest
