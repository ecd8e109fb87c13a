// framebench-clips DIR [NAME...]: writes the generated benchmark clips (or
// only those named) into DIR, each only if it is missing. Long GOPs make
// random access and stepping back cost what they cost in real footage;
// ffmpeg's moving test pattern gives the decoder real work.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>


namespace {

struct BenchClip {
    const char* name;
    const char* encoder;
    int width, height, frames, gop, bFrames;
    int rate = 25;
};

constexpr BenchClip kClips[] = {
    {"asp-640x480-b2-gop250.avi", "mpeg4", 640, 480, 500, 250, 2},
    {"h264-1280x720-gop250.avi", "libx264", 1280, 720, 300, 250, 2},
    {"mjpeg-1920x1080.avi", "mjpeg", 1920, 1080, 120, 1, 0},
    {"h264-1920x1080-gop120.avi", "libx264", 1920, 1080, 240, 120, 2},
    // Phone and screen-recorder footage comes as MP4 or MKV with long GOPs.
    {"h264-1280x720-gop250.mp4", "libx264", 1280, 720, 500, 250, 2},
    {"h264-1280x720-gop250.mkv", "libx264", 1280, 720, 500, 250, 2},
    {"h264-1920x1080-gop250.mp4", "libx264", 1920, 1080, 500, 250, 2},
    // Held Left from the last frame crosses two key frames within 600 steps.
    {"h264-1920x1080-gop250x3.mp4", "libx264", 1920, 1080, 760, 250, 2},
    {"hevc-1920x1080-gop250x3.mp4", "libx265", 1920, 1080, 760, 250, 2},
    {"h264-3840x2160-gop250x3.mp4", "libx264", 3840, 2160, 760, 250, 2},
    {"hevc-3840x2160-gop250x3.mp4", "libx265", 3840, 2160, 760, 250, 2},
    // Played in the window at their own rate: big frames drawn in time.
    {"h264-1920x1080-60fps.mp4", "libx264", 1920, 1080, 360, 60, 2, 60},
    {"h264-3840x2160-30fps.mp4", "libx264", 3840, 2160, 150, 30, 2, 30},
};

bool Write(const std::filesystem::path& path, const BenchClip& clip) {
    const std::string mjpeg = std::string(clip.encoder) == "mjpeg" ? " -pix_fmt yuvj420p" : " -pix_fmt yuv420p";
    const std::string x265Quiet = std::string(clip.encoder) == "libx265" ? " -x265-params log-level=error" : "";
    const std::string command = "ffmpeg -v error -y -f lavfi -i testsrc2=s=" + std::to_string(clip.width) + "x" +
                                std::to_string(clip.height) + ":r=" + std::to_string(clip.rate) + " -frames:v " + std::to_string(clip.frames) +
                                " -c:v " + clip.encoder + " -g " + std::to_string(clip.gop) + " -bf " +
                                std::to_string(clip.bFrames) + mjpeg + " -q:v 3 -crf 18 -preset veryfast" + x265Quiet + " '" +
                                path.string() + "'";
    std::printf("writing %s\n", path.c_str());
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: framebench-clips DIR [NAME...]\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    int failures = 0;
    const std::vector<std::string> only(argv + 2, argv + argc);
    for (const BenchClip& clip : kClips) {
        if (!only.empty() && std::find(only.begin(), only.end(), clip.name) == only.end()) continue;
        const std::filesystem::path path = dir / clip.name;
        if (!std::filesystem::exists(path) && !Write(path, clip)) ++failures;
    }
    return failures ? 1 : 0;
}
