// framewise-cli frame FILE LIST OUTDIR/: many frames exported in one run.
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <string_view>

#include "bitmap/cDIBx.h"
#include "cli/Commands.h"
#include "clip/cAVI.h"
#include "window/frameimage/FrameImage.h"

namespace {

// The longest list a run takes, so that a typo like 0-99999999:1 cannot fill memory.
constexpr std::size_t kMaxListed = 10'000'000;

bool ParseNumber(std::string_view text, std::int64_t& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// One item: N, A-B or A-B:S.
bool ParseItem(std::string_view item, std::int32_t first, std::int32_t last, std::vector<std::int32_t>& frames,
               std::string& error) {
    const std::string quoted = "\"" + std::string(item) + "\"";
    std::int64_t from = 0, to = 0, step = 1;
    const std::size_t dash = item.find('-', 1);
    if (dash == std::string_view::npos) {
        if (!ParseNumber(item, from)) return error = "not a frame number: " + quoted, false;
        to = from;
    } else {
        std::string_view rest = item.substr(dash + 1);
        if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
            if (!ParseNumber(rest.substr(colon + 1), step) || step < 1)
                return error = "not a step of 1 or more: " + quoted, false;
            rest = rest.substr(0, colon);
        }
        if (!ParseNumber(item.substr(0, dash), from) || !ParseNumber(rest, to))
            return error = "not a frame range: " + quoted, false;
        if (to < from) return error = "range runs backwards: " + quoted, false;
    }
    if (from < first || to > last)
        return error = "frames outside " + std::to_string(first) + ".." + std::to_string(last) + ": " + quoted, false;
    if (frames.size() + static_cast<std::size_t>((to - from) / step + 1) > kMaxListed)
        return error = "too many frames listed at " + quoted, false;
    for (std::int64_t n = from; n <= to; n += step) frames.push_back(static_cast<std::int32_t>(n));
    return true;
}

bool ParseItems(std::string_view text, char separator, std::int32_t first, std::int32_t last,
                std::vector<std::int32_t>& frames, std::string& error);

// A list file: items one a line (blank lines allowed); no further @ inside.
bool ParseListFile(const std::string& path, std::int32_t first, std::int32_t last, std::vector<std::int32_t>& frames,
                   std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return error = "cannot read the frame list " + path, false;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find('@') != std::string::npos) return error = "a frame list inside the list " + path, false;
    return ParseItems(text, '\n', first, last, frames, error);
}

bool ParseItems(std::string_view text, char separator, std::int32_t first, std::int32_t last,
                std::vector<std::int32_t>& frames, std::string& error) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(separator), text.size());
        const std::string_view item = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (item.empty()) {
            if (separator == '\n') continue;  // blank lines in a list file
            return error = "empty item in the frame list", false;
        }
        const bool ok = item.starts_with('@') ? ParseListFile(std::string(item.substr(1)), first, last, frames, error)
                                              : ParseItem(item, first, last, frames, error);
        if (!ok) return false;
    }
    return true;
}

// Progress on a terminal only, so that logs and pipes stay clean.
void ShowProgress(std::size_t done, std::size_t total) {
    static const bool terminal = ::isatty(STDERR_FILENO) != 0;
    if (!terminal) return;
    std::cerr << "\rexported " << done << " of " << total << (done == total ? "\n" : "") << std::flush;
}

}  // namespace

bool ParseFrameList(const std::string& list, std::int32_t first, std::int32_t last, std::vector<std::int32_t>& frames,
                    std::string& error) {
    frames.clear();
    if (!ParseItems(list, ',', first, last, frames, error)) return false;
    if (frames.empty()) return error = "the frame list is empty", false;
    return true;
}

int ExportFramesCommand(const std::string& path, const std::string& list, const std::string& outDir, bool png) {
    cAVI clip;
    if (!clip.LoadAVI(path)) return 1;
    std::vector<std::int32_t> frames;
    if (std::string error; !ParseFrameList(list, clip.GetFirstFrame(), clip.GetLastFrame(), frames, error)) {
        std::cerr << "framewise-cli: " << error << "\n";
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (!std::filesystem::is_directory(outDir)) {
        std::cerr << "framewise-cli: cannot make the directory " << outDir << "\n";
        return 1;
    }
    // Frames go out in the order listed; the reader decodes a run of
    // consecutive frames once, straight through.
    std::set<std::int32_t> written;
    const std::filesystem::path dir(outDir);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const std::int32_t frame = frames[i];
        if (!written.insert(frame).second) {
            ShowProgress(i + 1, frames.size());  // listed twice: written already
            continue;
        }
        cDIBx dib;
        if (!clip.ReadFrame(frame, dib)) {
            std::cerr << "\nframewise-cli: frame " << frame << " could not be decoded\n";
            return 1;
        }
        const std::string out = (dir / (std::to_string(frame) + (png ? ".png" : ".bmp"))).string();
        if (std::string error; !WriteFrameFile(dib, out, error)) {
            std::cerr << "\nframewise-cli: could not write " << out << ": " << error << "\n";
            return 1;
        }
        ShowProgress(i + 1, frames.size());
    }
    return 0;
}
