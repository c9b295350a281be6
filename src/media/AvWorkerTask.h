#pragma once

#include "media/AudioOutputLevels.h"
#include "media/AudioOutputTimeline.h"
#include "media/AvWorkerTaskType.h"
#include "media/DecodeCommandInbox.h"
#include "media/DecodeSettings.h"
#include "media/TsRestartCheck.h"

#include <memory>

class Timeline;
struct ExportProperties;

// One engine task. Made by the engine front, which owns it from then on; the
// worker only reads it, but for the hand-back below.
struct AvWorkerTask
{
    AvWorkerTaskType type;
    // What the task parses, decodes or exports; null for the audio output.
    // An export task owns its timeline (a private copy).
    Timeline* timeline = nullptr;
    ExportProperties* exportProperties = nullptr; // export tasks only; not owned
    // Wakes the task's loop when the front queued a command for it; shared by
    // the front (posts) and the worker's thread (waits).
    std::shared_ptr<DecodeCommandInbox> inbox = std::make_shared<DecodeCommandInbox>();
    // The audio output only: where the front hands over the timeline to play.
    std::shared_ptr<AudioOutputTimeline> audioTimeline;
    // The audio output only: the levels it starts at; later ones come
    // through its commands.
    AudioOutputLevels audioLevels;
    // What the task reads of the settings, copied by the front as it made
    // the task; the worker hands copies of it to what it makes.
    DecodeSettings settings;
    // A parse only: the whole read its spot scan still owes, set by the
    // worker before it reports the task completed and taken by the front
    // once that report arrives.
    std::unique_ptr<TsRestartCheck> restartCheck;
    // A parse only: its timing route (AvParser::SetVideoTimesFromPackets),
    // set by the front before the task starts.
    bool videoTimesFromPackets = true;
};
