#pragma once

#include "media/export/ExportStopFlag.h"
#include "media/export/FileIdentity.h"

#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <utility>

class ExportJournal;
class ExportTargetLock;
class Timeline;

// A value that the export threads and the user interface both read and
// write while an export runs. Copying a request copies the current value.
template <typename T>
struct ExportSharedValue : std::atomic<T>
{
    ExportSharedValue(T value = T())
        : std::atomic<T>(value)
    {
    }
    ExportSharedValue(ExportSharedValue const& other)
        : std::atomic<T>(other.load())
    {
    }
    ExportSharedValue& operator=(ExportSharedValue const& other)
    {
        this->store(other.load());
        return *this;
    }
    using std::atomic<T>::operator=;
};

// A file an export moved into place at the output location, as it was
// then: the clean-up removes it only while it is still that file.
struct ExportOutputFile
{
    QString path;
    FileIdentity identity;
};

// One of the user's files at the output location that a forced image
// sequence replaced: where it was, where it is kept, and what it was.
struct ExportReplacedFile
{
    QString path;
    QString keptPath;
    FileIdentity identity;
};

// One export request and its running state. The export tasks work on it
// through a pointer; the flags and progress values are polled by the user
// interface while the tasks set them.
struct ExportProperties
{
    Timeline* timeline = nullptr; // not owned
    QString outputFilePath;
    QString tempDirPath;
    QString exportName;
    int width = 960;
    int height = 540;
    float frameRate = 25.0f;
    int startFrame = -1;
    int h264Quality = 1;
    int h264Preset = 3;
    bool noAudio = false;
    bool noVideo = false;
    bool excludeAnnotations = false;
    QList<int> annotationBgColor;
    bool ignoreRange = false;
    bool viewerCapture = false;
    int framesMode = 0; // 0 all frames, 1 only bookmarks, 2 stepped
    bool videoFromSnapshots = false;
    bool imageSequence = false;
    QString imageDirPath;
    QString imageBaseName;
    int imagePadding = 4;
    QString imageExtension;
    int imageNumberingType = 0;
    int imageNumberOffset = 0;
    // Numbered pictures already at the output may be replaced (the dialog's
    // Force overwrite); otherwise an image sequence that would write over
    // any of them is refused before it starts. A movie or sound file always
    // replaces its output, and only once it is complete.
    bool overwriteExisting = false;
    QString finalAudioPath;
    QString finalVideoPath;
    QList<QString> intermediateFiles;
    QString concatListPath;
    // Files this export moved into place at the output location (the final
    // file or the numbered pictures, each rendered in the temporary folder
    // first); removed by the clean-up of a failed or cancelled export, and
    // nothing else there is. Written by the export tasks, read once they
    // have ended.
    QList<ExportOutputFile> outputFiles;
    // Entries at the output location that a forced image sequence replaced:
    // each was set aside (its path, where it is kept) before its
    // replacement was moved in. The clean-up deletes them once the export
    // has succeeded, and puts them back after a failure or cancel. Written
    // by the video export task, read once the tasks have ended.
    QList<ExportReplacedFile> replacedFiles;
    // The lock on the output, taken by the preparation and released by the
    // clean-up (or when the last copy of the request goes): no other export
    // writes the same output meanwhile. Set and released on the caller's
    // thread while no export task runs; the tasks only read its path.
    std::shared_ptr<ExportTargetLock> outputLock;
    // The journal of what the export did at its output, begun by the
    // preparation (it names this process and the lock) and closed by the
    // clean-up. Set and reset on the caller's thread while no export task
    // runs; only the video export task writes to it.
    std::shared_ptr<ExportJournal> journal;
    ExportSharedValue<bool> audioExporting {false};
    ExportSharedValue<bool> videoExporting {false};
    // Either stops both export tasks; setting one wakes a task waiting for
    // a decoded picture.
    ExportStopFlag failed {false};
    ExportStopFlag cancelled {false};
    ExportSharedValue<float> audioProgress {0.0f};
    ExportSharedValue<float> videoProgress {0.0f};
    ExportSharedValue<float> stageProgress {0.0f};
    ExportSharedValue<float> finalProgress {0.0f};
};
