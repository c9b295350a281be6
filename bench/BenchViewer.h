#pragma once

#include <QList>
#include <QObject>

#include <memory>

class AvManager;
struct VideoFrame;

// Stands in for the viewer of output 0: keeps the current, previous and next
// frames the engine delivers and, at every playback time and every delivery,
// hands over the kept frame whose adjusted start <= time <= adjusted end.
class BenchViewer : public QObject
{
    Q_OBJECT

public:
    explicit BenchViewer(AvManager* av, QObject* parent = nullptr);

    // The frame last handed over is one of the primary timeline's, covers
    // time and was handed at that time.
    bool Shows(long long time) const;
    std::shared_ptr<VideoFrame> const& Shown() const;
    int Deliveries() const;

Q_SIGNALS:
    // A different picture, or the same one at another timeline frame.
    void FrameHanded(std::shared_ptr<VideoFrame> frame, long long time, int timelineFrame);

private:
    void OnVideoFrameChanged(int outputId, std::shared_ptr<VideoFrame> current, std::shared_ptr<VideoFrame> previous,
                             std::shared_ptr<VideoFrame> next);
    void Hand();

    AvManager* mAv;
    QList<std::shared_ptr<VideoFrame>> mKept;
    long long mTime = 0;
    std::shared_ptr<VideoFrame> mShown;
    long long mShownTime = -1;
    int mShownTimelineFrame = -1;
    int mDeliveries = 0;
};
