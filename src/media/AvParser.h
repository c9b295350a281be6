#pragma once

#include "media/AvDecoderBase.h"

#include <QMap>
#include <QString>

class Source;

// Reads one file of a Source into its file and stream records: the streams,
// their properties and metadata, then the first and last frame times that
// only decoding reveals. A short-lived object, made per parse on the thread
// that parses.
class AvParser : public AvDecoderBase
{
public:
    explicit AvParser(QObject* parent = nullptr);
    ~AvParser() override;

    // The whole parse of one file, ending with the source's Parsed (first
    // time) or Updated signal. Leaves nothing open.
    void Parse(Source* source, int fileIndex);
    // The parse of one picture of an image sequence, through a private
    // one-file source: it starts at 0 and lasts one frame, so no timing pass
    // decodes it (the picture is decoded once, when it is wanted).
    void ParseSequenceImage(Source* source, int fileIndex);

    // A parser never opens a stream through the records.
    bool OpenStreamByInfoIndex(int fileIndex, int infoIndex) override;

    void ParseSource(int fileIndex);
    void ParseAudioProperties(int fileIndex, int streamIndex);
    void ParseVideoProperties(int fileIndex, int streamIndex);

    static void ParseMetadata(AVDictionary* dictionary, QMap<QString, QString>& metadata);
    // The display rotation in counter-clockwise degrees: 0, 90, 180 or 270.
    static int GetVideoRotation(AVStream* stream);

private:
    // Records a file's failure; the source shares it unless the file is one
    // image of a sequence that was parsed before (one bad image must not
    // black out the whole sequence).
    void SetFileError(int fileIndex, int errorCode);
    // After the timing pass: the source ends where its first video (else
    // audio) stream ends, and audio is timed on the video stream's clock.
    void ApplyStreamTiming(int fileIndex);
    bool HasDecodableStream(int fileIndex);

    bool mSequenceImage = false;
};
