// The fuzz targets' regression inputs (and their seeds) run through the same
// code as under libFuzzer, so that the normal build and the sanitizer build
// replay every input that once crashed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "FuzzTargets.h"
#include "HostileSupport.h"
#include "TestUtil.h"

namespace fs = std::filesystem;

namespace {

struct Target {
    const char* name;
    void (*run)(const std::uint8_t*, std::size_t);
};

const Target kTargets[] = {{"BmpFile", fuzz::ReadBmpFile}, {"PackedDib", fuzz::ImportPackedDib}, {"AviClip", fuzz::OpenAviClip}};

// Each input is named before it runs: a crash ends the program, and the last
// name printed is the input that caused it. None may cost memory out of
// proportion to a few kilobytes of input.
int Replay(const Target& target, const char* kind) {
    std::vector<fs::path> inputs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(FW_FUZZ_DIR) / kind / target.name, ec))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& input : inputs) {
        std::cout << "replaying " << input.string() << std::endl;
        const std::vector<std::uint8_t> bytes = fwtest::ReadAll(input.string());
        EXPECT_LE(hostile::PeakGrowth([&] { target.run(bytes.data(), bytes.size()); }), hostile::kMemoryBound) << input;
    }
    return static_cast<int>(inputs.size());
}

class FuzzInputs : public testing::TestWithParam<Target> {
protected:
    void SetUp() override { fuzz::Init(); }
};

TEST_P(FuzzInputs, RegressionsRunWithoutFault) {
    std::cout << Replay(GetParam(), "regressions") << " regression inputs\n";
}

TEST_P(FuzzInputs, SeedsRunWithoutFault) { EXPECT_GT(Replay(GetParam(), "corpus"), 0); }

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs, testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
