#include "platform/Threads.h"

#include <sys/resource.h>
#include <unistd.h>

void LowerThreadPriority() {
    // On Linux the nice value belongs to the thread, not the process.
    constexpr int kBackgroundNice = 10;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kBackgroundNice);
}
