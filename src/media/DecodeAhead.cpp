#include "media/DecodeAhead.h"

#include <algorithm>
#include <system_error>

#include "media/FrameReader.h"
#include "media/MemoryBudgets.h"
#include "media/PictureStore.h"

namespace {

std::atomic<int> g_running{0};
std::atomic<std::size_t> g_heldBytes{0};  // pictures held by every worker
std::atomic<std::size_t> g_lowered{0};    // LowerBudget's, 0 when not lowered
// Handing a picture over takes a wake-up of each thread and a copy of its
// references: tens of microseconds.
constexpr double kShortestRunSeconds = 0.001;
std::atomic<double> g_shortestRun{kShortestRunSeconds};

}  // namespace

void DecodeAhead::LowerBudget(std::size_t bytes) { g_lowered = bytes; }

std::size_t DecodeAhead::BudgetBytes() {
    const std::size_t budget = AheadBudgetBytes();
    const std::size_t lowered = g_lowered;
    return lowered ? std::min(lowered, budget) : budget;
}

double DecodeAhead::ShortestRunSeconds() { return g_shortestRun; }

void DecodeAhead::SetShortestRunSeconds(double seconds) { g_shortestRun = seconds < 0 ? kShortestRunSeconds : seconds; }

int DecodeAhead::Running() { return g_running.load(); }

std::unique_ptr<DecodeAhead> DecodeAhead::Start(const FrameTable& table, const AVCodecParameters* codec,
                                                AVRational timeBase, int width, int height, int threads) {
    Stream stream{table.Reopened(), libav::ParametersPtr(avcodec_parameters_alloc()), timeBase, width, height, threads};
    if (!stream.table || !stream.codec || avcodec_parameters_copy(stream.codec.get(), codec) < 0) return nullptr;
    std::unique_ptr<DecodeAhead> ahead(new DecodeAhead(std::move(stream)));
    ++g_running;  // from here until the thread has ended
    try {
        ahead->thread_ = std::thread(&DecodeAhead::Work, ahead.get());
    } catch (const std::system_error&) {
        --g_running;
        return nullptr;
    }
    return ahead;
}

DecodeAhead::DecodeAhead(Stream stream) : stream_(std::move(stream)) {}

DecodeAhead::~DecodeAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        interrupt_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    g_heldBytes -= bytes_;
}

void DecodeAhead::Post(std::vector<Chunk> chunks, Full full, std::chrono::nanoseconds pause) {
    {
        std::lock_guard lock(mutex_);
        if (chunks.empty() && done_ == posted_) return;  // idle: nothing to stop, no need to wake it
        job_ = std::move(chunks);
        full_ = full;
        notBefore_ = std::chrono::steady_clock::now() + pause;
        ++posted_;
        chunkAt_ = 0;
        progress_ = job_.empty() ? -1 : job_.front().from;
        interrupt_ = true;
    }
    changed_.notify_all();
}

bool DecodeAhead::Busy() const {
    std::lock_guard lock(mutex_);
    return done_ != posted_;
}

libav::FramePtr DecodeAhead::Take(PacketIndex packet, std::chrono::nanoseconds wait, bool& due) {
    std::unique_lock lock(mutex_);
    const auto settled = [&] { return held_.count(packet) || stop_ || !StillDue(packet); };
    due = !settled();
    if (wait.count() > 0 && due) {
        notBefore_ = {};  // waited for: the job's pause is over
        changed_.notify_all();
        // A picture the worker is decoding when the wait runs out comes
        // sooner from it than from a decode of the asker's own, which would
        // start from nothing and share the cores with it.
        if (!changed_.wait_for(lock, wait, settled) && progress_ == packet) changed_.wait_for(lock, wait, settled);
    }
    auto it = held_.find(packet);
    return it == held_.end() ? nullptr : libav::FramePtr(av_frame_clone(it->second.get()));
}

// Whether the job in hand is still to reach `packet`.
bool DecodeAhead::StillDue(PacketIndex packet) const {
    if (done_ == posted_) return false;
    for (std::size_t i = chunkAt_; i < job_.size(); ++i) {
        const Chunk& c = job_[i];
        const PacketIndex from = i == chunkAt_ ? std::max(c.from, progress_) : c.from;
        if (packet >= from && packet <= c.to) return true;
    }
    return false;
}

bool DecodeAhead::Holds(PacketIndex packet) const {
    std::lock_guard lock(mutex_);
    return held_.count(packet) != 0;
}

void DecodeAhead::Retain(PacketIndex low, PacketIndex high) {
    std::lock_guard lock(mutex_);
    for (auto it = held_.begin(); it != held_.end();) {
        auto next = std::next(it);
        if (it->first < low || it->first > high) Forget(it);
        it = next;
    }
}

void DecodeAhead::Forget(std::map<PacketIndex, libav::FramePtr>::iterator it) {
    const std::size_t bytes = FrameBytes(it->second.get());
    bytes_ -= bytes;
    g_heldBytes -= bytes;
    held_.erase(it);
}

std::size_t DecodeAhead::Bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::uint64_t DecodeAhead::Decoded() const {
    std::lock_guard lock(mutex_);
    return decoded_;
}

double DecodeAhead::SecondsPerPicture() const {
    std::lock_guard lock(mutex_);
    return secondsPerPicture_;
}

// ---- The worker thread -----------------------------------------------------

void DecodeAhead::Work() {
    std::unique_ptr<FrameReader> reader;
    bool opened = false;
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || done_ != posted_; });
        if (stop_) break;
        if (std::chrono::steady_clock::now() < notBefore_) {
            // Any change (a new job, a Take, stop) looks again.
            changed_.wait_until(lock, notBefore_);
            continue;
        }
        const std::uint64_t generation = posted_;
        const std::vector<Chunk> job = job_;
        interrupt_ = false;
        lock.unlock();
        if (!opened) {
            opened = true;
            // Its own pictures are what it files: the reader keeps none.
            ReaderSettings settings;
            settings.threads = stream_.threads;
            settings.keepBytes = 0;
            reader = FrameReader::Open(stream_.table, stream_.codec.get(), stream_.timeBase, stream_.width,
                                       stream_.height, settings);
            if (reader) {
                reader->SetInterrupt(&interrupt_);
                reader->SetSink({[this](PacketIndex packet, const AVFrame* shown) { FileCopy(packet, shown, false); },
                                 [this](PacketIndex from) { ForgetFrom(from); }});
            }
        }
        for (std::size_t i = 0; reader && i < job.size(); ++i) {
            {
                std::lock_guard guard(mutex_);
                if (posted_ != generation) break;
                chunkAt_ = i;
            }
            if (!DoChunk(*reader, job[i], generation)) break;
        }
        lock.lock();
        if (posted_ == generation) done_ = generation;
        changed_.notify_all();
    }
    lock.unlock();
    reader.reset();  // its decoder threads end before the worker counts as gone
    --g_running;
}

// False when the job was replaced, or the budget is full and the job stops there.
bool DecodeAhead::DoChunk(FrameReader& reader, const Chunk& chunk, std::uint64_t generation) {
    for (PacketIndex packet = chunk.from; packet <= chunk.to; ++packet) {
        {
            std::lock_guard lock(mutex_);
            if (posted_ != generation || stop_) return false;
            progress_ = packet;
            if (held_.count(packet)) continue;
        }
        changed_.notify_all();  // a request waiting for a packet passed over settles
        const std::uint64_t before = reader.Stats().picturesOut;
        const auto start = std::chrono::steady_clock::now();
        const AVFrame* picture = reader.Picture(packet);
        if (const std::uint64_t pictures = reader.Stats().picturesOut - before) {
            const double each = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
                                static_cast<double>(pictures);
            std::lock_guard lock(mutex_);
            decoded_ += pictures;
            secondsPerPicture_ = Smoothed(secondsPerPicture_, each);
        }
        if (!picture) {
            if (interrupt_) return false;
            continue;  // no picture of its own: the asking reader decides what it shows
        }
        Full full;  // the job's, as the picture is judged
        {
            std::lock_guard lock(mutex_);
            if (held_.count(packet)) continue;  // filed as its run placed it
            full = full_;
            if (!Wanted(packet, CopiedBytes(picture), full)) {
                if (full == Full::Stop) return false;
                continue;  // no copy for a picture that could not stay
            }
        }
        libav::FramePtr copy = CopyToPictureMemory(picture);
        if (!copy || !File(packet, std::move(copy), full)) return false;
    }
    return true;
}

void DecodeAhead::Give(PacketIndex packet, const AVFrame* picture) { FileCopy(packet, picture, true); }

// Files a copy of a picture placed at `packet` if it would stay: one `given`
// by the asking reader, or one the worker's own reader placed on its way
// while the job is still to reach that packet. A run from a later key places
// the pictures it aligns at once, and a run to the leading pictures of an
// open GOP decodes the whole GOP before them, which is the job's next chunk:
// without this each of them took a run of its own.
void DecodeAhead::FileCopy(PacketIndex packet, const AVFrame* picture, bool given) {
    Full full = Full::KeepHighest;
    {
        std::lock_guard lock(mutex_);
        if (!given) full = full_;
        if (stop_ || (!given && !StillDue(packet)) || !Wanted(packet, CopiedBytes(picture), full)) return;
    }
    if (libav::FramePtr copy = CopyToPictureMemory(picture)) File(packet, std::move(copy), full);
}

void DecodeAhead::ForgetFrom(PacketIndex from) {
    std::lock_guard lock(mutex_);
    for (auto it = held_.lower_bound(from); it != held_.end();) Forget(it++);
}

// Whether a picture of `bytes` filed at `packet` would stay.
bool DecodeAhead::Wanted(PacketIndex packet, std::size_t bytes, Full full) const {
    if (held_.count(packet)) return false;
    if (g_heldBytes + bytes <= BudgetBytes()) return true;
    return full == Full::KeepHighest && !held_.empty() && held_.begin()->first < packet;
}

// False when the budget is full and `full` stops the job there.
bool DecodeAhead::File(PacketIndex packet, libav::FramePtr picture, Full full) {
    const std::size_t bytes = FrameBytes(picture.get());
    {
        std::lock_guard lock(mutex_);
        if (held_.count(packet)) return true;
        if (full == Full::KeepHighest)
            while (g_heldBytes + bytes > BudgetBytes() && !held_.empty() && held_.begin()->first < packet)
                Forget(held_.begin());
        if (g_heldBytes + bytes > BudgetBytes()) return full == Full::KeepHighest;
        bytes_ += bytes;
        g_heldBytes += bytes;
        held_[packet] = std::move(picture);
    }
    changed_.notify_all();
    return true;
}
