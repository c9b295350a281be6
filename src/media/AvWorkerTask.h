#pragma once

#include "media/AvWorkerTaskType.h"

class Timeline;
struct ExportProperties;

// One engine task. Made by the engine front, which owns it from then on; the
// worker only reads it.
struct AvWorkerTask
{
    AvWorkerTaskType type;
    // What the task parses, decodes or exports; null for the audio output.
    // An export task owns its timeline (a private copy).
    Timeline* timeline = nullptr;
    ExportProperties* exportProperties = nullptr; // export tasks only; not owned
};
