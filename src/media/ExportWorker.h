#pragma once

#include <QObject>

class DecodeManager;
class Timeline;
struct DecodeSettings;

// Runs the decode loop of a video export on a thread of its own, so that
// decoding goes on while the export thread hands the previous frame to the
// encoder. Lives on that thread; the export thread starts it with a queued
// call and ends it through EndDecoding.
class ExportWorker : public QObject
{
    Q_OBJECT

public:
    // settings: the export task's copy, copied again into its decode loop.
    ExportWorker(Timeline* timeline, DecodeSettings const& settings, QObject* parent = nullptr);
    ~ExportWorker() override;

    DecodeManager* DecodeManagerPtr() const;

public Q_SLOTS:
    // Decodes the timeline in export mode until the loop is stopped, then
    // ends the event loop of the worker's thread.
    void StartVideoDecoding();
    // Asks the decode loop to stop; called from the export thread (the
    // loop takes it from its inbox at its next pass).
    void EndDecoding();

private:
    DecodeManager* mDecodeManager = nullptr; // child; worker thread
    Timeline* mTimeline = nullptr;           // the export's private copy, not owned
};
