// framewise-cli compare against the ffmpeg program's psnr and ssim filters,
// given the same pairs of frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include "ClipMaker.h"
#include "TestUtil.h"

namespace {

using fwtest::RunCommand;
using fwtest::ShellQuoted;

struct Row {
    int frameA = 0, frameB = 0;
    std::vector<double> values;  // psnr_y, psnr_u, psnr_v, psnr_avg, ssim_y
};

struct Output {
    bool ok = false;
    std::vector<Row> rows;
    Row mean, min;
    std::string text;
};

double Value(const std::string& cell) {
    if (cell.empty()) return NAN;
    return cell == "inf" ? INFINITY : std::stod(cell);
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
    if (line.ends_with(',')) cells.emplace_back();
    return cells;
}

Row RowOf(const std::vector<std::string>& cells) {
    Row row;
    row.frameA = cells[1].empty() ? -1 : std::stoi(cells[1]);
    row.frameB = cells[2].empty() ? -1 : std::stoi(cells[2]);
    for (std::size_t i = 3; i < cells.size(); ++i) row.values.push_back(Value(cells[i]));
    return row;
}

Output RunCompare(const std::string& a, const std::string& b, int offset) {
    Output out;
    out.text = RunCommand(std::string(FW_CLI) + " compare " + ShellQuoted(a) + " " + ShellQuoted(b) +
                              " --offset " + std::to_string(offset) + " 2>&1",
                          out.ok);
    std::stringstream in(out.text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.starts_with("frame_a") || line.starts_with("statistic")) continue;
        std::vector<std::string> cells = Cells(line);
        if (cells.size() != 7 && cells.size() != 8) continue;
        if (cells[0] == "mean") out.mean = RowOf(cells);
        else if (cells[0] == "min") out.min = RowOf(cells);
        else if (cells.size() == 7) out.rows.push_back(RowOf([&] { cells.insert(cells.begin(), ""); return cells; }()));
    }
    return out;
}

// The key:value words of a line of ffmpeg's filter output.
std::map<std::string, double> Values(const std::string& line) {
    std::map<std::string, double> values;
    std::stringstream words(line);
    for (std::string word; words >> word;)
        if (auto colon = word.find(':'); colon != std::string::npos && colon + 1 < word.size())
            values[word.substr(0, colon)] = Value(word.substr(colon + 1));
    return values;
}

// What ffmpeg's filter prints per frame, as key -> value, for frames
// firstA.. of `a` against firstB.. of `b`, `count` pairs; `summary` gets
// the values of the line it sums up with in its log.
std::vector<std::map<std::string, double>> Reference(const std::string& filter, const std::string& a, int firstA,
                                                     const std::string& b, int firstB, int count,
                                                     std::map<std::string, double>& summary) {
    const auto pick = [count](int input, int first) {
        return std::string("[") + std::to_string(input) + ":v]trim=start_frame=" + std::to_string(first) +
               ":end_frame=" + std::to_string(first + count) + ",settb=1/25,setpts=N[i" + std::to_string(input) + "];";
    };
    const std::string statsFile = fwtest::TempDir() + "/" + filter + ".txt";
    bool ok = false;
    std::stringstream log(RunCommand(
        "ffmpeg -nostdin -nostats -v info -i " + ShellQuoted(a) + " -i " + ShellQuoted(b) + " -lavfi " +
            ShellQuoted(pick(0, firstA) + pick(1, firstB) + "[i0][i1]" + filter + "=stats_file=" + statsFile) +
            " -f null - 2>&1 | grep Parsed_" + filter,
        ok));
    for (std::string line; std::getline(log, line);)
        if (auto values = Values(line); !values.empty()) summary = values;
    std::vector<std::map<std::string, double>> frames;
    std::ifstream stats(statsFile);
    for (std::string line; std::getline(stats, line);)
        if (auto values = Values(line); values.count("n")) frames.push_back(values);
    return frames;
}

void ExpectNear(double ours, double theirs, double tolerance, const std::string& what) {
    if (std::isinf(theirs)) EXPECT_TRUE(std::isinf(ours)) << what << ": " << ours;
    else EXPECT_NEAR(ours, theirs, tolerance) << what;
}

struct Case {
    const char* name;
    const char* a;  // a file of the set made below, or corpus:NAME
    const char* b;
    int offset;
    int rows;       // pairs compared; -1: no metrics, and `reason` says why
    const char* reason;
    int worst = -1; // the frame the summary must name as the worst, if any
};

// src.mkv: 30 lossless frames, 320x240; enc.mp4 its lossy encode with
// B-frames; late.mp4 an encode of frames 3.. of it; short.mkv its first 12;
// small.mkv at 160x120; src10 8 frames of 10-bit 4:2:0, blur10 a blurred
// copy; src410 and edge410 4:1:0 at 322x240; mjpeg.avi an MJPEG encode of
// src.mkv, spoilt.avi the same with a box painted over frame 15 only.
const Case kCases[] = {
    {"EncodeAgainstSource", "enc.mp4", "src.mkv", 0, 30, ""},
    {"ShiftedCopy", "src.mkv", "late.mp4", -3, 27, ""},
    {"Identical", "src.mkv", "src.mkv", 0, 30, ""},
    {"SpoiltFrameInTheMiddle", "mjpeg.avi", "spoilt.avi", 0, 30, "", 15},
    {"ShorterClip", "enc.mp4", "short.mkv", 0, 12, ""},
    {"OffsetPastShorterClip", "short.mkv", "src.mkv", 25, 5, ""},
    {"TenBit", "blur10.mkv", "src10.mkv", 0, 8, ""},
    {"Yuv410WidthNotAMultipleOf4", "edge410.avi", "src410.avi", 0, 5, ""},
    {"SizesDiffer", "src.mkv", "small.mkv", 0, -1, "sizes differ (320x240 and 160x120)"},
    {"CorpusMpeg4", "corpus:Principe_inertie.avi", "Principe_inertie.avi", 0, 28, ""},
    {"CorpusIndeo410", "corpus:homer.avi", "homer.avi", 0, 86, ""},
    {"CorpusPackedBgr0", "corpus:dummy_video.avi", "dummy_video.avi", 0, 10, ""},
};

class CompareClips : public testing::Test {
protected:
    // Made once for every suite of this program.
    static void SetUpTestSuite() {
        if (std::exchange(made_, true)) return;
        bool ok = false;
        RunCommand("ffmpeg -version >/dev/null 2>&1", ok);
        if (!ok) return;
        dir_ = fwtest::TempDir();
        const std::string src = ShellQuoted(dir_ + "/src.mkv"), src10 = ShellQuoted(dir_ + "/src10.mkv");
        const std::string src410 = ShellQuoted(dir_ + "/src410.avi");
        const std::string mjpeg = ShellQuoted(dir_ + "/mjpeg.avi");
        const std::string ff = "ffmpeg -nostdin -v error -y ";
        const std::vector<std::string> commands = {
            ff + "-f lavfi -i testsrc2=s=320x240:r=25 -frames:v 30 -pix_fmt yuv420p -c:v ffv1 " + src,
            ff + "-i " + src + " -c:v libx264 -preset fast -crf 32 -g 12 -bf 2 " + ShellQuoted(dir_ + "/enc.mp4"),
            ff + "-i " + src + " -vf trim=start_frame=3,setpts=PTS-STARTPTS -c:v libx264 -preset fast -crf 24 " +
                ShellQuoted(dir_ + "/late.mp4"),
            ff + "-i " + src + " -frames:v 12 -c:v ffv1 " + ShellQuoted(dir_ + "/short.mkv"),
            ff + "-i " + src + " -vf scale=160:120 -c:v ffv1 " + ShellQuoted(dir_ + "/small.mkv"),
            ff + "-f lavfi -i testsrc2=s=320x238:r=25 -frames:v 8 -pix_fmt yuv420p10le -c:v ffv1 " + src10,
            ff + "-i " + src10 + " -vf gblur=sigma=1.5 -c:v ffv1 " + ShellQuoted(dir_ + "/blur10.mkv"),
            // 4:1:0 at a width of 322: chroma planes of 81 columns, the last
            // one covering 2 pixels; painted over in the copy.
            ff + "-f lavfi -i testsrc2=s=322x240:r=25 -frames:v 5 -pix_fmt yuv410p -c:v ffv1 " + src410,
            ff + "-i " + src410 + " -vf " +
                ShellQuoted("gblur=sigma=1,drawbox=x=iw-2:y=0:w=2:h=ih:color=red:t=fill") +
                " -pix_fmt yuv410p -c:v ffv1 " + ShellQuoted(dir_ + "/edge410.avi"),
            ff + "-i " + src + " -c:v mjpeg -q:v 5 " + mjpeg,
            // Damage that every decoder shows alike: a corrupted packet would
            // leave blocks undecoded, holding whatever the decoder's reused
            // buffer held, which differs from one reader to another.
            ff + "-i " + src + " -vf " +
                ShellQuoted("drawbox=x=40:y=30:w=200:h=150:color=white:t=fill:enable='eq(n,15)'") +
                " -c:v mjpeg -q:v 5 " + ShellQuoted(dir_ + "/spoilt.avi"),
        };
        for (const std::string& command : commands) {
            RunCommand(command, ok);
            if (!ok) return;
        }
        ready_ = true;
    }
    // A corpus file, or one made here; "" when missing.
    static std::string Input(const std::string& name) {
        if (name.starts_with("corpus:")) return fwtest::CorpusPath(name.substr(7));
        return dir_ + "/" + name;
    }
    // A lossy copy of a corpus file in its own pixel format, one picture per
    // frame: an encode with its own codec, or (where no lossy encoder here
    // writes the format) a blurred lossless one.
    static std::string CorpusEncode(const std::string& corpusFile, const std::string& name) {
        const std::string out = dir_ + "/" + name;
        static const std::map<std::string, std::string> kCodecs = {
            {"homer.avi", "-vf setpts=N/FRAME_RATE/TB,gblur=sigma=1 -c:v ffv1"},
            {"dummy_video.avi", "-vf setpts=N/FRAME_RATE/TB,gblur=sigma=1 -c:v ffv1 -pix_fmt bgr0"},
            {"Principe_inertie.avi", "-vf setpts=N/FRAME_RATE/TB -c:v mpeg4 -q:v 9"},
        };
        const std::string codec = kCodecs.at(name);
        bool ok = false;
        RunCommand("ffmpeg -nostdin -v error -y -i " + ShellQuoted(corpusFile) + " -an -fps_mode passthrough " +
                       codec + " " + ShellQuoted(out),
                   ok);
        return ok ? out : "";
    }
    static inline std::string dir_;
    static inline bool ready_ = false;
    static inline bool made_ = false;
};

class Compare : public CompareClips, public testing::WithParamInterface<Case> {};

TEST_P(Compare, MatchesFfmpegFilters) {
    const Case& c = GetParam();
    if (!ready_) GTEST_SKIP() << "the ffmpeg program (with libx264) is needed to make the clips";
    std::string a = Input(c.a), b = c.b;
    if (a.empty()) GTEST_SKIP() << "corpus file " << c.a << " missing: run scripts/fetch-corpus";
    b = std::string(c.a).starts_with("corpus:") ? CorpusEncode(a, b) : Input(b);
    ASSERT_FALSE(b.empty());
    const Output out = RunCompare(a, b, c.offset);
    if (c.rows < 0) {
        EXPECT_FALSE(out.ok);
        EXPECT_NE(out.text.find(c.reason), std::string::npos) << out.text;
        EXPECT_TRUE(out.rows.empty()) << out.text;
        return;
    }
    ASSERT_TRUE(out.ok) << out.text;
    ASSERT_EQ(static_cast<int>(out.rows.size()), c.rows) << out.text;
    const Row& first = out.rows.front();
    for (std::size_t i = 0; i < out.rows.size(); ++i) {
        EXPECT_EQ(out.rows[i].frameA, first.frameA + static_cast<int>(i));
        EXPECT_EQ(out.rows[i].frameB, out.rows[i].frameA + c.offset);
    }
    std::map<std::string, double> psnrSummary, ssimSummary;
    const auto psnr = Reference("psnr", a, first.frameA, b, first.frameB, c.rows, psnrSummary);
    const auto ssim = Reference("ssim", a, first.frameA, b, first.frameB, c.rows, ssimSummary);
    ASSERT_EQ(psnr.size(), out.rows.size());
    ASSERT_EQ(ssim.size(), out.rows.size());
    // RGB pictures: ffmpeg names the components r, g, b where ours say y, u, v.
    const bool rgb = psnr.front().count("psnr_r") > 0;
    for (std::size_t i = 0; i < out.rows.size(); ++i) {
        const std::vector<double>& v = out.rows[i].values;
        const std::string at = "frame " + std::to_string(out.rows[i].frameA);
        ExpectNear(v[0], psnr[i].at(rgb ? "psnr_r" : "psnr_y"), 0.01, at + " psnr_y");
        ExpectNear(v[1], psnr[i].at(rgb ? "psnr_g" : "psnr_u"), 0.01, at + " psnr_u");
        ExpectNear(v[2], psnr[i].at(rgb ? "psnr_b" : "psnr_v"), 0.01, at + " psnr_v");
        ExpectNear(v[3], psnr[i].at("psnr_avg"), 0.01, at + " psnr_avg");
        ExpectNear(v[4], ssim[i].at(rgb ? "R" : "Y"), 0.0001, at + " ssim_y");
    }
    // The mean row sums up as the filters do.
    const std::vector<double>& mean = out.mean.values;
    ExpectNear(mean[0], psnrSummary[rgb ? "r" : "y"], 0.01, "mean psnr_y");
    ExpectNear(mean[1], psnrSummary[rgb ? "g" : "u"], 0.01, "mean psnr_u");
    ExpectNear(mean[2], psnrSummary[rgb ? "b" : "v"], 0.01, "mean psnr_v");
    ExpectNear(mean[3], psnrSummary["average"], 0.01, "mean psnr_avg");
    ExpectNear(mean[4], ssimSummary[rgb ? "R" : "Y"], 0.0001, "mean ssim_y");
    if (c.worst >= 0) {
        EXPECT_EQ(out.min.frameA, c.worst);
        EXPECT_TRUE(std::isfinite(out.rows[static_cast<std::size_t>(c.worst)].values[3]));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Compare, testing::ValuesIn(kCases), [](const auto& info) { return info.param.name; });

// The shifted copy is most alike at its own offset, and the summary's worst
// frame is the one whose average PSNR is lowest.
TEST_F(CompareClips, BestAtTheKnownOffsetAndWorstFrameNamed) {
    if (!ready_) GTEST_SKIP() << "the ffmpeg program (with libx264) is needed to make the clips";
    const Output at = RunCompare(Input("src.mkv"), Input("late.mp4"), -3);
    ASSERT_TRUE(at.ok) << at.text;
    for (int offset : {-5, -4, -2, -1, 0}) {
        const Output other = RunCompare(Input("src.mkv"), Input("late.mp4"), offset);
        ASSERT_TRUE(other.ok) << other.text;
        EXPECT_GT(at.mean.values[3], other.mean.values[3] + 3) << "offset " << offset;
    }
    const Row* worst = &at.rows.front();
    for (const Row& row : at.rows)
        if (row.values[3] < worst->values[3]) worst = &row;
    EXPECT_EQ(at.min.frameA, worst->frameA);
    EXPECT_EQ(at.min.values[3], worst->values[3]);
}

}  // namespace
