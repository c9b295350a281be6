#pragma once

// Conversions between media times (microseconds) and frame numbers for a
// frame duration d in microseconds. Frame n covers [Start(n), Start(n + 1)).
class TimeHelpers
{
public:
    TimeHelpers() = delete;

    static long long FrameToFrameStartTime(int frame, double frameDuration);
    static long long FrameToFrameMidTime(int frame, double frameDuration);
    static long long FrameToFrameEndTime(int frame, double frameDuration);

    static int TimeToFrame(long long time, double frameDuration);
    static long long TimeToFrameStartTime(long long time, double frameDuration);
    static long long TimeToFrameMidTime(long long time, double frameDuration);
    static long long TimeToFrameEndTime(long long time, double frameDuration);

    // How far a picture's time may lie from a frame's start and the picture
    // still start that frame: timestamps carry noise (times rounded to a
    // coarse time base, a small step where recordings were joined) that a
    // quarter of a frame covers, or half a tick of timeStep (µs, the stream's
    // time-base tick, 0: exact times) where that is more; always below half a
    // frame and at least 1 µs.
    static long long PictureStartTolerance(double frameDuration, double timeStep = 0.0);
    // The frame a picture that starts at time is first shown in: the frame
    // it starts within the tolerance of, else (a real gap, as in a variable
    // frame rate) the frame after the one it starts inside, which the picture
    // before covers.
    static int PictureStartToFrame(long long time, double frameDuration, double timeStep = 0.0);

    // The frames of a stream that ends at endTime, one frame after its last
    // picture's time: a remainder past the last whole frame counts as a frame
    // only when it is at least the picture start tolerance (the last picture
    // starts a frame of its own only that far into a frame).
    static int EndTimeToFrameCount(long long endTime, double frameDuration, double timeStep = 0.0);

    // a + b, held at the limits of long long where it would pass them (stream
    // times near 2^63 µs).
    static long long SaturatingAdd(long long a, long long b);
};
