#include "platform/fine_timer.h"

namespace platform {

// Linux sleeps at microsecond resolution: nothing to raise.
FineTimer::FineTimer() = default;

FineTimer::~FineTimer() = default;

}  // namespace platform
