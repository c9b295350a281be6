#include "BenchViewer.h"

#include "media/AvManager.h"
#include "media/VideoFrame.h"

BenchViewer::BenchViewer(AvManager* av, QObject* parent)
    : QObject(parent)
    , mAv(av)
{
    connect(av, &AvManager::VideoFrameChanged, this, &BenchViewer::OnVideoFrameChanged);
    connect(av, &AvManager::PlaybackTimeChanged, this, [this](long long time) {
        mTime = time;
        Hand();
    });
}

bool BenchViewer::Shows(long long time) const
{
    // Right after a switch of timelines the kept frames of the previous one
    // may still cover the time: those do not count.
    return mShown && mShown->timeline == mAv->PrimaryTimeline() && mShownTime == time &&
           mShown->adjustedStartTime <= time && time <= mShown->adjustedEndTime;
}

std::shared_ptr<VideoFrame> const& BenchViewer::Shown() const
{
    return mShown;
}

int BenchViewer::Deliveries() const
{
    return mDeliveries;
}

void BenchViewer::OnVideoFrameChanged(int outputId, std::shared_ptr<VideoFrame> current,
                                      std::shared_ptr<VideoFrame> previous, std::shared_ptr<VideoFrame> next)
{
    if (outputId != 0)
    {
        return;
    }
    ++mDeliveries;
    mKept = {std::move(current), std::move(previous), std::move(next)};
    if (!mKept.first() && !mKept.at(1) && !mKept.at(2))
    {
        mKept.clear();
        mShown.reset();
        mShownTime = -1;
        mShownTimelineFrame = -1;
        return;
    }
    Hand();
}

void BenchViewer::Hand()
{
    Timeline const* timeline = mAv->PrimaryTimeline();
    if (!timeline)
    {
        return;
    }
    for (std::shared_ptr<VideoFrame> const& frame : std::as_const(mKept))
    {
        if (frame && frame->adjustedStartTime <= mTime && mTime <= frame->adjustedEndTime)
        {
            int const timelineFrame = timeline->FrameAtTime(mTime);
            bool const changed = frame != mShown || timelineFrame != mShownTimelineFrame;
            mShown = frame;
            mShownTime = mTime;
            mShownTimelineFrame = timelineFrame;
            if (changed)
            {
                emit FrameHanded(frame, mTime, timelineFrame);
            }
            return;
        }
    }
}
