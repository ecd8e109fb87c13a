// One file's figures and their two printed forms: a JSON line and table rows.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct FileResult {
    std::string file;
    std::string codec;
    std::int64_t frames = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    double open_ms, plain_open_ms;
    double seq_fps, plain_seq_fps;
    double rand_ms, bound_rand_ms, ffms2_rand_ms;
    double back_ms, ffms2_back_ms;
    double hit_us, memcpy_us;
    double cached_bytes_per_frame;
    std::int64_t biSizeImage = 0;
    double heap_bytes_per_frame;  // table only: the cache's whole memory cost per frame
    int ffms2_frames = 0;         // table only: frames ffms2 counts
};

std::string JsonLine(const FileResult& r);
std::string MeasurementsHeader();
std::string MeasurementsRow(const FileResult& r);
std::string RatiosHeader();
std::string RatiosRow(const FileResult& r);

}  // namespace bench
