#pragma once

// Shared by the engine tests: parsed source timelines and edit timelines
// over the generated media, the frame number the numbered media carry in
// their pictures, and a stand-in for the viewer that keeps the frames the
// engine delivers and hands over the one covering the playback time.

#include "media/AvManager.h"
#include "media/AvParser.h"
#include "media/VideoFrame.h"
#include "model/Clip.h"
#include "model/Source.h"
#include "model/Timeline.h"

#include "support/TestMedia.h"
#include "support/TimingBounds.h"

#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <memory>

namespace EngineTestRig
{

using FramePtr = std::shared_ptr<VideoFrame>;

// The number drawn into the numbered media: 16 blocks of 20 pixels along the
// top edge, block i white for bit i.
inline int ReadNumber(VideoFrame const& frame)
{
    QImage const& image = frame.planes[0];
    if (image.width() < 320 || image.height() < 32)
    {
        return -2; // not a numbered picture
    }
    int number = 0;
    for (int bit = 0; bit < 16; ++bit)
    {
        QPoint const centre(bit * 20 + 10, 16);
        int const level = frame.pixelFormat == VideoFramePixelFormat::YUV420P ? image.constScanLine(centre.y())[centre.x()]
                                                                               : qRed(image.pixel(centre));
        if (level > 128)
        {
            number |= 1 << bit;
        }
    }
    return number;
}

// A parsed source timeline over a generated file or sequence pattern, its
// video timed by the route given (see AvParser::SetVideoTimesFromPackets).
inline std::unique_ptr<Timeline> SourceTimeline(QString const& name, bool timesFromPackets = true)
{
    auto timeline = std::make_unique<Timeline>(TestMedia::Path(name), QString(), QUuid::createUuid());
    AvParser parser;
    parser.SetVideoTimesFromPackets(timesFromPackets);
    parser.ParseMedia(timeline->SourcePtr());
    timeline->OnTrackUpdated();
    return timeline;
}

// Cuts a source to [first, last] frames; edit clips of it follow.
inline void Cut(Timeline* sourceTimeline, int first, int last)
{
    sourceTimeline->SetPlaybackRangeByFrame(first, last);
}

// An edit timeline of clips sharing the sources of the given source
// timelines, in order. The source timelines must outlive it.
inline std::unique_ptr<Timeline> EditTimeline(QList<Timeline*> const& sources)
{
    auto timeline = std::make_unique<Timeline>(nullptr, true);
    for (Timeline* source : sources)
    {
        timeline->InsertClipAtIndex(new Clip(source->SourceClip(), nullptr), -1, false);
    }
    timeline->RefreshClipStartTimes();
    timeline->OnTrackUpdated();
    return timeline;
}

// The source frame the picture at a time must carry, or -1 for the black
// picture of a clip without video.
inline int ExpectedNumber(Timeline const* timeline, long long time)
{
    Clip const* clip = timeline->ClipAtTime(time);
    if (!clip || !clip->HasVideo())
    {
        return -1;
    }
    return clip->TimelineFrameToSourceFrame(timeline->FrameAtTime(time));
}

// Ends every task and waits for their threads as long as a condition may take
// on a loaded machine. The player's own shutdown gives up after a second and
// leaves a slow task running; a test that then goes on frees what that task
// still works on (the timeline it decodes, a receiver on its thread).
inline bool EndTasks(AvManager& av)
{
    av.ClearAll(true, TimingBounds::CONDITION_WAIT_MS);
    return !av.HasTasksLeftRunning();
}

// What the viewer does with the engine's frame signals: keeps the current,
// previous and next frames of its output and, at every playback time and
// every delivery, hands over the kept frame that covers the time. Each
// hand-over is checked against the picture that time must show.
class ViewerProbe : public QObject
{
public:
    ViewerProbe(AvManager* av, Timeline const* timeline, int outputId = 0)
        : mTimeline(timeline)
        , mOutputId(outputId)
    {
        connect(av, &AvManager::VideoFrameChanged, this,
                [this](int id, FramePtr current, FramePtr previous, FramePtr next) {
                    if (id != mOutputId)
                    {
                        return;
                    }
                    mKept = {current, previous, next};
                    ++deliveries;
                    Hand();
                });
        connect(av, &AvManager::PlaybackTimeChanged, this, [this](long long time) {
            mTime = time;
            Hand();
        });
    }

    // The frame last handed over covers time and shows what it must.
    bool Shows(long long time) const
    {
        return shown && shownTime == time && shown->adjustedStartTime <= time && time <= shown->adjustedEndTime;
    }

    void Reset()
    {
        mismatches.clear();
        handed = 0;
        distinct = 0;
    }

    FramePtr shown;
    long long shownTime = -1;
    int handed = 0;
    int distinct = 0;
    int deliveries = 0;
    QStringList mismatches;

private:
    void Hand()
    {
        for (FramePtr const& frame : std::as_const(mKept))
        {
            if (frame && frame->adjustedStartTime <= mTime && mTime <= frame->adjustedEndTime)
            {
                Check(frame);
                return;
            }
        }
    }

    void Check(FramePtr const& frame)
    {
        if (frame != shown)
        {
            ++distinct;
        }
        shown = frame;
        shownTime = mTime;
        ++handed;
        int const expected = ExpectedNumber(mTimeline, mTime);
        int const got = frame->emptyFrame ? -1 : ReadNumber(*frame);
        bool const stamped = frame->emptyFrame || frame->startFrame == mTimeline->FrameAtTime(mTime);
        bool const numbered = got != -2; // other media are judged by their stamps alone
        if (((numbered && got != expected) || !stamped) && mismatches.size() < 10)
        {
            mismatches << QStringLiteral("time %1 (frame %2): expected %3, shown %4 stamped %5")
                              .arg(mTime)
                              .arg(mTimeline->FrameAtTime(mTime))
                              .arg(expected)
                              .arg(got)
                              .arg(frame->startFrame);
        }
    }

    Timeline const* mTimeline;
    int mOutputId;
    long long mTime = 0;
    QList<FramePtr> mKept;
};

} // namespace EngineTestRig
