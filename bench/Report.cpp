#include "Report.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace bench {
namespace {

std::string Number(double v, int decimals) {
    if (!std::isfinite(v)) return "–";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string JsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// A ratio against its target: "0.83 ✓" or "1.42 ✗"; "–" without both figures.
std::string Ratio(double ours, double reference, double limit, bool atMost) {
    if (!std::isfinite(ours) || !std::isfinite(reference) || reference <= 0) return "–";
    const double ratio = ours / reference;
    const bool met = atMost ? ratio <= limit : ratio >= limit;
    return Number(ratio, 2) + (met ? " ✓" : " ✗");
}

std::string Row(const std::vector<std::string>& cells) {
    std::string out = "|";
    for (const std::string& c : cells) out += " " + c + " |";
    return out;
}

std::string Name(const FileResult& r) { return std::filesystem::path(r.file).filename().string(); }

}  // namespace

std::string JsonLine(const FileResult& r) {
    const std::vector<std::pair<const char*, std::string>> fields = {
        {"file", JsonString(r.file)},
        {"frames", std::to_string(r.frames)},
        {"width", std::to_string(r.width)},
        {"height", std::to_string(r.height)},
        {"open_ms", JsonNumber(r.open_ms)},
        {"plain_open_ms", JsonNumber(r.plain_open_ms)},
        {"seq_fps", JsonNumber(r.seq_fps)},
        {"plain_seq_fps", JsonNumber(r.plain_seq_fps)},
        {"rand_ms", JsonNumber(r.rand_ms)},
        {"bound_rand_ms", JsonNumber(r.bound_rand_ms)},
        {"ffms2_rand_ms", JsonNumber(r.ffms2_rand_ms)},
        {"back_ms", JsonNumber(r.back_ms)},
        {"ffms2_back_ms", JsonNumber(r.ffms2_back_ms)},
        {"hit_us", JsonNumber(r.hit_us)},
        {"memcpy_us", JsonNumber(r.memcpy_us)},
        {"cached_bytes_per_frame", JsonNumber(r.cached_bytes_per_frame)},
        {"biSizeImage", std::to_string(r.biSizeImage)},
    };
    std::string out = "{";
    for (const auto& [key, value] : fields) out += (out.size() > 1 ? ", \"" : "\"") + std::string(key) + "\": " + value;
    return out + "}";
}

std::string MeasurementsHeader() {
    return "| file | codec | frames | size | open ms | plain open ms | seq fps | plain seq fps | rand ms | "
           "bound rand ms | ffms2 rand ms | back ms | ffms2 back ms | hit µs | memcpy µs | cached B/frame | "
           "biSizeImage |\n"
           "|---|---|--:|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|";
}

std::string MeasurementsRow(const FileResult& r) {
    return Row({Name(r), r.codec, std::to_string(r.frames) + (r.ffms2_frames && r.ffms2_frames != r.frames
                                                                   ? " (ffms2 " + std::to_string(r.ffms2_frames) + ")"
                                                                   : ""),
                std::to_string(r.width) + "×" + std::to_string(r.height), Number(r.open_ms, 2),
                Number(r.plain_open_ms, 2), Number(r.seq_fps, 0), Number(r.plain_seq_fps, 0), Number(r.rand_ms, 2),
                Number(r.bound_rand_ms, 2), Number(r.ffms2_rand_ms, 2), Number(r.back_ms, 2),
                Number(r.ffms2_back_ms, 2), Number(r.hit_us, 1), Number(r.memcpy_us, 1),
                Number(r.cached_bytes_per_frame, 0), std::to_string(r.biSizeImage)});
}

std::string RatiosHeader() {
    return "| file | seq/plain_seq (≥ 0.95) | rand/bound_rand (≤ 1.0) | rand/ffms2_rand (≤ 0.7) | "
           "back/(1000/seq) (≤ 2) | hit/memcpy (≤ 2) | open/plain_open (≤ 1.5) | memory per cached frame − "
           "biSizeImage (B) |\n"
           "|---|--:|--:|--:|--:|--:|--:|--:|";
}

std::string RatiosRow(const FileResult& r) {
    const double frameMs = std::isfinite(r.seq_fps) && r.seq_fps > 0 ? 1000.0 / r.seq_fps : NAN;
    return Row({Name(r), Ratio(r.seq_fps, r.plain_seq_fps, 0.95, false), Ratio(r.rand_ms, r.bound_rand_ms, 1.0, true),
                Ratio(r.rand_ms, r.ffms2_rand_ms, 0.7, true), Ratio(r.back_ms, frameMs, 2.0, true),
                Ratio(r.hit_us, r.memcpy_us, 2.0, true), Ratio(r.open_ms, r.plain_open_ms, 1.5, true),
                Number(r.heap_bytes_per_frame - static_cast<double>(r.biSizeImage), 0)});
}

}  // namespace bench
