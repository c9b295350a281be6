#pragma once

#include "model/AudioStreamInfo.h"
#include "model/VideoStreamInfo.h"

#include <QList>
#include <QMap>
#include <QString>

// One concrete file of a Source with the streams that parsing found in it.
struct SourceFileInfo
{
    QString filePath;
    bool parsed = false;
    int errorCode = 0; // 1 missing at construction, 3 open failed, 4 no stream information
    QMap<QString, QString> metadata;
    QList<AudioStreamInfo> audioStreams;
    QList<VideoStreamInfo> videoStreams;
};
