// A frame reader's worker thread: it decodes, on a reader of its own over a
// demuxer of its own, the pictures the reader will be asked for next (the
// part of the stream before the one being stepped back through, the frames
// after the one playing) and holds them, by packet, for the reader to take.
//
// The worker's reader numbers pictures exactly as every frame reader does, so
// a picture it files under a packet is the picture the asking reader would
// decode for that packet itself: the same bytes, whoever decoded them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/FrameTable.h"
#include "media/Libav.h"

// A running average of measured times that follows changes within a few
// samples: the first sample as it is, then a quarter of each new one.
inline double Smoothed(double average, double sample) { return average > 0 ? 0.75 * average + 0.25 * sample : sample; }

class FrameReader;

class DecodeAhead {
public:
    // Packets `from` to `to`, decoded in that order.
    struct Chunk {
        PacketIndex from = 0;
        PacketIndex to = -1;
    };

    // A worker for the stream `table` reads (a reopened copy of it is made
    // here, on the caller's thread); its reader and demuxer are opened on the
    // worker thread when the first job comes. Null when no thread can start.
    static std::unique_ptr<DecodeAhead> Start(const FrameTable& table, const AVCodecParameters* codec,
                                              AVRational timeBase, int width, int height, int threads);
    // Stops the worker, interrupting the picture it decodes, and joins it.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // What the worker does when a picture would take it over its budget:
    // stop (playing on: the nearest pictures are filed first), or make room
    // by forgetting the lowest pictures it holds below the new one, and pass
    // over the new one when it is the lowest (stepping back: the highest
    // pictures are the nearest, and its runs file them last).
    enum class Full { Stop, KeepHighest };
    // Replaces the worker's job by `chunks`, worked through in order; an
    // empty list leaves it idle. A job given a `pause` starts once that long
    // has passed with no other job posted, or as soon as a Take waits for
    // one of its pictures: work for a user who stops to look.
    void Post(std::vector<Chunk> chunks, Full full = Full::Stop, std::chrono::nanoseconds pause = {});
    // Whether the worker is still at its job.
    bool Busy() const;
    // The picture of `packet` if held, else null after waiting at most
    // `wait` while the worker's job is still to deliver it (once more if the
    // worker is decoding it by then); `due` tells whether it was.
    libav::FramePtr Take(PacketIndex packet, std::chrono::nanoseconds wait, bool& due);
    bool Holds(PacketIndex packet) const;
    // Files a copy of a picture the asking reader decoded on its way to a far
    // target and does not keep itself, as the worker's own are filed when its
    // budget is full (the highest stay): a user who jumps there and then
    // steps back finds the GOP decoded.
    void Give(PacketIndex packet, const AVFrame* picture);
    // Forgets the pictures held from `from` on (a run found them misplaced).
    void ForgetFrom(PacketIndex from);
    // Forgets the pictures held outside packets `low` to `high`.
    void Retain(PacketIndex low, PacketIndex high);
    std::size_t Bytes() const;
    // Pictures the worker's decoder has delivered since it started.
    std::uint64_t Decoded() const;
    // Seconds the worker takes per picture it decodes, as measured; 0 before
    // it has decoded any.
    double SecondsPerPicture() const;

    // What all workers together may hold (MemoryBudgets.h), or less once
    // lowered: a small budget makes the workers' choices under a full budget
    // show with small pictures (0 restores the budget).
    static std::size_t BudgetBytes();
    static void LowerBudget(std::size_t bytes);
    // The shortest run of decoding a worker takes over from steps back: where
    // the runs below the steps are shorter (small intra-only pictures), the
    // steps decode their own, since handing a picture over costs more. A
    // negative value restores the default; 0 gives every run to a worker.
    static double ShortestRunSeconds();
    static void SetShortestRunSeconds(double seconds);
    // Worker threads alive in the process.
    static int Running();

private:
    struct Stream {
        std::shared_ptr<FrameTable> table;
        libav::ParametersPtr codec;
        AVRational timeBase{0, 1};
        int width = 0;
        int height = 0;
        int threads = 0;
    };

    explicit DecodeAhead(Stream stream);
    void Work();
    bool DoChunk(FrameReader& reader, const Chunk& chunk, std::uint64_t generation);
    void FileCopy(PacketIndex packet, const AVFrame* picture, bool given);
    bool Wanted(PacketIndex packet, std::size_t bytes, Full full) const;  // with mutex_ held
    bool File(PacketIndex packet, libav::FramePtr picture, Full full);
    bool StillDue(PacketIndex packet) const;  // with mutex_ held
    void Forget(std::map<PacketIndex, libav::FramePtr>::iterator it);  // with mutex_ held

    Stream stream_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;  // a job posted, a picture filed, a job done, stop
    std::vector<Chunk> job_;
    Full full_ = Full::Stop;  // of job_
    std::chrono::steady_clock::time_point notBefore_;  // when job_ may start
    std::uint64_t posted_ = 0;  // generation of job_
    std::uint64_t done_ = 0;    // generation the worker finished last
    PacketIndex progress_ = -1;  // packet of job_ the worker decodes now
    std::size_t chunkAt_ = 0;    // its chunk
    bool stop_ = false;
    std::atomic<bool> interrupt_{false};  // the picture being decoded is no longer wanted
    std::map<PacketIndex, libav::FramePtr> held_;
    std::size_t bytes_ = 0;
    std::uint64_t decoded_ = 0;
    double secondsPerPicture_ = 0;
    std::thread thread_;
};
