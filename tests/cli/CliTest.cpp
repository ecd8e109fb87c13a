// framewise-cli as a user runs it: exit status, and what it prints where.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "ClipMaker.h"
#include "TestUtil.h"

namespace {

struct CliCase {
    const char* name;
    const char* command;  // run by the shell, with $CLI, $CLIP and $DIR set
    int status;
    std::vector<std::string> out;  // whole lines of the standard output; none: it stays empty
    const char* err;               // text of the standard error; "": it stays empty
};

// The clip: 160x140, frames 0 to 9; a frame's BMP file is over 64 KiB.
const CliCase kCliCases[] = {
    {"Info", "$CLI info $CLIP", 0, {"frames: 10", "width: 160", "height: 140"}, ""},
    {"FrameThenBmpInfo", "$CLI frame $CLIP 9 $DIR/9.bmp && $CLI bmpinfo $DIR/9.bmp", 0,
     {"file_size: 67254", "bits_offset: 54", "width: 160", "height: 140", "bit_count: 24", "image_size: 67200"}, ""},
    {"FrameNumberWithLetters", "$CLI frame $CLIP 12abc $DIR/x.bmp", 2, {}, "12abc"},
    {"FrameNumberWithLeadingZero", "$CLI frame $CLIP 010 $DIR/x.bmp", 1, {}, "frame 10 is outside"},
    {"FrameAfterTheLast", "$CLI frame $CLIP 10 $DIR/x.bmp", 1, {}, "outside"},
    {"MissingClip", "$CLI info $DIR/missing.avi", 1, {}, "missing.avi"},
    {"MissingBitmap", "$CLI bmpinfo $DIR/missing.bmp", 1, {}, "missing.bmp"},
    {"Verify", "$CLI verify $CLIP --seed 5 --positions all", 0, {"verify: 10/10 positions exact"}, ""},
    {"VerifySample", "$CLI verify $CLIP --positions 4", 0, {"verify: 4/4 positions exact"}, ""},
    {"VerifyNoCount", "$CLI verify $CLIP --positions 0", 2, {}, "--positions"},
    {"CompareWithItself", "$CLI compare $CLIP $CLIP --from 8", 0, {"8,8,inf,inf,inf,inf,1.000000", "9,9,inf,inf,inf,inf,1.000000"}, ""},
    {"CompareOffsetNotANumber", "$CLI compare $CLIP $CLIP --offset x", 2, {}, "--offset"},
    {"CompareNoFrameInCommon", "$CLI compare $CLIP $CLIP --offset 10", 1, {}, "no frame of"},
    // The command line: help and version on stdout, usage errors name the argument, exit 2.
    {"UnknownCommand", "$CLI play $CLIP", 2, {}, "unknown command: play"},
    {"UnknownOption", "$CLI info --fast $CLIP", 2, {}, "--fast"},
    {"MissingArgument", "$CLI frame $CLIP 3", 2, {}, "OUT is required"},
    {"ExtraArgument", "$CLI info $CLIP $CLIP", 2, {}, "not expected"},
    {"NoCommand", "$CLI", 2, {}, "--help"},
    {"Help", "$CLI --help", 0, {"Usage: framewise-cli [OPTIONS] SUBCOMMAND"}, ""},
    {"CommandHelp", "$CLI frame --help", 0, {"Usage: framewise-cli frame [OPTIONS] FILE N OUT"}, ""},
    {"Version", "$CLI --version", 0, {"framewise-cli " FW_VERSION}, ""},
#ifdef FW_GUI
    {"WindowHelp", "$GUI --help", 0, {"Usage: framewise [options] [FILE...]"}, ""},
    {"WindowVersion", "$GUI --version", 0, {"framewise " FW_VERSION}, ""},
    {"WindowUnknownOption", "$GUI --fast", 2, {}, "fast"},
#endif
};

class Cli : public testing::TestWithParam<CliCase> {
protected:
    static void SetUpTestSuite() {
        const std::string dir = fwtest::TempDir();
        ::setenv("CLI", FW_CLI, 1), ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
#ifdef FW_GUI
        ::setenv("GUI", FW_GUI, 1);
#endif
        ::setenv("DIR", dir.c_str(), 1), ::setenv("CLIP", (dir + "/clip.avi").c_str(), 1);
        ASSERT_TRUE(fwtest::MakeClip(dir + "/clip.avi", "ffv1 160x140 10"));
    }
};

TEST_P(Cli, ExitStatusAndOutput) {
    const CliCase& c = GetParam();
    const int status = std::system((std::string("(") + c.command + ") >$DIR/out 2>$DIR/err").c_str());
    ASSERT_TRUE(WIFEXITED(status)) << c.command;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << c.command;
    const auto text = [](const char* file) {
        const std::vector<std::uint8_t> bytes = fwtest::ReadAll(std::getenv("DIR") + std::string(file));
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string out = std::string("\n") + text("/out"), err = text("/err");
    for (const std::string& line : c.out) EXPECT_NE(out.find("\n" + line + "\n"), std::string::npos) << line << out;
    EXPECT_TRUE(!c.out.empty() || out == "\n") << out;
    EXPECT_EQ(err.empty(), *c.err == '\0') << err;
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(Table, Cli, testing::ValuesIn(kCliCases), [](const auto& info) { return info.param.name; });

}  // namespace
