// A record the simulated kernel shares between threads, with its mutex held for as long as the
// view lives: `Locked(ThePool())->live.size()`.
#pragma once

#include <mutex>

namespace sim {

template <typename State> class Locked {
public:
    explicit Locked(State& state) : state_(state), lock_(state.mutex) {}
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    State* operator->() const { return &state_; }
    State& operator*() const { return state_; }

private:
    State& state_;
    std::lock_guard<std::mutex> lock_;
};

} // namespace sim
