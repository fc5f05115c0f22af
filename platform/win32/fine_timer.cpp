#include <windows.h>
#include <timeapi.h>

#include "platform/fine_timer.h"

namespace platform {

// The default tick is 15.6 ms, which would stretch a 255-step fade of 1 ms
// sleeps to about 4 s. The raised resolution costs power, so it is held only
// while a fade runs.
FineTimer::FineTimer() { timeBeginPeriod(1); }

FineTimer::~FineTimer() { timeEndPeriod(1); }

}  // namespace platform
