#include "media/ExportWorker.h"

#include "media/DecodeManager.h"
#include "model/Timeline.h"

#include <QThread>

ExportWorker::ExportWorker(Timeline* timeline, DecodeSettings const& settings, QObject* parent)
    : QObject(parent)
    , mDecodeManager(new DecodeManager(settings, this))
    , mTimeline(timeline)
{
}

ExportWorker::~ExportWorker()
{
    mDecodeManager->Shutdown();
}

DecodeManager* ExportWorker::DecodeManagerPtr() const
{
    return mDecodeManager;
}

void ExportWorker::EndDecoding()
{
    mDecodeManager->Post(DecodeCommand::Stop);
}

void ExportWorker::StartVideoDecoding()
{
    mDecodeManager->StartDecoding(mTimeline, DecodeType::Video, true);
    // The decoders and their threads end here, on the thread that made them.
    mDecodeManager->Shutdown();
    mTimeline->ClearVideoCache(true);
    thread()->exit(0);
}
