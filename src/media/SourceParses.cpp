#include "media/SourceParses.h"

#include "app/Logger.h"
#include "media/AvWorkerProperties.h"
#include "media/AvWorkerRecords.h"
#include "media/AvWorkerTask.h"
#include "media/TsRestartCheck.h"
#include "model/Source.h"
#include "model/Timeline.h"

#include <QThread>

#include <algorithm>
#include <utility>

SourceParses::SourceParses(AvWorkerRecords& workers, std::function<void(Timeline*)> startParse, QObject* parent)
    : QObject(parent)
    , mWorkers(workers)
    , mStartParse(std::move(startParse))
{
}

SourceParses::~SourceParses() = default;

void SourceParses::Request(Timeline* timeline)
{
    DropRestartChecks(timeline->SourcePtr());
    mPending.append(timeline);
    StartPending();
}

void SourceParses::Abandon(Timeline* timeline)
{
    if (!timeline)
    {
        return;
    }
    mPending.removeAll(QPointer<Timeline>(timeline));
    int index = -1;
    for (int i = 0; i < mWorkers.active.size() && index < 0; ++i)
    {
        AvWorkerTask const* task = mWorkers.active.at(i)->task;
        if (task->type == AvWorkerTaskType::ParseSource && task->timeline == timeline)
        {
            index = i;
        }
    }
    if (index < 0)
    {
        return; // never started, or already ended
    }
    AvWorkerProperties* record = mWorkers.active.takeAt(index);
    mWorkers.detached.append(record);
    Source const* source = timeline->SourcePtr();
    Logger::GetInstance()->Error(QStringLiteral("Source parse abandoned, its thread is left to end: %1")
                                     .arg(source ? source->MediaPath() : QString()));
    StartPending();
}

void SourceParses::StartPending()
{
    int const limit = std::max(QThread::idealThreadCount(), 1);
    int running = mWorkers.CountOf(AvWorkerTaskType::ParseSource);
    for (int i = 0; running < limit && i < mPending.size();)
    {
        QPointer<Timeline> const timeline = mPending.at(i);
        if (!timeline)
        {
            mPending.removeAt(i);
        }
        else if (mWorkers.SourceInUse(timeline->SourcePtr()))
        {
            ++i;
        }
        else
        {
            mPending.removeAt(i);
            mStartParse(timeline);
            ++running;
        }
    }
}

void SourceParses::StartRestartCheck(Source* source, std::unique_ptr<TsRestartCheck> check)
{
    if (!source || !check)
    {
        return;
    }
    int const id = mNextRestartCheckId++;
    check->Start(this, id);
    mRestartChecks[id] = RestartCheckRecord {source, std::move(check)};
    // A source that goes takes its check along.
    connect(source, &QObject::destroyed, this, [this, source] { DropRestartChecks(source); });
}

void SourceParses::DropRestartChecks(Source const* source)
{
    for (auto at = mRestartChecks.begin(); at != mRestartChecks.end();)
    {
        at = !at->second.source || at->second.source == source ? mRestartChecks.erase(at) : std::next(at);
    }
}

void SourceParses::OnTimestampRestartFound(int id)
{
    auto const at = mRestartChecks.find(id);
    if (at == mRestartChecks.end())
    {
        return;
    }
    mRestartsFound.append(at->second.source);
    mRestartChecks.erase(at);
    EmitRestartsFound();
}

void SourceParses::HoldRestartsFound(bool held)
{
    mRestartsHeld = held;
    if (!held && !mRestartsFound.isEmpty())
    {
        QMetaObject::invokeMethod(this, &SourceParses::EmitRestartsFound, Qt::QueuedConnection);
    }
}

void SourceParses::EmitRestartsFound()
{
    if (mRestartsHeld)
    {
        return;
    }
    QList<QPointer<Source>> const found = std::exchange(mRestartsFound, {});
    for (QPointer<Source> const& source : found)
    {
        if (source)
        {
            emit RestartFound(source);
        }
    }
}
