// framewise-mkclip OUT.avi [ENCODER WIDTH HEIGHT FRAMES]: writes a clip in
// which every frame shows its own number.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ClipMaker.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: framewise-mkclip OUT.avi [ENCODER WIDTH HEIGHT FRAMES]\n");
        return 1;
    }
    fwtest::ClipSpec spec;
    spec.encoder = "mpeg4";
    spec.width = 320;
    spec.height = 240;
    spec.frames = 250;
    spec.gop = 25;
    if (argc == 6) {
        spec.encoder = argv[2];
        spec.width = std::atoi(argv[3]);
        spec.height = std::atoi(argv[4]);
        spec.frames = std::atoi(argv[5]);
    }
    return fwtest::MakeClip(argv[1], spec) ? 0 : 1;
}
