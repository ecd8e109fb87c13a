// framewise-cli frames against what ffprobe reports of the same file, and
// batch export against single exports.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "ClipMaker.h"
#include "TestFiles.h"
#include "TestUtil.h"

namespace {

using Fields = std::map<std::string, std::string>;

std::string Run(const std::string& command) {
    bool ok = false;
    std::string out = fwtest::RunCommand(command, ok);
    EXPECT_TRUE(ok) << command;
    return out;
}

// framewise-cli frames FILE as rows of named fields.
std::vector<Fields> OurRows(const std::string& csv) {
    std::istringstream in(csv);
    std::string line;
    std::vector<std::string> names;
    std::vector<Fields> rows;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream cellIn(line + ",");
        for (std::string cell; std::getline(cellIn, cell, ',');) cells.push_back(cell);
        if (names.empty()) {
            names = cells;
            continue;
        }
        Fields row;
        for (std::size_t i = 0; i < names.size() && i < cells.size(); ++i) row[names[i]] = cells[i];
        rows.push_back(row);
    }
    return rows;
}

// ffprobe's compact output (key=value|...) as rows, those that have `must`.
std::vector<Fields> ProbeRows(const std::string& text, const std::string& must) {
    std::istringstream in(text);
    std::vector<Fields> rows;
    for (std::string line; std::getline(in, line);) {
        Fields row;
        std::istringstream cellIn(line);
        for (std::string cell; std::getline(cellIn, cell, '|');)
            if (const auto eq = cell.find('='); eq != std::string::npos) row[cell.substr(0, eq)] = cell.substr(eq + 1);
        if (row.count(must)) rows.push_back(row);
    }
    return rows;
}

std::string Probe(const std::string& path, const std::string& entries) {
    return Run("ffprobe -v error -select_streams v:0 -show_entries " + entries + " -of compact=p=0 " +
               fwtest::ShellQuoted(path));
}

std::string Cli(const std::string& args) { return Run(std::string(FW_CLI) + " " + args); }

std::string NoTime(const std::string& v) { return v == "N/A" ? "" : v; }

struct FramesCase {
    std::string name, against, file;
};

std::vector<FramesCase> Cases() {
    std::vector<FramesCase> cases;
    for (const auto& row : fwtest::TableRows(FW_FRAMES_TABLE, 2)) cases.push_back({row[0], row[1], row[2]});
    return cases;
}

class Frames : public testing::TestWithParam<FramesCase> {};

TEST_P(Frames, AgreeWithFfprobe) {
    const FramesCase& c = GetParam();
    const std::string path = fwtest::MakeTestFile(c.name, c.file);
    if (path.empty()) GTEST_SKIP() << c.name << " is not on this machine (scripts/fetch-corpus)";
    const bool byFrames = c.against == "frames";
    std::vector<Fields> ours;
    for (const Fields& row : OurRows(Cli((byFrames ? "frames --types " : "frames ") + fwtest::ShellQuoted(path))))
        if (row.at("repeat") == "0") ours.push_back(row);
    std::vector<Fields> packets = ProbeRows(Probe(path, "packet=pts,dts,pos,size,flags"), "pos");
    // Packets share a byte position where a page or data packet holds several (Ogg, ASF).
    std::map<std::string, bool> keyAt;
    for (const Fields& p : packets) keyAt[p.at("pos") + "/" + p.at("size")] = p.at("flags").starts_with("K");
    ASSERT_FALSE(ours.empty());
    if (!byFrames) {
        std::erase_if(packets, [](const Fields& p) { return p.at("size") == "0"; });
        ASSERT_EQ(ours.size(), packets.size());
        for (std::size_t i = 0; i < ours.size(); ++i) {
            SCOPED_TRACE("frame " + ours[i]["frame"]);
            EXPECT_EQ(ours[i]["dts"], NoTime(packets[i]["dts"]));
            EXPECT_EQ(ours[i]["pkt_pos"], packets[i]["pos"]);
            EXPECT_EQ(ours[i]["pkt_size"], packets[i]["size"]);
            EXPECT_EQ(ours[i]["key"], keyAt[packets[i]["pos"] + "/" + packets[i]["size"]] ? "1" : "0");
        }
        return;
    }
    const std::vector<Fields> frames = ProbeRows(Probe(path, "frame=pts,pkt_pos,pkt_size,pict_type"), "pkt_pos");
    ASSERT_EQ(ours.size(), frames.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE("frame " + ours[i]["frame"]);
        EXPECT_EQ(ours[i]["pts"], NoTime(frames[i].at("pts")));
        EXPECT_EQ(ours[i]["pkt_pos"], NoTime(frames[i].at("pkt_pos")));
        EXPECT_EQ(ours[i]["pkt_size"], frames[i].at("pkt_size"));
        EXPECT_EQ(ours[i]["type"], frames[i].at("pict_type"));
        EXPECT_EQ(ours[i]["key"], keyAt[frames[i].at("pkt_pos") + "/" + frames[i].at("pkt_size")] ? "1" : "0");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Frames, testing::ValuesIn(Cases()),
                         [](const auto& info) { return fwtest::TestName(info.param.name); });

// The picture format lines of info, against ffprobe's stream entries.
TEST(Info, FormatAgreesWithFfprobe) {
    const std::string dir = fwtest::TempDir();
    const std::string path = dir + "/tagged.mkv";
    ASSERT_TRUE(fwtest::MakeClip(path, "libx264 96x64 5 pix=yuv420p10le -colorspace=bt709 -color_range=pc "
                                       "-color_primaries=bt470bg -color_trc=smpte170m"));
    const Fields stream = ProbeRows(Probe(path, "stream=pix_fmt,color_space,color_range,color_primaries,color_transfer"),
                                    "pix_fmt")
                              .at(0);
    const std::string info = std::string("\n") + Cli("info " + path);
    for (const auto& [ours, theirs] : std::map<std::string, std::string>{{"pixel_format", "pix_fmt"},
                                                                          {"color_matrix", "color_space"},
                                                                          {"color_range", "color_range"},
                                                                          {"color_primaries", "color_primaries"},
                                                                          {"color_transfer", "color_transfer"}})
        EXPECT_NE(info.find("\n" + ours + ": " + stream.at(theirs) + "\n"), std::string::npos) << ours << info;
    EXPECT_NE(info.find("\nbit_depth: 10\n"), std::string::npos) << info;
}

// Many frames in one run give the same files as one run per frame; a list
// with a bad item writes nothing and names the item.
TEST(BatchExport, SameBytesAsSingleExports) {
    const std::string dir = fwtest::TempDir();
    const std::string clip = dir + "/clip.mp4";
    ASSERT_TRUE(fwtest::MakeClip(clip, "libx264 96x64 40 gop=12 b=2"));
    fwtest::WriteAll(dir + "/list", {'3', '5', '\n', '\n', '3', '9', '\n'});
    Cli("frame " + clip + " 0-30:7,2,@" + dir + "/list " + dir + "/batch/");
    Cli("frame " + clip + " 36-37 " + dir + "/png/ --png");
    const std::vector<int> expected = {0, 7, 14, 21, 28, 2, 35, 39};
    for (int n : expected) {
        const std::string single = dir + "/" + std::to_string(n) + ".bmp";
        Cli("frame " + clip + " " + std::to_string(n) + " " + single);
        EXPECT_EQ(fwtest::ReadAll(dir + "/batch/" + std::to_string(n) + ".bmp"), fwtest::ReadAll(single)) << n;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir + "/batch"), {}), 8);
    Cli("frame " + clip + " 37 " + dir + "/37.png");
    EXPECT_EQ(fwtest::ReadAll(dir + "/png/37.png"), fwtest::ReadAll(dir + "/37.png"));

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"1,40", "\"40\""}, {"1,x", "\"x\""}, {"5-2", "\"5-2\""}, {"1-9:0", "\"1-9:0\""}, {"1,,2", "empty"},
        {"@" + dir + "/nolist", dir + "/nolist"}};
    for (const auto& [list, named] : bad) {
        bool ok = true;
        const std::string err = fwtest::RunCommand(std::string(FW_CLI) + " frame " + clip + " " +
                                                       fwtest::ShellQuoted(list) + " " + dir + "/refused/ 2>&1",
                                                   ok);
        EXPECT_FALSE(ok) << list;
        EXPECT_FALSE(std::filesystem::exists(dir + "/refused")) << list;
        EXPECT_NE(err.find(named), std::string::npos) << list << ": " << err;
    }
}

}  // namespace
