#pragma once

// How many threads a video codec decodes with: the setting, or FFmpeg's own
// choice from the cores this process may run on (the budget then bounds the
// frame threads: CacheBudget::FrameThreadsWithin). Pure functions: any
// thread.
namespace DecoderThreads
{
// Most threads FFmpeg picks by itself.
inline constexpr int MAXIMUM_AUTOMATIC = 16;

// Conversion spreads over at most this many threads: beyond it the memory
// bus, not the arithmetic, sets the pace.
inline constexpr int MAXIMUM_CONVERSION_THREADS = 4;

// Cores this process may run on (its CPU affinity), at least 1.
int UsableCores();

// The threads a setting asks for: itself when positive, else FFmpeg's own
// choice for 0 (the usable cores + 1, at most MAXIMUM_AUTOMATIC; 1 on a
// single core).
int Requested(int setting);

// Threads converting each picture: the cores the decoder leaves, up to
// MAXIMUM_CONVERSION_THREADS. A decoder that makes one picture at a time
// (slice threads, or a single thread) waits while its picture is converted
// on the same thread, so the conversion may take every core; frame threads
// (framesInParallel) go on decoding the next pictures meanwhile and keep half
// of them.
int ConversionThreads(bool framesInParallel);
} // namespace DecoderThreads
