// Test files described in one line of a data table, so that long tables of
// clips and hostile files stay data:
//   corpus [FILE]                  the real file of the table row's name, or FILE
//   dir | missing                  a directory, or no file at all, of that name
//   stored FILE                    a file kept in tests/files (its README says
//                                  how each was made)
//   ENCODER WxH FRAMES ...         a clip MakeClip generates (every frame shows
//                                  its number)
//   none                           an empty file
// followed by operations, each after a ";", that rework the file in order:
//   truncate LENGTH | keep PERCENT | cut ID DELTA [NTH]   (from the start of chunk or box ID)
//   skip PERCENT                  (the bytes before it cut away, at a 188-byte MPEG-TS packet's
//                                  boundary: a recording that starts in the middle of a GOP)
//   le ID OFFSET VALUE [WIDTH] | be ID OFFSET VALUE       (little / big endian, in ID's body)
//   size ID WORD | rename ID TO
//   index FIELD set|add VALUE     (every idx1 entry: 0 id, 4 flags, 8 offset, 12 size)
//   garble ID zero|random [SKIP]  (every chunk ID's body) | noise PERCENT LENGTH
//   tsgarble COUNT                (random payloads in COUNT MPEG-TS packets past the first tenth)
//   copyfrom SECONDS FORMAT       (the video from SECONDS on, copied by ffmpeg into FORMAT
//                                  without an edit list)
//   twice (the file twice over) | append WxH (the generated clip again, at that size, joined on)
//   damage COUNT [SEED [AT]]      (bytes flipped in COUNT video packets, no key, chosen by SEED,
//                                  from byte AT of each, else from its middle)
// ID is a RIFF chunk or list type (AVI, with spaces left out) or an MP4 box type.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace fwtest {

// Makes the file that `description` describes under the name `name` (its
// extension chooses the container) and returns its path; "" for a corpus
// file that is not on this machine. Random bytes follow from `seed`.
std::string MakeTestFile(const std::string& name, const std::string& description, std::uint32_t seed = 1);

// Writes the `width` low bytes of `value` at `at`, little-endian, as far as
// `bytes` reaches.
void PutLE(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int width = 4);

// The rows of a data table (lines that are neither empty nor comments, #),
// each as its first `fields` words and then the rest of the line.
std::vector<std::vector<std::string>> TableRows(const std::string& path, int fields);

// A table row's name as a test name: letters and digits, the rest '_'.
inline std::string TestName(std::string name) {
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

}  // namespace fwtest
