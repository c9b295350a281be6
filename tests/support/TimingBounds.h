#pragma once

// Timing checks measure the product, not the machine. A sanitizer build runs
// our code and Qt's several times slower and exists to find races and memory
// faults: there a thread starved by the instrumentation says nothing about the
// product's timing. Timing bounds are widened in those builds; every check of
// behaviour stays as it is.
namespace TimingBounds
{
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
inline constexpr bool SANITIZED = true;
#else
inline constexpr bool SANITIZED = false;
#endif
#else
inline constexpr bool SANITIZED = false;
#endif

// How much wider a timing bound is in a sanitizer build.
inline constexpr double SANITIZED_FACTOR = 4.0;

// The bound for this build.
inline constexpr double Bound(double bound)
{
    return SANITIZED ? bound * SANITIZED_FACTOR : bound;
}

// The bound (ms) of a wait for a condition the product brings about (a frame
// shown, a worker back, a range set). The wait ends as soon as the condition
// holds, so the bound says nothing of the product's speed: it only decides
// how long a process starved by a loaded machine is given before the wait
// counts as failed. Seconds of starvation are common when every core runs a
// test; a fault still fails the wait, later.
inline constexpr int CONDITION_WAIT_MS = 60000;
} // namespace TimingBounds
