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

    // The frames of a stream that ends at endTime: a remainder past the last
    // whole frame counts as a frame only when it is at least 1.5 % of one
    // plus half of timeStep (µs, the stream's time-base tick, 0: exact
    // times), by which the last picture's stored time may be rounded up. The
    // tolerance never exceeds half a frame.
    static int EndTimeToFrameCount(long long endTime, double frameDuration, double timeStep = 0.0);
};
