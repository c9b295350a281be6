#include "media/AvWorkerProperties.h"

#include "media/AvWorker.h"
#include "media/AvWorkerTask.h"
#include "model/Timeline.h"

#include <QThread>

AvWorkerProperties::AvWorkerProperties(QThread* workerThread, AvWorker* avWorker)
    : id(avWorker->Id())
    , thread(workerThread)
    , worker(avWorker)
{
}

AvWorkerProperties::~AvWorkerProperties()
{
    thread->wait();
    thread->deleteLater();
    if (task && (task->type == AvWorkerTaskType::ExportAudio || task->type == AvWorkerTaskType::ExportVideo))
    {
        delete task->timeline; // the export's private copy
    }
    delete task;
}
