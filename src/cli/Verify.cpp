#include "cli/Verify.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

#include "clip/cAVI.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void RequestStop(int) { g_stopRequested = 1; }

// Installs the SIGINT handler that asks the running check to stop, and puts
// back the one before when it goes.
class StopOnInterrupt {
public:
    StopOnInterrupt() {
        g_stopRequested = 0;
        struct sigaction action {};
        action.sa_handler = RequestStop;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~StopOnInterrupt() { sigaction(SIGINT, &previous_, nullptr); }
    StopOnInterrupt(const StopOnInterrupt&) = delete;
    StopOnInterrupt& operator=(const StopOnInterrupt&) = delete;

private:
    struct sigaction previous_ {};
};

// 64-bit FNV-1a over 8-byte words, then the tail bytes: fast enough to run
// beside decoding, and a collision between two different pictures of one file
// is not a practical concern.
std::uint64_t Checksum(const std::uint8_t* bytes, std::size_t size) {
    constexpr std::uint64_t kPrime = 0x100000001b3ull;
    std::uint64_t sum = 0xcbf29ce484222325ull ^ size;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        sum = (sum ^ word) * kPrime;
        sum ^= sum >> 29;
    }
    for (; i < size; ++i) sum = (sum ^ bytes[i]) * kPrime;
    return sum;
}

// Progress on a terminal: nothing for the first second, then a line rewritten
// at most five times a second.
class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
    ~ProgressLine() { Clear(); }
    void Clear() {
        if (shown_) err_ << "\r\033[K" << std::flush;
        shown_ = false;
    }
    void Show(const char* what, std::size_t done, std::size_t total) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        shown_ = true;
        err_ << "\rverify: " << what << " " << done << "/" << total << "\033[K" << std::flush;
    }

private:
    std::ostream& err_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_{};
};

// The fetches of a check: the sample in a seeded random order (jumps), then
// from its last position to its first (a reverse walk), then around each
// chosen key frame the position before it, the key frame and the one after
// (steps across it). `keys`: the key frames after the first position.
// `sampleSize` 0: every position and every key frame.
std::vector<VerifyFetch> MakePlan(std::int32_t first, std::int32_t last, std::vector<std::int32_t> keys,
                                  std::uint32_t seed, std::int32_t sampleSize) {
    std::mt19937 random(seed);
    std::set<std::int32_t> sample;
    const auto addAround = [&](std::int32_t key) {
        for (std::int32_t p = key - 1; p <= std::min(key + 1, last); ++p) sample.insert(p);
    };
    if (sampleSize <= 0 || sampleSize > last - first) {
        for (std::int32_t p = first; p <= last; ++p) sample.insert(p);
    } else {
        std::shuffle(keys.begin(), keys.end(), random);
        std::size_t chosen = 0;
        while (chosen < keys.size() && static_cast<std::int32_t>(sample.size()) + 3 <= sampleSize / 4)
            addAround(keys[chosen++]);
        keys.resize(chosen);
        std::sort(keys.begin(), keys.end());
        std::uniform_int_distribution<std::int32_t> any(first, last);
        while (static_cast<std::int32_t>(sample.size()) < sampleSize) sample.insert(any(random));
    }
    std::vector<std::int32_t> jumps(sample.begin(), sample.end());
    std::shuffle(jumps.begin(), jumps.end(), random);
    std::vector<VerifyFetch> plan;
    for (std::int32_t p : jumps) plan.push_back({p, "jump"});
    for (auto p = sample.rbegin(); p != sample.rend(); ++p) plan.push_back({*p, "reverse walk"});
    for (std::int32_t key : keys)
        for (std::int32_t p = key - 1; p <= std::min(key + 1, last); ++p) plan.push_back({p, "step across a key frame"});
    return plan;
}

// What a position showed instead of its own picture, for the report.
std::string Describe(std::int32_t position, const PictureSum& shown, const std::vector<PictureSum>& plain,
                     std::int32_t first, const char* walk) {
    std::string text = "position " + std::to_string(position);
    if (!plain[position - first]) return text + " could not be decoded in the plain decode";
    if (!shown) return text + " could not be decoded (" + std::string(walk) + ")";
    std::int64_t nearest = -1;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const std::int64_t candidate = first + static_cast<std::int64_t>(i);
        if (plain[i] == shown && (nearest < 0 || std::abs(candidate - position) < std::abs(nearest - position)))
            nearest = candidate;
    }
    if (nearest < 0) return text + " shows a picture no position has (" + walk + ")";
    return text + " shows the picture of position " + std::to_string(nearest) + " (" + walk + ")";
}

}  // namespace

PictureSum FetchPictureSum(cAVI& clip, std::int32_t position) {
    cDIBx dib;
    if (!clip.ReadFrame(position, dib) || !dib.PointerToBits()) return std::nullopt;
    return Checksum(dib.PointerToBits(), static_cast<std::size_t>(dib.SizeImage()));
}

VerifyTally ComparePositions(const std::vector<PictureSum>& plain, std::int32_t first,
                             const std::vector<VerifyFetch>& plan,
                             const std::function<PictureSum(std::int32_t)>& fetch,
                             const std::function<void(std::size_t, std::size_t)>& progress) {
    VerifyTally tally;
    std::set<std::int32_t> checked;
    std::map<std::int32_t, std::string> misses;  // the first miss of each position
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (g_stopRequested) {
            tally.stopped = true;
            break;
        }
        const VerifyFetch& f = plan[i];
        const std::size_t at = static_cast<std::size_t>(f.position - first);
        if (f.position < first || at >= plain.size()) continue;
        checked.insert(f.position);
        const PictureSum shown = fetch(f.position);
        if ((!plain[at] || shown != plain[at]) && !misses.count(f.position))
            misses[f.position] = Describe(f.position, shown, plain, first, f.walk);
        if (progress) progress(i + 1, plan.size());
    }
    for (auto& [position, text] : misses) tally.misses.push_back(std::move(text));
    tally.checked = static_cast<std::int32_t>(checked.size());
    tally.exact = tally.checked - static_cast<std::int32_t>(misses.size());
    return tally;
}

int VerifyFile(const std::string& path, std::uint32_t seed, std::int32_t positions, bool progress,
               std::ostream& out, std::ostream& err) {
    StopOnInterrupt stopOnInterrupt;
    ProgressLine line(err, progress);
    // The plain decode: one thread, nothing kept, every position in turn.
    AVISetReaderSettings(1, 0);
    std::vector<PictureSum> plain;
    std::vector<std::int32_t> keys;  // known once decoded: not every container's index tells
    std::int32_t first = 0;
    {
        cAVI clip;
        const bool loaded = clip.LoadAVI(path);
        AVISetReaderSettings(0, ReaderKeepBytes());
        if (!loaded) return 1;
        first = clip.GetFirstFrame();
        for (std::int32_t p = first; p <= clip.GetLastFrame() && !g_stopRequested; ++p) {
            plain.push_back(FetchPictureSum(clip, p));
            if (p > first && clip.GetFrameKind(p) == FrameKind::Key) keys.push_back(p);
            line.Show("plain decode", plain.size(), static_cast<std::size_t>(clip.GetFrameCount()));
        }
        line.Clear();
        if (g_stopRequested) {
            out << "verify: stopped during the plain decode, at position " << first + plain.size() << "\n"
                << "verify: 0/0 positions exact\n";
            return 1;
        }
    }
    // The same positions as a user fetches them, through a fresh reader.
    cAVI clip;
    if (!clip.LoadAVI(path)) return 1;
    const std::vector<VerifyFetch> plan = MakePlan(first, clip.GetLastFrame(), keys, seed, positions);
    out << "verify: " << path << ": " << clip.GetFrameCount() << " positions, " << plan.size()
        << " fetches, seed " << seed << "\n";
    const VerifyTally tally = ComparePositions(
        plain, first, plan, [&](std::int32_t p) { return FetchPictureSum(clip, p); },
        [&](std::size_t done, std::size_t total) { line.Show("fetches", done, total); });
    line.Clear();
    for (const std::string& miss : tally.misses) out << "verify: " << miss << "\n";
    if (tally.stopped) out << "verify: stopped by the user; the tally covers the positions fetched so far\n";
    out << "verify: " << tally.exact << "/" << tally.checked << " positions exact\n";
    return !tally.stopped && tally.exact == tally.checked ? 0 : 1;
}
