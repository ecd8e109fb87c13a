// libFuzzer entry: fuzz::ReadBmpFile on every input.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Init();
    fuzz::ReadBmpFile(data, size);
    return 0;
}
