// framewise-cli: a clip's properties, every position's facts, any frames
// exported as BMP or PNG, a BMP's header, and proof that every frame of a file
// is fetched exactly.
// Exit status: 0 done, 1 the operation failed, 2 the command line was wrong.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include <unistd.h>

#include <random>

#include <CLI/CLI.hpp>

#include "bitmap/cDIBx.h"
#include "cli/Commands.h"
#include "cli/Verify.h"
#include "clip/cAVI.h"
#include "platform/MsgBox.h"
#include "platform/mAVIDecs.h"
#include "window/frameimage/FrameImage.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

bool ParseFrame(std::string_view text, std::int32_t& frame) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, frame);
    return ec == std::errc() && ptr == end;
}

int Info(const std::string& path) {
    cAVI clip;
    if (!clip.LoadAVI(path)) return kFailed;
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

int Frame(const std::string& path, std::int32_t frame, const std::string& out) {
    cAVI clip;
    if (!clip.LoadAVI(path)) return kFailed;
    if (!clip.HasFrame(frame)) {
        std::cerr << "framewise-cli: frame " << frame << " is outside " << clip.GetFirstFrame() << ".."
                  << clip.GetLastFrame() << "\n";
        return kFailed;
    }
    cDIBx dib;
    if (!clip.ReadFrame(frame, dib)) {
        std::cerr << "framewise-cli: frame " << frame << " could not be decoded\n";
        return kFailed;
    }
    if (std::string error; !WriteFrameFile(dib, out, error)) {
        std::cerr << "framewise-cli: could not write " << out << ": " << error << "\n";
        return kFailed;
    }
    return 0;
}

int BmpInfo(const std::string& path) {
    cDIBx dib;
    if (!dib.CreateFromFile(path)) return kFailed;
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

// A value a subcommand's option writes and its callback reads; it outlives
// the parse because the callback shares it.
template <typename T>
std::shared_ptr<T> Value() {
    return std::make_shared<T>();
}

bool IsCommand(CLI::App& app, const std::string& word) {
    return !app.get_subcommands([&word](const CLI::App* command) { return command->check_name(word); }).empty();
}

// Message boxes of the clip and the bitmap become one line on stderr.
void ReportMessagesOnStderr() {
    SetMessageBoxHandler([](const std::string& text, const std::string&, int) {
        std::string line;
        for (char c : text) {
            if (c == '\n') line += ' ';
            else if (c != '\r') line += c;
        }
        std::cerr << "framewise-cli: " << line << "\n";
    });
}

// Each Add...Command adds one command: its arguments, then a callback that
// runs it and keeps its exit status in `status`, which outlives the parse.

// A command whose only argument is FILE: info FILE, bmpinfo FILE.
void AddFileCommand(CLI::App& app, int& status, const std::string& name, const std::string& description,
                    const std::string& fileHelp, int (*run)(const std::string&)) {
    auto* command = app.add_subcommand(name, description);
    auto file = Value<std::string>();
    command->add_option("FILE", *file, fileHelp)->required();
    command->callback([&status, file, run] { status = run(*file); });
}

// frame FILE N OUT [--png]
void AddFrameCommand(CLI::App& app, int& status) {
    auto* command = app.add_subcommand(
        "frame", "Frame N of a clip as a 24-bit BMP (a PNG when OUT ends in .png), or the frames of a list "
                 "into the folder OUT/");
    auto file = Value<std::string>();
    auto frame = Value<std::string>();
    auto out = Value<std::string>();
    auto png = Value<bool>();
    command->add_option("FILE", *file, "The video file")->required();
    command->add_option("N", *frame, "A frame number; with a folder OUT, a list: N, A-B, A-B:S (every S-th), "
                                     "@FILE (one item a line), joined by commas")->required();
    command->add_option("OUT", *out, "The image file to write, or a folder (ending in /) for a list")->required();
    command->add_flag("--png", *png, "With a folder OUT: write PNG files instead of BMP");
    command->callback([&status, file, frame, out, png] {
        if (out->ends_with('/') || std::filesystem::is_directory(*out)) {
            status = ExportFramesCommand(*file, *frame, *out, *png);
            return;
        }
        std::int32_t n = 0;
        if (!ParseFrame(*frame, n)) throw CLI::ValidationError("N", "not a frame number: " + *frame);
        status = Frame(*file, n, *out);
    });
}

// frames FILE [--json] [--types]
void AddFramesCommand(CLI::App& app, int& status) {
    auto* command = app.add_subcommand(
        "frames", "Every position: frame, pts, dts, time, key, repeat, packet position and size (CSV)");
    auto file = Value<std::string>();
    auto json = Value<bool>();
    auto types = Value<bool>();
    command->add_option("FILE", *file, "The video file")->required();
    command->add_flag("--json", *json, "JSON instead of CSV");
    command->add_flag("--types", *types, "Also each picture's type (I, P, B): decodes every frame");
    command->callback([&status, file, json, types] { status = FramesCommand(*file, *json, *types); });
}

// compare A B [--offset K] [--from N] [--to M] [--no-ssim]
void AddCompareCommand(CLI::App& app, int& status) {
    auto* command = app.add_subcommand(
        "compare", "PSNR (Y, U, V, average) and SSIM (Y) of clip A against clip B, frame by frame (CSV)");
    auto fileA = Value<std::string>();
    auto fileB = Value<std::string>();
    auto offset = Value<std::int32_t>();
    auto from = Value<std::int32_t>();
    auto to = Value<std::int32_t>();
    auto noSsim = Value<bool>();
    *from = std::numeric_limits<std::int32_t>::min();
    *to = std::numeric_limits<std::int32_t>::max();
    command->add_option("A", *fileA, "The clip measured")->required();
    command->add_option("B", *fileB, "The clip it is compared with")->required();
    command->add_option("--offset", *offset, "Frame N of A is compared with frame N + K of B (default 0)")
        ->type_name("K");
    command->add_option("--from", *from, "The first frame of A to compare")->type_name("N");
    command->add_option("--to", *to, "The last frame of A to compare")->type_name("M");
    command->add_flag("--no-ssim", *noSsim, "PSNR only: the ssim_y column stays empty, the pass is quicker");
    command->footer("Rows: frame_a, frame_b, psnr_y, psnr_u, psnr_v, psnr_avg (dB, inf when equal), ssim_y;\n"
                    "then the mean (PSNR of the mean MSE, as ffmpeg's psnr filter sums up) and the\n"
                    "frame with the lowest average PSNR. Only frames both clips have are compared.");
    command->callback([&status, fileA, fileB, offset, from, to, noSsim] {
        status = CompareCommand(*fileA, *fileB, *offset, *from, *to, *noSsim);
    });
}

// verify FILE [--seed S] [--positions all|N]
void AddVerifyCommand(CLI::App& app, int& status) {
    auto* command = app.add_subcommand("verify", "Checks that every frame fetched by jumping is the frame read straight through");
    auto file = Value<std::string>();
    auto seed = Value<std::uint32_t>();
    auto positions = Value<std::string>();
    *seed = std::random_device{}();
    *positions = "all";
    command->add_option("FILE", *file, "The video file")->required();
    command->add_option("--seed", *seed, "Seed of the random jumps (printed when not given)");
    command->add_option("--positions", *positions, "all, or N: a seeded sample of N frames")
        ->check([](const std::string& text) {
            std::int32_t n = 0;
            return text == "all" || (ParseFrame(text, n) && n > 0) ? std::string()
                                                                    : "not all or a positive count: " + text;
        });
    command->callback([&status, file, seed, positions] {
        std::int32_t n = 0;  // 0: every position
        if (*positions != "all") ParseFrame(*positions, n);
        status = VerifyFile(*file, *seed, n, ::isatty(STDERR_FILENO) == 1, std::cout, std::cerr);
    });
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Prints a video clip's properties and exports any of its frames as BMP or PNG.",
                 "framewise-cli");
    app.set_version_flag("--version", std::string("framewise-cli ") + FRAMEWISE_VERSION);
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("framewise-cli: ") + e.what() + "\nRun 'framewise-cli --help' for usage.\n";
    });

    int status = 0;
    AddFileCommand(app, status, "info", "A clip's first frame, frame count, rate, size, codec, container",
                   "The video file", Info);
    AddFrameCommand(app, status);
    AddFramesCommand(app, status);
    AddCompareCommand(app, status);
    AddFileCommand(app, status, "bmpinfo", "The header fields of a BMP file", "The BMP file", BmpInfo);
    AddVerifyCommand(app, status);

    // Set after the commands, which would inherit it.
    app.footer("Run 'framewise-cli COMMAND --help' for the arguments of one command.\n"
               "Exit status: 0 done, 1 the operation failed (its message is on standard error),\n"
               "2 the command line was wrong.");

    ReportMessagesOnStderr();
    AVIFileInit();
    try {
        // CLI11 would only say that a command is missing; name the word it did not know.
        if (argc > 1 && argv[1][0] != '-' && !IsCommand(app, argv[1]))
            throw CLI::ExtrasError("unknown command: " + std::string(argv[1]), CLI::ExitCodes::ExtrasError);
        app.parse(argc, argv);  // runs the chosen command's callback
    } catch (const CLI::ParseError& e) {
        status = app.exit(e) == 0 ? 0 : kUsageError;  // --help and --version exit 0
    }
    AVIFileExit();
    return status;
}
