// framewise-cli: a clip's properties, any frame exported as BMP or PNG, a BMP's header.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include <filesystem>
#include <vector>

#include "bitmap/cDIBx.h"
#include "cli/Commands.h"
#include "clip/cAVI.h"
#include "platform/MsgBox.h"
#include "platform/mAVIDecs.h"
#include "window/frameimage/FrameImage.h"

namespace {

int Usage() {
    std::cerr << "usage: framewise-cli info FILE\n"
                 "       framewise-cli frames FILE [--json] [--types]\n"
                 "       framewise-cli frame FILE N OUT.bmp|OUT.png\n"
                 "       framewise-cli frame FILE N|A-B|A-B:S|@LIST[,...] OUTDIR/ [--png]\n"
                 "       framewise-cli bmpinfo FILE.bmp\n";
    return 1;
}

bool ParseFrame(std::string_view text, std::int32_t& frame) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, frame);
    return ec == std::errc() && ptr == end;
}

int Info(const std::string& path) {
    cAVI clip;
    if (!clip.LoadAVI(path)) return 1;
    std::cout << "first: " << clip.GetFirstFrame() << "\n"
              << "frames: " << clip.GetFrameCount() << "\n"
              << "rate: " << clip.GetRate() << "/" << clip.GetScale() << "\n"
              << "fps: " << clip.GetFPS() << "\n"
              << "width: " << clip.GetWidth() << "\n"
              << "height: " << clip.GetHeight() << "\n"
              << "codec: " << clip.GetCodecName() << "\n"
              << "container: " << clip.GetContainerName() << "\n";
    PrintFormatLines(clip, std::cout);
    return 0;
}

int Frame(const std::string& path, std::string_view frameText, const std::string& out) {
    std::int32_t frame = 0;
    if (!ParseFrame(frameText, frame)) {
        std::cerr << "framewise-cli: not a frame number: " << frameText << "\n";
        return 1;
    }
    cAVI clip;
    if (!clip.LoadAVI(path)) return 1;
    if (frame < clip.GetFirstFrame() || frame > clip.GetLastFrame()) {
        std::cerr << "framewise-cli: frame " << frame << " is outside " << clip.GetFirstFrame() << ".."
                  << clip.GetLastFrame() << "\n";
        return 1;
    }
    cDIBx dib;
    if (!clip.ReadFrame(frame, dib)) {
        std::cerr << "framewise-cli: frame " << frame << " could not be decoded\n";
        return 1;
    }
    if (std::string error; !WriteFrameFile(dib, out, error)) {
        std::cerr << "framewise-cli: could not write " << out << ": " << error << "\n";
        return 1;
    }
    return 0;
}

int BmpInfo(const std::string& path) {
    cDIBx dib;
    if (!dib.CreateFromFile(path)) return 1;
    std::cout << "type: " << dib.FileType() << "\n"
              << "file_size: " << dib.SizeFileHeader() << "\n"
              << "bits_offset: " << dib.BitOffset() << "\n"
              << "header_size: " << dib.SizeInfoHeader() << "\n"
              << "width: " << dib.Width() << "\n"
              << "height: " << dib.Height() << "\n"
              << "planes: " << dib.Planes() << "\n"
              << "bit_count: " << dib.BitCount() << "\n"
              << "compression: " << dib.Compression() << "\n"
              << "image_size: " << dib.SizeImage() << "\n"
              << "x_ppm: " << dib.XPPM() << "\n"
              << "y_ppm: " << dib.YPPM() << "\n"
              << "colors_used: " << dib.ClrUsed() << "\n"
              << "colors_important: " << dib.ClrImportant() << "\n"
              << "info_block: " << dib.SizeBitmapInfo() << "\n"
              << "mem_used: " << dib.MemUsed() << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    SetMessageBoxHandler([](const std::string& text, const std::string&, int) {
        std::string line;
        for (char c : text) {
            if (c == '\n') line += ' ';
            else if (c != '\r') line += c;
        }
        std::cerr << "framewise-cli: " << line << "\n";
    });
    AVIFileInit();
    int rc = 1;
    const std::string_view command = argc > 1 ? argv[1] : "";
    // Options (--name) apart from the positional arguments.
    std::vector<std::string> args, options;
    for (int i = 2; i < argc; ++i) (std::string_view(argv[i]).starts_with("--") ? options : args).push_back(argv[i]);
    const auto option = [&](std::string_view name) {
        return std::find(options.begin(), options.end(), name) != options.end();
    };
    const auto outDir = [](const std::string& out) { return out.ends_with('/') || std::filesystem::is_directory(out); };
    if (command == "frames" && args.size() == 1) {
        rc = FramesCommand(args[0], option("--json"), option("--types"));
    } else if (command == "frame" && args.size() == 3 && outDir(args[2])) {
        rc = ExportFramesCommand(args[0], args[1], args[2], option("--png"));
    } else if (command == "info" && argc == 3) {
        rc = Info(argv[2]);
    } else if (command == "frame" && argc == 5) {
        rc = Frame(argv[2], argv[3], argv[4]);
    } else if (command == "bmpinfo" && argc == 3) {
        rc = BmpInfo(argv[2]);
    } else {
        rc = Usage();
    }
    AVIFileExit();
    return rc;
}
