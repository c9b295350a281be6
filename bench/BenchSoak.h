#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <random>

class BenchSession;
class Timeline;

// Random play, pause, seek, step, speed, direction, loop and file changes for
// a given time. After each settled step the picture shown must be the frame
// covering the playback time; where ffmpeg gives each frame's exact picture
// (a constant rate and no pixel conversion) the picture must also match it.
class BenchSoak
{
public:
    BenchSoak(BenchSession& session, QList<Timeline*> const& timelines, unsigned int seed);

    // Prints progress every 30 s and the totals at the end; the failures.
    int Run(int seconds);

private:
    enum class Action
    {
        Switch,
        Seek,
        Step,
        Play
    };

    Action NextAction();
    bool Perform(Action action);
    // Plays, perhaps changes direction, speed or loop, and pauses; says what.
    QString Play();
    bool Check(QString const& what);
    QStringList const& Reference(Timeline* timeline);
    int RandomInt(int low, int high);
    void Fail(QString const& message);

    BenchSession& mSession;
    QList<Timeline*> mTimelines;
    Timeline* mCurrent = nullptr;
    std::mt19937 mRandom;
    QHash<Timeline*, QStringList> mReferences;
    QStringList mHistory; // the last steps, for a failure's report
    int mSteps = 0;
    int mFailures = 0;
};
