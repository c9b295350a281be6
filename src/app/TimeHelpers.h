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

    static int EndTimeToFrameCount(long long endTime, double frameDuration);
};
