#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>

class Source;
class Timeline;
class TsRestartCheck;
struct AvWorkerRecords;

// The engine front's parses: those waiting their turn, the timing route they
// take, and the whole reads behind finished ones (TsRestartCheck). At most
// QThread::idealThreadCount() parses run at once; the others wait in request
// order. A parse rewrites its source's file and stream records, so one whose
// source a running task decodes or exports waits until that task has ended.
// Owned by the AvManager; main thread only.
class SourceParses : public QObject
{
    Q_OBJECT

public:
    // workers: the front's task records, read for the parses running and the
    // sources in use (and an abandoned parse moved to the detached ones).
    // startParse starts a parse task of the timeline.
    SourceParses(AvWorkerRecords& workers, std::function<void(Timeline*)> startParse, QObject* parent = nullptr);
    ~SourceParses() override;

    // Queues a parse of the source timeline; a parse afresh owes a whole
    // read of its own, so the source's check in progress goes.
    void Request(Timeline* timeline);
    // Gives up on the parse of the timeline (see AvManager::AbandonParse).
    void Abandon(Timeline* timeline);
    // Starts waiting parses up to the thread count.
    void StartPending();
    // Forgets the parses still waiting.
    void ClearPending() { mPending.clear(); }
    // The timing route copied into each parse task as it starts (see
    // AvParser::SetVideoTimesFromPackets); true unless set.
    bool VideoTimesFromPackets() const { return mVideoTimesFromPackets; }
    void SetVideoTimesFromPackets(bool fromPackets) { mVideoTimesFromPackets = fromPackets; }

    // Starts the whole read a finished parse of the source still owes.
    void StartRestartCheck(Source* source, std::unique_ptr<TsRestartCheck> check);
    // While held (a wait for workers is under way: whoever waits may hold
    // timelines of the sources that are read again), restarts found are told
    // of only once it is let go.
    void HoldRestartsFound(bool held);

Q_SIGNALS:
    // The whole read behind a parse's spot scan found a stream of the source
    // stepping back: the source must be parsed again.
    void RestartFound(Source* source);

private Q_SLOTS:
    // From a TsRestartCheck's thread, with the check's id.
    void OnTimestampRestartFound(int id);
    void EmitRestartsFound();

private:
    // Ends the checks of the source, and those whose source is gone.
    void DropRestartChecks(Source const* source);

    AvWorkerRecords& mWorkers;
    std::function<void(Timeline*)> mStartParse;
    QList<QPointer<Timeline>> mPending;
    bool mVideoTimesFromPackets = true;
    // The whole reads behind parses, by id, with the source each is for.
    struct RestartCheckRecord
    {
        QPointer<Source> source;
        std::unique_ptr<TsRestartCheck> check;
    };
    std::map<int, RestartCheckRecord> mRestartChecks;
    int mNextRestartCheckId = 0;
    // Sources whose restart was found and not yet told of.
    QList<QPointer<Source>> mRestartsFound;
    bool mRestartsHeld = false;
};
