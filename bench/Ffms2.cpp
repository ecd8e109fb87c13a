#include "Ffms2.h"

#include "Measure.h"

#ifdef FRAMEBENCH_FFMS2
extern "C" {
#include <libavutil/pixfmt.h>
}
#include <ffms.h>

namespace bench {
namespace {

struct SourceCloser {
    void operator()(FFMS_VideoSource* s) const { FFMS_DestroyVideoSource(s); }
};
using SourcePtr = std::unique_ptr<FFMS_VideoSource, SourceCloser>;

}  // namespace

struct Ffms2Clip::State {
    std::string path;
    FFMS_Index* index = nullptr;
    int track = -1;
    int frames = 0;
    int width = 0;
    int height = 0;

    SourcePtr OpenSource() const {
        char message[512] = {};
        FFMS_ErrorInfo error{0, 0, sizeof message, message};
        SourcePtr source(FFMS_CreateVideoSource(path.c_str(), track, index, 1, FFMS_SEEK_NORMAL, &error));
        if (!source) return nullptr;
        const int formats[] = {AV_PIX_FMT_BGR24, -1};
        if (FFMS_SetOutputFormatV2(source.get(), formats, width, height, FFMS_RESIZER_BICUBIC, &error) != 0)
            return nullptr;
        return source;
    }
};

bool Ffms2Available() { return true; }

Ffms2Clip::Ffms2Clip(const std::string& path) : state_(std::make_unique<State>()) {
    FFMS_Init(0, 0);
    char message[512] = {};
    FFMS_ErrorInfo error{0, 0, sizeof message, message};
    state_->path = path;
    FFMS_Indexer* indexer = FFMS_CreateIndexer(path.c_str(), &error);
    if (!indexer) return;
    state_->index = FFMS_DoIndexing2(indexer, FFMS_IEH_ABORT, &error);  // frees the indexer
    if (!state_->index) return;
    state_->track = FFMS_GetFirstTrackOfType(state_->index, FFMS_TYPE_VIDEO, &error);
    if (state_->track < 0) return;
    state_->frames = FFMS_GetNumFrames(FFMS_GetTrackFromIndex(state_->index, state_->track));
    SourcePtr probe(FFMS_CreateVideoSource(path.c_str(), state_->track, state_->index, 1, FFMS_SEEK_NORMAL, &error));
    if (!probe) return;
    const FFMS_Frame* first = FFMS_GetFrame(probe.get(), 0, &error);
    if (!first) return;
    state_->width = first->EncodedWidth;
    state_->height = first->EncodedHeight;
}

Ffms2Clip::~Ffms2Clip() {
    if (state_->index) FFMS_DestroyIndex(state_->index);
}

bool Ffms2Clip::Usable() const { return state_->index && state_->frames > 0 && state_->width > 0; }

int Ffms2Clip::FrameCount() const { return state_->frames; }

double Ffms2Clip::MeanGetFrameMs(const std::vector<int>& frames) const {
    if (!Usable() || frames.empty()) return kMissing;
    SourcePtr source = state_->OpenSource();
    if (!source) return kMissing;
    char message[512] = {};
    FFMS_ErrorInfo error{0, 0, sizeof message, message};
    Stopwatch watch;
    for (const int n : frames)
        if (!FFMS_GetFrame(source.get(), n, &error)) return kMissing;
    return watch.Ms() / static_cast<double>(frames.size());
}

double Ffms2Clip::BackStepMs(int start, int steps) const {
    if (!Usable() || steps <= 0 || start - steps < 0) return kMissing;
    SourcePtr source = state_->OpenSource();
    if (!source) return kMissing;
    char message[512] = {};
    FFMS_ErrorInfo error{0, 0, sizeof message, message};
    if (!FFMS_GetFrame(source.get(), start, &error)) return kMissing;
    Stopwatch watch;
    for (int i = 1; i <= steps; ++i)
        if (!FFMS_GetFrame(source.get(), start - i, &error)) return kMissing;
    return watch.Ms() / steps;
}

}  // namespace bench

#else  // built without ffms2

namespace bench {

struct Ffms2Clip::State {};
bool Ffms2Available() { return false; }
Ffms2Clip::Ffms2Clip(const std::string&) {}
Ffms2Clip::~Ffms2Clip() = default;
bool Ffms2Clip::Usable() const { return false; }
int Ffms2Clip::FrameCount() const { return 0; }
double Ffms2Clip::MeanGetFrameMs(const std::vector<int>&) const { return kMissing; }
double Ffms2Clip::BackStepMs(int, int) const { return kMissing; }

}  // namespace bench

#endif
