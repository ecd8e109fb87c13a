#include "TestFiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "ClipMaker.h"
#include "TestUtil.h"

namespace fwtest {

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Generated clips are made once per description and container.
Bytes Generated(const std::string& head, const std::string& extension) {
    static std::map<std::string, Bytes> made;
    const std::string key = head + extension;
    if (auto it = made.find(key); it != made.end()) return it->second;
    const std::string path = TempDir() + "/clip" + extension;
    if (!MakeClip(path, head)) return {};
    return made[key] = ReadAll(path);
}

// The clip `head` describes, made at `size` (WxH) instead.
Bytes GeneratedAt(const std::string& head, const std::string& size, const std::string& extension) {
    std::istringstream words(head);
    std::string encoder, ownSize, rest;
    words >> encoder >> ownSize;
    std::getline(words, rest);
    Bytes bytes = Generated(encoder + " " + size + rest, extension);
    if (bytes.empty()) throw std::runtime_error("could not make " + head + " at " + size);
    return bytes;
}

std::uint32_t GetLE32(const Bytes& b, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | (at + i < b.size() ? b[at + i] : 0);
    return value;
}

// Where chunk, list or box `id` stands: its header, its id and its body (a
// list's body starts at its type, as its size counts it).
struct Place {
    std::size_t header = kNone, id = kNone, body = kNone;
};

Place Locate(const Bytes& b, std::string id, std::size_t nth = 0) {
    id.append(4 - std::min<std::size_t>(4, id.size()), ' ');
    const bool riff = b.size() >= 4 && std::equal(b.begin(), b.begin() + 4, "RIFF");
    auto it = b.begin();
    for (std::size_t seen = 0; (it = std::search(it, b.end(), id.begin(), id.end())) != b.end(); ++it) {
        if (seen++ != nth) continue;
        const auto at = static_cast<std::size_t>(it - b.begin());
        const bool listType = at >= 8 && (GetLE32(b, at - 8) == 0x5453494C || GetLE32(b, at - 8) == 0x46464952);
        if (!riff) return {at - 4, at, at + 4};
        return listType ? Place{at - 8, at, at} : Place{at, at, at + 8};
    }
    return {};
}

// The body of every chunk `id`, or of every idx1 entry's field.
template <typename Change>
void EveryBody(Bytes& b, const std::string& id, Change change) {
    for (std::size_t nth = 0;; ++nth) {
        const Place p = Locate(b, id, nth);
        if (p.header == kNone) return;
        change(p.body, std::min<std::size_t>(b.size(), p.body + GetLE32(b, p.header + 4)));
    }
}

// Flips 16 bytes of `count` packets of the first video stream (from byte `at`
// of each, else from its middle), none a key packet, all between a fifth and
// four fifths of the stream.
void Damage(Bytes& b, std::uint32_t count, std::uint32_t seed, std::optional<std::uint32_t> at) {
    const std::string path = TempDir() + "/damage.in";
    WriteAll(path, b);
    bool ok = false;
    std::istringstream packets(RunCommand("ffprobe -v error -select_streams v:0 -show_entries packet=pos,size,flags "
                                          "-of csv=p=0 " + ShellQuoted(path), ok));
    std::vector<std::pair<std::size_t, std::size_t>> all;  // position and size, key packets as size 0
    for (std::string line; ok && std::getline(packets, line);) {
        std::replace(line.begin(), line.end(), ',', ' ');
        std::size_t size = 0, pos = 0;
        std::string flags;
        if (std::istringstream(line) >> size >> pos >> flags) all.push_back({pos, flags[0] == 'K' ? 0 : size});
    }
    std::vector<std::pair<std::size_t, std::size_t>> chosen;
    for (std::size_t i = all.size() / 5; i < all.size() * 4 / 5; ++i)
        if (all[i].second > 64) chosen.push_back(all[i]);
    if (chosen.size() < count) throw std::runtime_error("too few packets to damage");
    std::shuffle(chosen.begin(), chosen.end(), std::mt19937(seed));
    for (std::size_t n = 0; n < count; ++n)
        for (std::size_t i = 0; i < 16; ++i) b.at(chosen[n].first + at.value_or(chosen[n].second / 2) + i) ^= 0x5A;
}

// The video from `seconds` on, copied by the ffmpeg program into `format`
// without an edit list, as a copy cut at a point after a key frame comes out.
void CopyFrom(Bytes& b, const std::string& seconds, const std::string& format) {
    const std::string in = TempDir() + "/copy.in", out = TempDir() + "/copy.out";
    WriteAll(in, b);
    bool ok = false;
    RunCommand("ffmpeg -v error -y -ss " + ShellQuoted(seconds) + " -i " + ShellQuoted(in) +
                   " -map 0:v -c copy -use_editlist 0 -f " + ShellQuoted(format) + " " + ShellQuoted(out),
               ok);
    if (!ok) throw std::runtime_error("ffmpeg could not copy from " + seconds + " s");
    b = ReadAll(out);
}

void Apply(const std::vector<std::string>& op, Bytes& b, std::mt19937& rng) {
    const std::string& what = op.at(0);
    const auto arg = [&](std::size_t i) { return static_cast<std::uint32_t>(std::stoull(op.at(i), nullptr, 0)); };
    const auto place = [&](std::size_t nth = 0) {
        const Place p = Locate(b, op.at(1), nth);
        if (p.header == kNone) throw std::runtime_error("no " + op.at(1));
        return p;
    };
    const auto random = [&] { return static_cast<std::uint8_t>(rng()); };
    if (what == "truncate") b.resize(std::min<std::size_t>(arg(1), b.size()));
    else if (what == "keep") b.resize(b.size() * arg(1) / 100);
    else if (what == "skip") b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(b.size() * arg(1) / 100 / 188 * 188));
    else if (what == "cut") b.resize(std::min(b.size(), place(op.size() > 3 ? arg(3) : 0).header + arg(2)));
    else if (what == "le") PutLE(b, place().body + arg(2), arg(3), op.size() > 4 ? static_cast<int>(arg(4)) : 4);
    else if (what == "be") for (int i = 0; i < 4; ++i) PutLE(b, place().body + arg(2) + i, arg(3) >> (8 * (3 - i)), 1);
    else if (what == "size") PutLE(b, place().header + 4, arg(2));
    else if (what == "rename") std::copy_n((op.at(2) + "   ").begin(), 4, b.begin() + place().id);
    else if (what == "damage") Damage(b, arg(1), op.size() > 2 ? arg(2) : 1, op.size() > 3 ? std::optional(arg(3)) : std::nullopt);
    else if (what == "copyfrom") CopyFrom(b, op.at(1), op.at(2));
    else if (what == "twice") b.resize(2 * b.size()), std::copy_n(b.begin(), b.size() / 2, b.begin() + b.size() / 2);
    else if (what == "tsgarble") for (std::uint32_t n = 0, packets = static_cast<std::uint32_t>(b.size() / 188); n < arg(1); ++n) {
        const std::size_t at = (packets / 10 + rng() % (packets * 17 / 20)) * 188;
        for (std::size_t i = at + 8; i < at + 188; ++i) b[i] = random();
    }
    else if (what == "noise") for (std::size_t i = b.size() * arg(1) / 100, n = 0; i < b.size() && n < arg(2); ++i, ++n) b[i] = random();
    else if (what == "index") EveryBody(b, "idx1", [&](std::size_t from, std::size_t to) {
        for (std::size_t e = from + arg(1); e + 4 <= to; e += 16) PutLE(b, e, (op.at(2) == "add" ? GetLE32(b, e) : 0) + arg(3));
    });
    else if (what == "garble") EveryBody(b, op.at(1), [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from + (op.size() > 3 ? arg(3) : 0); i < to; ++i) b[i] = op.at(2) == "random" ? random() : 0;
    });
    else throw std::runtime_error("unknown operation " + what);
}

}  // namespace

void PutLE(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        if (at + i < bytes.size()) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::string MakeTestFile(const std::string& name, const std::string& description, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::vector<std::string>> parts(1);
    std::istringstream words(description);
    for (std::string w; words >> w;) {
        if (w == ";") parts.emplace_back();
        else parts.back().push_back(w);
    }
    const std::string& kind = parts[0].at(0);
    const std::string corpus = kind == "corpus" ? CorpusPath(parts[0].size() > 1 ? parts[0][1] : name) : "";
    if (kind == "corpus" && (parts.size() == 1 || corpus.empty())) return corpus;  // as it is
    const std::string path = TempDir() + "/" + name;
    if (kind == "missing") return path;
    if (kind == "dir") {
        std::filesystem::create_directory(path);
        return path;
    }
    const std::string head = description.substr(0, description.find(';'));
    Bytes bytes = kind == "none"     ? Bytes{}
                  : kind == "corpus" ? ReadAll(corpus)
                  : kind == "stored" ? ReadAll(std::string(FW_TEST_FILES) + "/" + parts[0].at(1))
                                     : Generated(head, std::filesystem::path(name).extension().string());
    if (kind != "none" && bytes.empty()) throw std::runtime_error("could not make " + head);
    for (std::size_t next = 1; next < parts.size(); ++next) {
        const std::vector<std::string>& op = parts[next];
        if (op.at(0) == "append") {
            const Bytes more = GeneratedAt(head, op.at(1), std::filesystem::path(name).extension().string());
            bytes.insert(bytes.end(), more.begin(), more.end());
        } else {
            Apply(op, bytes, rng);
        }
    }
    WriteAll(path, bytes);
    return path;
}

std::vector<std::vector<std::string>> TableRows(const std::string& path, int fields) {
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        std::istringstream words(line);
        std::vector<std::string>& row = rows.emplace_back(fields + 1);
        for (int i = 0; i < fields; ++i) words >> row[i];
        std::getline(words, row[fields]);
    }
    return rows;
}

}  // namespace fwtest
