// Every memory budget of the program, and how they relate.
//
//  - Frame cache ("Catch"): the frames the clips keep as bitmaps, all clips
//    together at most kCatchShareOfMemory of the machine's memory; past it a
//    frame is drawn but not kept.
//  - Kept pictures: decoded pictures a frame reader keeps so that stepping
//    back or returning to a recent frame only converts; each reader at most
//    ReaderKeepBytes(), kReaderKeepShareOfMemory of the machine's memory
//    within [kReaderKeepMinBytes, kReaderKeepMaxBytes], all readers together
//    at most AllReadersKeepBytes(), twice that, so that many open clips do
//    not each hold a whole budget. On a machine of 16 GiB or more a reader
//    keeps 1 GiB: 3,900 pictures of 480x352, 340 of 1080p, 85 of 2160p; on
//    8 GiB half that. Jumps about a long clip come back to where earlier runs
//    passed in proportion to what the reader keeps of them. While a clip
//    plays straight on, a reader keeps only its newest picture.
//  - Decode ahead: decoded pictures a reader's worker thread prepares for
//    the steps to come (the rest of the GOP being stepped back through and
//    the one before it, the frames after the one playing) or is handed by
//    its reader (what a run to a far target passed beyond the reader's own
//    kept pictures: stepping back from there asks for them), all workers
//    together at most AheadBudgetBytes(): kAheadShareOfMemory of the
//    machine's memory and never over kAheadMaxBytes. On a machine of 24 GB
//    that is 2.9 GiB: 1,008 pictures of 1080p (yuv420p as the decoder lays
//    it out, 3.1 MB each), two 250-frame GOPs with room to spare, or 252 of
//    2160p (12.5 MB), one GOP; on 8 GB, 1 GiB: 342 of 1080p or 85 of 2160p.
//    Where the budget holds less than the GOP, the worker prepares the part
//    just below the steps, each run from the key filing the pictures
//    nearest them last and forgetting its lowest ones to make room. Kept
//    apart from the reader's own kept pictures, which it duplicates only
//    where stepping back overlaps the reader's last run.
//  - Idle picture memory: blocks freed by kept pictures and frames stay with
//    the process up to IdlePictureBudget(), one reader's whole keep budget
//    and the workers' budget, so that a reader refilling its pictures or a
//    worker refilling the GOP below the steps touches no fresh pages (on a virtual
//    machine a fresh page can cost ten times its copy); beyond it, the pages
//    of one big block (the next to be handed out), or 4 MB ahead of small
//    ones, are faulted in ahead.
//    Under the address sanitizer blocks are the sanitizer's own allocations,
//    and freed ones wait to be taken again up to kCheckedIdleBytes at most,
//    as its leak checker reads every block held at exit.
//  - A comparison pass: each clip's decoded pictures at most
//    kPassPicturesAhead ahead of the pair being measured.
//  - Frame size: no frame over kMaxFramePixels or kMaxFrameSide pixels a
//    side is decoded, and none whose bitmap would take more than
//    kFrameShareOfMemory of the machine's memory, so that a small file cannot
//    make every frame cost gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr double kCatchShareOfMemory = 0.5;
inline constexpr double kReaderKeepShareOfMemory = 1.0 / 16;
inline constexpr std::size_t kReaderKeepMinBytes = std::size_t{256} << 20;
inline constexpr std::size_t kReaderKeepMaxBytes = std::size_t{1} << 30;
inline constexpr double kAheadShareOfMemory = 0.125;
inline constexpr std::size_t kAheadMaxBytes = std::size_t{4} << 30;
inline constexpr std::size_t kCheckedIdleBytes = std::size_t{256} << 20;
inline constexpr std::size_t kPassPicturesAhead = 3;
inline constexpr std::int32_t kMaxFrameSide = 32768;
inline constexpr std::int64_t kMaxFramePixels = std::int64_t{1} << 25;  // 8K UHD fits
inline constexpr double kFrameShareOfMemory = 0.25;

// The machine's physical memory in bytes; 0 when it cannot be read.
std::int64_t MachineMemoryBytes();
// What one reader's kept pictures may take on this machine, and all readers'.
std::size_t ReaderKeepBytes();
std::size_t AllReadersKeepBytes();
// What all decode-ahead workers together may hold on this machine.
std::size_t AheadBudgetBytes();
// What freed picture blocks may keep of their pages on this machine.
std::size_t IdlePictureBudget();
