// The picture format lines of framewise-cli info.
#include <ostream>

#include "bitmap/cDIBx.h"
#include "cli/Commands.h"
#include "clip/cAVI.h"
#include "platform/mAVIDecs.h"

void PrintFormatLines(cAVI& clip, std::ostream& out) {
    // Many containers leave the picture format to the stream itself: the
    // first picture tells it.
    cDIBx first;
    clip.ReadFrame(clip.GetFirstFrame(), first);
    StreamFacts f;
    if (AVIStreamGetFormatFacts(clip.Stream(), clip.FrameReader(), &f) != 0) return;
    out << "pixel_format: " << f.pixelFormat << "\n"
        << "bit_depth: " << f.bitDepth << "\n"
        << "color_matrix: " << f.matrix << "\n"
        << "color_range: " << f.range << "\n"
        << "color_primaries: " << f.primaries << "\n"
        << "color_transfer: " << f.transfer << "\n";
}
