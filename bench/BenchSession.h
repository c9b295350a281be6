#pragma once

#include "BenchViewer.h"

#include "media/AvManager.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class Timeline;

// The engine as the player drives it: source timelines parsed by the engine,
// opened in output 0 and moved by the same calls the transport and the time
// bars make, with a viewer stand-in receiving the frames.
class BenchSession : public QObject
{
    Q_OBJECT

public:
    explicit BenchSession(QObject* parent = nullptr);

    // How every session made from now on has its sources' video timed (see
    // AvManager::SetVideoTimesFromPackets).
    static inline bool videoTimesFromPackets = true;
    ~BenchSession() override;

    // A media file, or an image sequence written as "name.####.ext FIRST-LAST".
    // Null, with the reason, when it cannot be parsed or has no video.
    Timeline* AddSource(QString const& path, QString* error);

    AvManager& Av();
    BenchViewer& Viewer();

    // Opens the timeline in output 0 with its playback time at time; its
    // sound is decoded and played only when asked for.
    void Show(Timeline* timeline, long long time, bool withSound = false);
    // Ends decoding in output 0 and lets the engine release its frames.
    void Close();
    // Paused seek; true once the viewer shows the frame covering time.
    bool Seek(long long time, int timeoutMs);
    // Steps by frames from the playback frame (limited to the timeline), as
    // the time bar's single and multiple frame steps do.
    bool Step(int frames, int timeoutMs);
    // Starts playing with the loop off.
    void Play(bool forward, float speed);
    // Waits for the clock to stop at a range end; false when it does not
    // within the time (playing is then paused).
    bool WaitStopped(int timeoutMs);
    // Play, then WaitStopped.
    bool PlayToEnd(bool forward, float speed, int timeoutMs);
    // True once the viewer shows the frame covering the playback time.
    bool WaitShown(int timeoutMs);
    // Turns the event loop until done() holds or the time runs out.
    static bool WaitFor(std::function<bool()> const& done, int timeoutMs);

private:
    AvManager mAv;
    BenchViewer mViewer;
    QList<Timeline*> mTimelines;
};
