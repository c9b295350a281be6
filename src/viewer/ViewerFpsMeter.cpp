#include "viewer/ViewerFpsMeter.h"

#include "media/AvManager.h"
#include "model/Timeline.h"

#include <algorithm>

namespace
{

constexpr qint64 FPS_WINDOW_MS = 1000;

// The frame-rate counters are shared by every viewer widget (one exists).
struct FpsCounters
{
    long long frames = 0;
    double lastRaw = 0.0;
    QElapsedTimer window;
};

FpsCounters& Fps()
{
    static FpsCounters counters;
    return counters;
}

} // namespace

ViewerFpsMeter::ViewerFpsMeter(AvManager* avManager, QObject* parent)
    : QObject(parent)
    , avManager(avManager)
{
}

void ViewerFpsMeter::IncrementVideoFrameFps(Timeline* primary)
{
    FpsCounters& fps = Fps();
    if (!fpsTimer.isValid() || !primary)
    {
        if (avManager->IsPlaying())
        {
            fps.frames = 0;
            fps.lastRaw = 0.0;
            fps.window.restart();
            fpsTimer.restart();
        }
        return;
    }
    if (!avManager->IsPlaying())
    {
        fpsTimer.invalidate();
        Q_EMIT FpsChanged(0.0f, true);
        return;
    }
    ++fps.frames;
    if (fps.window.elapsed() <= FPS_WINDOW_MS)
    {
        return;
    }
    double const rate = primary->FrameRateAtFrame(primary->PlaybackFrame(), 0);
    double const ns = static_cast<double>(fpsTimer.nsecsElapsed());
    fpsTimer.restart();
    double const raw = 1e9 / (ns / static_cast<double>(fps.frames));
    double const smoothed = fps.lastRaw > 0.0 && fps.lastRaw > 0.95 * rate ? (fps.lastRaw + raw) / 2.0 : raw;
    Q_EMIT FpsChanged(static_cast<float>(std::min(rate, smoothed + 1.0)), false);
    fps.lastRaw = raw;
    fps.frames = 0;
    fps.window.restart();
}

void ViewerFpsMeter::ResetFps()
{
    fpsTimer.invalidate();
    Q_EMIT FpsChanged(0.0f, true);
}
