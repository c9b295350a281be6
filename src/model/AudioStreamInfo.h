#pragma once

#include <QMap>
#include <QString>

// Properties of one audio stream of a source file, filled by parsing.
struct AudioStreamInfo
{
    bool parsed = false;
    int streamIndex = -1;      // index of the stream in the container
    QString codecName;
    long long startTime = 0;   // µs, first decoded audio frame
    long long endTime = -1;    // µs, end of the last decoded audio frame; -1 unknown
    bool decoded = false;      // a sample decoded in the timing pass
    int channelCount = 0;
    quint64 channelLayout = 0; // bit mask
    bool planar = false;
    int bytesPerSample = 0;
    int sampleRate = 0;
    int sampleFormat = 0;      // the decoder's AVSampleFormat
    int initialPadding = 0;
    int extradataSize = 0;
    long long startTimeOffset = 0; // µs, added to this stream's frame times
    QMap<QString, QString> metadata;

    QString ToString() const { return QString(); }
};
