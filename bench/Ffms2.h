// The field's reference for exact random access: ffms2, one thread, BGR24
// output, default seek mode. Without ffms2 every figure is NaN.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bench {

class Ffms2Clip {
public:
    // Indexes the file (not timed: ffms2 users keep their index).
    explicit Ffms2Clip(const std::string& path);
    ~Ffms2Clip();
    Ffms2Clip(const Ffms2Clip&) = delete;
    Ffms2Clip& operator=(const Ffms2Clip&) = delete;

    bool Usable() const;
    int FrameCount() const;
    // Mean ms per FFMS_GetFrame over `frames`, on a fresh video source.
    double MeanGetFrameMs(const std::vector<int>& frames) const;
    // Mean ms per step of `steps` backward steps from `start`, on a fresh
    // video source that first showed `start` (not timed).
    double BackStepMs(int start, int steps) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

bool Ffms2Available();

}  // namespace bench
