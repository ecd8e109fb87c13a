// The composition offsets of an MP4/MOV/3GP track, which the demuxer's index
// leaves out: its entries carry decode times, and a picture's presentation
// time is its decode time plus its sample's offset.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

// Byte position of each sample of track `trackId` in `path` -> its
// composition offset in the track's time base. Empty when the track has no
// offsets (presentation times are decode times) or the header cannot be read.
std::unordered_map<std::int64_t, std::int64_t> CompositionOffsets(const std::string& path, int trackId);

// True when the movie header of `path` announces movie fragments ('mvex'):
// samples then follow in fragments after it, and the demuxer indexes those
// only as it reads them (or as a segment index sends it to them), so its
// index at open may hold the first fragment alone.
bool HasMovieFragments(const std::string& path);
