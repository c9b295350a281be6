#include "media/RegularFrameRate.h"

#include <algorithm>
#include <cmath>
#include <vector>

RegularFrameRate::RegularFrameRate(AVFormatContext* context, int streamIndex, AVRational timeBase)
    : mContext(context)
    , mStreamIndex(streamIndex)
    , mTimeBase(timeBase)
{
    if (mContext && mStreamIndex >= 0 && mStreamIndex < static_cast<int>(mContext->nb_streams))
    {
        AVStream const* stream = mContext->streams[mStreamIndex];
        mAverage = stream->avg_frame_rate;
        mBase = stream->r_frame_rate;
    }
}

bool RegularFrameRate::RatesDiffer() const
{
    return mAverage.num > 0 && mAverage.den > 0 && mBase.num > 0 && mBase.den > 0 && av_cmp_q(mAverage, mBase) != 0;
}

bool RegularFrameRate::BaseRateFits()
{
    if (!RatesDiffer())
    {
        return false;
    }
    // The pictures' times in presentation order: a packet's own, or its
    // decoding time where it has none.
    std::vector<long long> times;
    AVPacket* packet = av_packet_alloc();
    while (packet && times.size() < SAMPLE_PICTURES && av_read_frame(mContext, packet) >= 0)
    {
        long long const timestamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (packet->stream_index == mStreamIndex && packet->size > 0 && timestamp != AV_NOPTS_VALUE)
        {
            times.push_back(timestamp);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    std::sort(times.begin(), times.end());
    std::vector<double> spacings;
    for (std::size_t i = 1; i < times.size(); ++i)
    {
        if (times[i] > times[i - 1])
        {
            spacings.push_back(1e6 * av_q2d(mTimeBase) * static_cast<double>(times[i] - times[i - 1]));
        }
    }
    if (spacings.size() < 2)
    {
        return false;
    }
    // The spacing most pictures keep: the mean of the spacings near the
    // median. A pause or a picture out of line falls outside; the jitter of a
    // phone's clock or of times rounded to milliseconds evens out, where the
    // median would be one of its extremes.
    auto const middle = spacings.begin() + static_cast<std::ptrdiff_t>(spacings.size() / 2);
    std::nth_element(spacings.begin(), middle, spacings.end());
    double const median = *middle;
    double sum = 0.0;
    int near = 0;
    for (double const value : spacings)
    {
        if (std::abs(value / median - 1.0) <= SPACING_NEAR_MEDIAN)
        {
            sum += value;
            ++near;
        }
    }
    double const spacing = sum / near;
    mSpacing = spacing;
    auto const misfit = [spacing](AVRational rate) { return std::abs(1e6 / av_q2d(rate) / spacing - 1.0); };
    double const averageMisfit = misfit(mAverage);
    double const baseMisfit = misfit(mBase);
    // The average stays where it fits about as well as the base rate: a rate
    // a fraction of a percent off moves every picture a frame within a few
    // hundred frames, and pauses lower the average.
    return baseMisfit <= SPACING_TOLERANCE &&
           (averageMisfit > SPACING_TOLERANCE || averageMisfit > FIT_MARGIN * baseMisfit);
}
