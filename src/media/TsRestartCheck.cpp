#include "media/TsRestartCheck.h"

#include "media/TsTimestampScan.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include <unistd.h>

struct TsRestartCheck::State
{
    State(int fileDescriptor, std::vector<int> streamPids)
        : descriptor(fileDescriptor)
        , pids(std::move(streamPids))
    {
    }
    ~State()
    {
        if (descriptor >= 0)
        {
            ::close(descriptor);
        }
    }

    // Set at construction, read by the reading thread only after.
    int const descriptor;
    std::vector<int> const pids;
    // Set by the owner's thread, read between two reads of the file.
    std::atomic<bool> stop {false};
    // Guards receiver: the owner's thread clears it as the check goes; the
    // reading thread posts to the receiver under it.
    std::mutex mutex;
    QObject* receiver = nullptr;
    int id = 0;

    // Reads every packet; true when a stream steps back (or the read cannot
    // vouch for it), which is then remembered for the file.
    bool Read()
    {
        std::vector<TsTimestampScan::Verdict> const verdicts =
            TsTimestampScan::Scan(descriptor, pids, [this] { return stop.load(); }, 1);
        if (stop.load())
        {
            return false;
        }
        bool const goesBack = std::any_of(verdicts.cbegin(), verdicts.cend(), [](TsTimestampScan::Verdict verdict) {
            return verdict != TsTimestampScan::Verdict::Steady;
        });
        if (goesBack)
        {
            TsTimestampScan::RememberSpotsMissed(descriptor);
        }
        return goesBack;
    }
};

TsRestartCheck::TsRestartCheck(int descriptor, std::vector<int> pids)
    : mState(std::make_shared<State>(descriptor, std::move(pids)))
{
}

TsRestartCheck::~TsRestartCheck()
{
    mState->stop = true;
    std::lock_guard<std::mutex> const lock(mState->mutex);
    mState->receiver = nullptr;
}

void TsRestartCheck::Start(QObject* receiver, int id)
{
    if (mStarted)
    {
        return;
    }
    mStarted = true;
    {
        std::lock_guard<std::mutex> const lock(mState->mutex);
        mState->receiver = receiver;
        mState->id = id;
    }
    std::thread([state = mState] {
        if (!state->Read())
        {
            return;
        }
        std::lock_guard<std::mutex> const lock(state->mutex);
        if (state->receiver)
        {
            QMetaObject::invokeMethod(state->receiver, "OnTimestampRestartFound", Qt::QueuedConnection,
                                      Q_ARG(int, state->id));
        }
    }).detach();
}

bool TsRestartCheck::Run()
{
    return mState->Read();
}
