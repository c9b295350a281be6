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
} // namespace TimingBounds
