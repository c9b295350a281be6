#pragma once

#include <cstddef>

extern "C" {
#include <libavformat/avformat.h>
}

// Tells which of a video stream's two claimed rates, its average and its
// base rate, its pictures keep to, from the spacing of its first pictures:
// one picture timed seconds late skews the average, a corrupt timestamp
// among the first pictures the base rate. Reads packets on the caller's
// thread from the demuxer it is given, positioned at the stream's start.
class RegularFrameRate
{
public:
    // The pictures whose spacing tells the stream's regular rate, and how far
    // (a share of the spacing) a rate's frame step may lie from it. The
    // spacing is the mean of those within SPACING_NEAR_MEDIAN of the median.
    // The base rate is taken over the average where the average does not
    // fit, or fits FIT_MARGIN times worse than the base rate.
    static constexpr std::size_t SAMPLE_PICTURES = 64;
    static constexpr double SPACING_TOLERANCE = 0.1;
    static constexpr double SPACING_NEAR_MEDIAN = 0.5;
    static constexpr double FIT_MARGIN = 3.0;

    RegularFrameRate(AVFormatContext* context, int streamIndex, AVRational timeBase);

    // Whether the rates differ at all: nothing needs reading where they
    // agree.
    bool RatesDiffer() const;
    // Reads the first pictures' times and tells whether the base rate is to
    // be taken over the average; Spacing() then holds their spacing (µs).
    bool BaseRateFits();
    double Spacing() const { return mSpacing; }
    AVRational Average() const { return mAverage; }
    AVRational Base() const { return mBase; }

private:
    AVFormatContext* mContext;
    int mStreamIndex;
    AVRational mTimeBase;
    AVRational mAverage {0, 1};
    AVRational mBase {0, 1};
    double mSpacing = 0.0;
};
