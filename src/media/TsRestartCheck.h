#pragma once

#include <QObject>

#include <memory>
#include <vector>

// The whole read behind an MPEG-TS file's spot scan. A long file's parse
// reads only spots of it and clears its video streams when none of them saw
// a timestamp go back; the source shows its first picture at once. This
// check then reads every packet of the file, on a thread of its own, from
// the descriptor the parse had open, and tells when some cleared stream
// steps back after all: the source must be parsed again, and that parse reads
// the file whole (TsTimestampScan::RememberSpotsMissed).
class TsRestartCheck
{
public:
    // Takes the descriptor, which the check closes.
    TsRestartCheck(int descriptor, std::vector<int> pids);
    // Asks a read under way to stop and leaves its thread to end on its own
    // (within one read), never waiting for it: the file may sit on a slow
    // disk or share. Nothing is reported after this.
    ~TsRestartCheck();

    TsRestartCheck(TsRestartCheck const&) = delete;
    TsRestartCheck& operator=(TsRestartCheck const&) = delete;

    // Starts the read. When a stream steps back, the receiver's slot
    // OnTimestampRestartFound(int) runs on the receiver's thread with id,
    // unless the check was destroyed before. Once only.
    void Start(QObject* receiver, int id);

    // Reads the file on the calling thread; true when some stream steps
    // back. For a caller that has a thread to spend (and for tests).
    bool Run();

private:
    // Shared with the reading thread, which may outlive the check.
    struct State;
    std::shared_ptr<State> mState;
    bool mStarted = false;
};
