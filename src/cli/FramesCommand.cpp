// framewise-cli frames: the facts of every position, from the frame table.
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/Commands.h"
#include "clip/cAVI.h"
#include "platform/mAVIDecs.h"

namespace {

std::string Number(std::int64_t value) {
    return value == TablePacket::kNoTime ? std::string() : std::to_string(value);
}

std::string Seconds(double seconds) {
    if (seconds < 0) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    return text;
}

// The picture type once decoded: key frames are intra pictures.
std::string TypeOf(FrameKind kind) {
    switch (kind) {
        case FrameKind::Key:
        case FrameKind::I: return "I";
        case FrameKind::P: return "P";
        case FrameKind::B: return "B";
        case FrameKind::Repeat: return "";
        default: return "?";
    }
}

struct Row {
    std::string frame, pts, dts, time, key, repeat, repeatOf, pos, size, type;
};

Row RowOf(const FrameFacts& f, const std::string& type) {
    return {std::to_string(f.position),
            Number(f.pts),
            Number(f.dts),
            Seconds(f.seconds),
            f.key ? "1" : "0",
            f.repeat ? "1" : "0",
            f.repeat ? std::to_string(f.repeatOf) : std::string(),
            f.packetPos >= 0 ? std::to_string(f.packetPos) : std::string(),
            f.packetSize > 0 ? std::to_string(f.packetSize) : std::string(),
            type};
}

void PrintCsv(const Row& r, bool types) {
    std::cout << r.frame << ',' << r.pts << ',' << r.dts << ',' << r.time << ',' << r.key << ',' << r.repeat << ','
              << r.repeatOf << ',' << r.pos << ',' << r.size;
    if (types) std::cout << ',' << r.type;
    std::cout << '\n';
}

void PrintJson(const Row& r, bool types, bool last) {
    const auto value = [](const std::string& v) { return v.empty() ? std::string("null") : v; };
    std::cout << "  {\"frame\": " << r.frame << ", \"pts\": " << value(r.pts) << ", \"dts\": " << value(r.dts)
              << ", \"time\": " << value(r.time) << ", \"key\": " << (r.key == "1" ? "true" : "false")
              << ", \"repeat\": " << (r.repeat == "1" ? "true" : "false") << ", \"repeat_of\": " << value(r.repeatOf)
              << ", \"pkt_pos\": " << value(r.pos) << ", \"pkt_size\": " << value(r.size);
    if (types) std::cout << ", \"type\": " << (r.type.empty() ? "null" : "\"" + r.type + "\"");
    std::cout << (last ? "}\n" : "},\n");
}

}  // namespace

int FramesCommand(const std::string& path, bool json, bool types) {
    cAVI clip;
    if (!clip.LoadAVI(path)) return 1;
    StreamFacts format;
    AVIStreamGetFormatFacts(clip.Stream(), nullptr, &format);
    if (json)
        std::cout << "{\"time_base\": \"" << format.timeBaseNum << '/' << format.timeBaseDen << "\",\n\"frames\": [\n";
    else
        std::cout << "frame,pts,dts,time,key,repeat,repeat_of,pkt_pos,pkt_size" << (types ? ",type" : "") << '\n';
    int status = 0;
    for (std::int32_t frame = clip.GetFirstFrame(); frame <= clip.GetLastFrame(); ++frame) {
        FrameFacts facts;
        if (AVIStreamGetFrameFacts(clip.Stream(), frame, &facts) != 0) {
            std::cerr << "framewise-cli: no facts for frame " << frame << "\n";
            status = 1;
            break;
        }
        std::string type;
        if (types) {
            cDIBx dib;
            if (!clip.ReadFrame(frame, dib)) {
                std::cerr << "framewise-cli: frame " << frame << " could not be decoded\n";
                status = 1;
            }
            type = TypeOf(clip.GetFrameKind(frame));
        }
        const Row row = RowOf(facts, type);
        if (json) PrintJson(row, types, frame == clip.GetLastFrame());
        else PrintCsv(row, types);
    }
    if (json) std::cout << "]}\n";
    return status;
}
