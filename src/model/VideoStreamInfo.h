#pragma once

#include <QMap>
#include <QString>

#include <limits>

// Properties of one video stream of a source file, filled by parsing.
struct VideoStreamInfo
{
    bool parsed = false;
    int streamIndex = -1;        // index of the stream in the container
    QString codecName;
    long long endTime = -1;      // µs, end of the stream, never beyond the source's duration
    long long foundEndTime = -1; // µs, end found by decoding; -1 none
    int width = 0;
    int height = 0;
    int rotation = 0;            // degrees, from the display matrix
    QString pixelFormatName;
    bool isYuv = false;
    bool isBt709 = false;
    // RGB holding linear light (tagged so, or of a linear format such as EXR):
    // shown and exported through a 1/2.2 curve.
    bool isLinear = false;
    int componentCount = 0;
    int bitsPerPixel = 0;
    float sampleAspectRatio = 0.0f;
    QString colorPrimaries;
    QString colorTransfer;
    QString colorSpace;
    QString colorRange;
    // µs, the stream time of the first frame, taken off every frame's time;
    // START_TIME_UNKNOWN until the timing pass found it. Negative where the
    // stream starts before its clock's zero (an MPEG-TS recording from just
    // before its 33-bit clock wrapped).
    static constexpr long long START_TIME_UNKNOWN = std::numeric_limits<long long>::min();
    long long startTimeOffset = START_TIME_UNKNOWN;
    bool StartTimeKnown() const { return startTimeOffset != START_TIME_UNKNOWN; }
    // The offset taken off the stream's times: 0 while unknown.
    long long StartOffset() const { return StartTimeKnown() ? startTimeOffset : 0; }
    // The timestamps jump back midway (recordings joined byte for byte): a
    // time names no single picture, so the stream is decoded from its start
    // and its pictures are timed by their number.
    bool timestampsRestart = false;
    // No packet of the stream carries a timestamp: a time names no picture
    // either, and the stream is decoded and timed as a restarting one is.
    bool timestampsMissing = false;
    double frameStep = 0.0;         // µs per frame, from the exact rate; 0 until parsed
    double frameRate = 0.0;         // frames per second, rounded to three decimals
    double timestampStep = 0.0;     // µs per tick of the stream's timestamps; 0 unknown
    int frameCount = 0;
    int codecDelay = 0;
    int alignedWidth = 0;
    float displayAspectRatio = 0.0f;
    QMap<QString, QString> metadata;

    QString ToString() const { return QString(); }
};
