// Thread adapters.
#pragma once

// Lets the calling thread run only as far as the program's other threads
// leave it processor time: for work nobody waits on (measuring pictures for
// a readout, a background pass), so that it never slows the frames being
// looked at. Threads it starts afterwards inherit this. Harmless where the
// system refuses.
void LowerThreadPriority();
