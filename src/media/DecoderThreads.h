#pragma once

// How many threads a video codec decodes with: the setting, or FFmpeg's own
// choice from the cores this process may run on, bounded so that the
// pictures the codec holds leave the frame cache room for what playing
// needs. Pure functions: any thread.
namespace DecoderThreads
{
// Most threads FFmpeg picks by itself.
inline constexpr int MAXIMUM_AUTOMATIC = 16;

// Conversion spreads over at most this many threads: beyond it the memory
// bus, not the arithmetic, sets the pace.
inline constexpr int MAXIMUM_CONVERSION_THREADS = 4;

// Pictures the cache must hold besides a backward window of the shortest
// length, so that there is something to show while the next is decoded.
inline constexpr int PICTURES_SHOWN_BESIDE_WINDOW = 4;

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

// Bytes the cache must keep free of the codec's pictures for play: a
// backward window of windowFrames pictures and its end, and the pictures
// shown beside it.
long long PlayRoom(int windowFrames, long long pictureBytes);

// The most frame threads, up to wanted, whose pictures fit within the budget
// beside room bytes: each thread holds 2 pictures of decoderPictureBytes, and
// the codec fixedPictures more (references, reordering, the one converted).
// 0 when not even one thread fits.
int FrameThreadsWithin(int wanted, long long budget, long long room, long long decoderPictureBytes,
                       long long fixedPictures);

// The pictures a seek keeps before its target, which are also the shortest
// backward window: leading, unless play room for that many leaves no room
// for two frame threads within the budget (see FrameThreadsWithin); then the
// most, down to half of leading, beside which two fit: the seek then decodes
// on frame threads, and converts fewer pictures before its target. leading
// where not even half leaves room for two.
int SeekLead(int leading, long long budget, long long pictureBytes, long long decoderPictureBytes,
             long long fixedPictures);
} // namespace DecoderThreads
