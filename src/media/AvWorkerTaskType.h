#pragma once

// The job an engine worker runs on its thread.
enum class AvWorkerTaskType : int
{
    ParseSource = 1,
    DecodeAudio = 2,
    DecodeVideo = 3,
    ExportAudio = 4,
    ExportVideo = 5,
    AudioOutput = 6
};
