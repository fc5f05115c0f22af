// The timer resolution that the fades' 1 ms sleeps need.
#pragma once

namespace platform {

// While one lives, a 1 ms sleep lasts about 1 ms on every platform. Any
// thread; several may live at once. Hold one for the length of a fade only.
class FineTimer {
public:
    FineTimer();
    ~FineTimer();
    FineTimer(const FineTimer&) = delete;
    FineTimer& operator=(const FineTimer&) = delete;
};

}  // namespace platform
