#include "app/TimeHelpers.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

// A frame duration such as 1e6 / 30 is not exact in binary, so n × d can land
// a hair above a whole microsecond (195 × 33333.33… = 6500000.0000000009).
// Taking the ceiling of that would hand the frame's last microsecond to the
// next frame. Products that lie within rounding noise of a whole number are
// taken as that number; the tolerance grows with the magnitude but stays far
// below a microsecond over any range the player uses.
long long CeilWithTolerance(double value)
{
    if (std::isnan(value))
    {
        return 0; // only a duration that is not a number gets here; frame 0 starts at 0
    }
    double const nearest = std::nearbyint(value);
    double const tolerance = std::max(1e-7, std::abs(value) * 1e-14);
    double const result = std::abs(value - nearest) <= tolerance ? nearest : std::ceil(value);
    if (!(result > -9.2e18 && result < 9.2e18))
    {
        return result > 0 ? std::numeric_limits<long long>::max() : std::numeric_limits<long long>::min();
    }
    return static_cast<long long>(result);
}

int TruncateToInt(double value)
{
    if (!(value > std::numeric_limits<int>::min()))
    {
        return std::numeric_limits<int>::min();
    }
    if (!(value < std::numeric_limits<int>::max()))
    {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(value);
}

// n + 1 without signed overflow at the largest frame number.
long long NextFrame(int frame) { return static_cast<long long>(frame) + 1; }

long long StartOf(long long frame, double frameDuration)
{
    return CeilWithTolerance(static_cast<double>(frame) * frameDuration);
}

} // namespace

long long TimeHelpers::FrameToFrameStartTime(int frame, double frameDuration)
{
    return StartOf(frame, frameDuration);
}

long long TimeHelpers::FrameToFrameMidTime(int frame, double frameDuration)
{
    long long const start = StartOf(frame, frameDuration);
    long long const next = StartOf(NextFrame(frame), frameDuration);
    // Halve each part first so the sum cannot overflow; the correction keeps
    // the result equal to (start + next) / 2 truncated toward zero.
    long long const half = start / 2 + next / 2;
    long long const rest = (start % 2 + next % 2) / 2;
    return half + rest;
}

long long TimeHelpers::FrameToFrameEndTime(int frame, double frameDuration)
{
    return StartOf(NextFrame(frame), frameDuration) - 1;
}

int TimeHelpers::TimeToFrame(long long time, double frameDuration)
{
    if (!(frameDuration > 0.0))
    {
        return 0;
    }
    int const frame = TruncateToInt(static_cast<double>(time) / frameDuration);
    if (frame == std::numeric_limits<int>::max())
    {
        return frame;
    }
    return StartOf(NextFrame(frame), frameDuration) <= time ? frame + 1 : frame;
}

long long TimeHelpers::TimeToFrameStartTime(long long time, double frameDuration)
{
    return FrameToFrameStartTime(TimeToFrame(time, frameDuration), frameDuration);
}

long long TimeHelpers::TimeToFrameMidTime(long long time, double frameDuration)
{
    return FrameToFrameMidTime(TimeToFrame(time, frameDuration), frameDuration);
}

long long TimeHelpers::TimeToFrameEndTime(long long time, double frameDuration)
{
    return FrameToFrameEndTime(TimeToFrame(time, frameDuration), frameDuration);
}

long long TimeHelpers::PictureStartTolerance(double frameDuration, double timeStep)
{
    if (!(frameDuration > 0.0))
    {
        return 1;
    }
    double const quarter = frameDuration / 4.0;
    double const halfTick = timeStep > 0.0 ? std::ceil(timeStep / 2.0) : 0.0;
    double const limit = std::ceil(frameDuration / 2.0) - 1.0;
    double const tolerance = std::min(std::max(quarter, halfTick), limit);
    return tolerance >= 1.0 && tolerance < 9.2e18 ? static_cast<long long>(tolerance) : 1;
}

int TimeHelpers::PictureStartToFrame(long long time, double frameDuration, double timeStep)
{
    long long const tolerance = PictureStartTolerance(frameDuration, timeStep);
    long long const shifted = time > std::numeric_limits<long long>::max() - tolerance ? time : time + tolerance;
    int const frame = TimeToFrame(shifted, frameDuration);
    if (frame < std::numeric_limits<int>::max() && time > std::numeric_limits<long long>::min() + tolerance &&
        FrameToFrameStartTime(frame, frameDuration) < time - tolerance)
    {
        return frame + 1; // it starts inside that frame: it is shown from the next one
    }
    return frame;
}

int TimeHelpers::EndTimeToFrameCount(long long endTime, double frameDuration, double timeStep)
{
    int const count = TimeToFrame(endTime, frameDuration);
    if (!(frameDuration > 0.0))
    {
        return count;
    }
    // Measured from the corrected frame so a quotient of 194.9999999 that
    // TimeToFrame already took as 195 does not add a phantom frame.
    double const rest = (static_cast<double>(endTime) / frameDuration - count) * frameDuration;
    return rest >= static_cast<double>(PictureStartTolerance(frameDuration, timeStep)) ? count + 1 : count;
}

long long TimeHelpers::SaturatingAdd(long long a, long long b)
{
    long long sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
    {
        return b > 0 ? std::numeric_limits<long long>::max() : std::numeric_limits<long long>::min();
    }
    return sum;
}
