#pragma once

#include "app/Settings.h"
#include "media/AudioOutputFormat.h"

#include <QString>

// What a parse, decode or export task reads of the settings while it runs.
// The settings are the main thread's (Preferences writes them at any time):
// the engine front takes this copy on the main thread as it makes a task
// (FromSettings) and the task hands it down by value to every object it
// makes. Each of them keeps its own copy; none is shared between threads, so
// a setting changed later reaches only tasks started after it.
struct DecodeSettings
{
    // A movie codec's thread count (0: FFmpeg's choice, see DecoderThreads).
    int videoDecoderThreadCount = 0;
    // An image's codec threads, and the images loaded at the same time.
    int imageSequenceDecoderThreadCount = 1;
    int imageSequenceLoaderThreadCount = 4;
    // The frames before a seek's target a movie decoder keeps.
    int leadingFramesKeptOnSeek = 24;
    // YUV pictures are converted to RGB even where the viewer could take them.
    bool forceRgbOutput = false;
    // The viewer draws with OpenGL (this run's mode, not the stored wish).
    bool hardwareRendering = true;
    // Audio seeks by the timestamps of the file's video stream.
    bool seekAudioByVideoStream = true;
    AudioOutputFormat audioFormat;
    // The cache size in megabytes; bounds the largest picture a codec makes.
    int cacheSize = 512;
    // A parse decodes a little of each stream for what the headers lack.
    bool decodeExtraStreamInfoOnParse = true;
    // The rate of a stream that gives none (and of image sequences).
    double imageSequenceFrameRate = Settings::DEFAULT_IMAGE_SEQUENCE_FRAME_RATE;
    // The ffmpeg an export runs; empty: the one on the PATH.
    QString ffmpegExePath;

    // Main thread only.
    static DecodeSettings FromSettings()
    {
        DecodeSettings settings;
        settings.videoDecoderThreadCount = Settings::videoDecoderThreadCount;
        settings.imageSequenceDecoderThreadCount = Settings::imageSequenceDecoderThreadCount;
        settings.imageSequenceLoaderThreadCount = Settings::imageSequenceThreadCount;
        settings.leadingFramesKeptOnSeek = Settings::numLeadingVideoFramesKeptOnSeek;
        settings.forceRgbOutput = Settings::videoDecoderForceRgbOutput;
        settings.hardwareRendering = Settings::HardwareRenderingInUse();
        settings.seekAudioByVideoStream = Settings::seekAudioByVideoStream;
        settings.audioFormat = AudioOutputFormat::FromSettings();
        settings.cacheSize = Settings::cacheSize;
        settings.decodeExtraStreamInfoOnParse = Settings::decodeExtraStreamInfoOnParse;
        settings.imageSequenceFrameRate = Settings::imageSequenceFrameRate;
        settings.ffmpegExePath = Settings::ffmpegExePath;
        return settings;
    }
};
