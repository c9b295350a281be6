#pragma once

#include <QElapsedTimer>
#include <QObject>

class AvManager;
class Timeline;

// Measures the frame rate the viewer shows while the engine plays: counts
// the pictures of the primary timeline shown (or painted) over windows of a
// second and reports the rate, smoothed and capped at the timeline's own
// rate. A stop or a seek starts it again. Main thread only.
class ViewerFpsMeter : public QObject
{
    Q_OBJECT

public:
    ViewerFpsMeter(AvManager* avManager, QObject* parent = nullptr);

    // A picture of the primary timeline (null for none) was shown.
    void IncrementVideoFrameFps(Timeline* primary);
    void ResetFps();

Q_SIGNALS:
    void FpsChanged(float fps, bool reset);

private:
    AvManager* avManager; // not owned
    QElapsedTimer fpsTimer;
};
