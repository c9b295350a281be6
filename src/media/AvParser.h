#pragma once

#include "media/AvDecoderBase.h"
#include "media/TsRestartCheck.h"
#include "media/TsTimestampScan.h"

#include <QMap>
#include <QString>

#include <atomic>
#include <future>
#include <memory>
#include <vector>

class Source;
struct VideoStreamInfo;

// Reads one file of a Source into its file and stream records: the streams,
// their properties and metadata, then the first and last frame times that
// only decoding reveals. A short-lived object, made per parse on the thread
// that parses.
class AvParser : public AvDecoderBase
{
public:
    // A forward step of a video stream's timestamps (µs) past which the
    // stream is taken as spliced: no recording pauses that long between two
    // pictures.
    static constexpr long long TIMESTAMP_LEAP = 10LL * 1000000;
    // Packets of a video stream that all lack a timestamp, from its first
    // on, after which the stream is taken as one that carries none.
    static constexpr int UNTIMED_PACKETS = 64;

    // settings: the copy of the settings its task was started with.
    explicit AvParser(DecodeSettings const& settings, QObject* parent = nullptr);
    // With the settings as they are now: main thread only.
    explicit AvParser(QObject* parent = nullptr);
    ~AvParser() override;

    // The timing pass reads video picture times from packet times where they
    // tell what decoding would (false: it always decodes them). True unless
    // set; set before the parse.
    void SetVideoTimesFromPackets(bool fromPackets);

    // The whole parse of one file, ending with the source's Parsed (first
    // time) or Updated signal. Leaves nothing open.
    void Parse(Source* source, int fileIndex);
    // The parse of a whole source: file 0 of a movie; for an image sequence
    // its first file that holds a picture stream, the files before it keeping
    // their errors (missing, unreadable) as any file of the sequence does.
    void ParseMedia(Source* source);

    // The whole read still owed to the last parse's spot scan (see
    // TsRestartCheck), not started; null when none is.
    std::unique_ptr<TsRestartCheck> TakeRestartCheck();

    // A parser never opens a stream through the records.
    bool OpenStreamByInfoIndex(int fileIndex, int infoIndex) override;

    void ParseSource(int fileIndex);
    void ParseAudioProperties(int fileIndex, int streamIndex);
    void ParseVideoProperties(int fileIndex, int streamIndex);

    // Fills a video stream's record from its opened decoder (which must know
    // the picture's size and format: after the stream information was found,
    // or after a picture was decoded). False, with the reason logged, when the
    // picture's format is unknown; the record is then left unparsed.
    // settings: the caller's copy.
    static bool FillVideoStreamInfo(VideoStreamInfo& info, AVFormatContext* formatContext, int index,
                                    AVCodecContext const* context, AVCodec const* codec, bool imageSequence,
                                    QString const& fileName, QString const& mediaName,
                                    DecodeSettings const& settings);
    static void ParseMetadata(AVDictionary* dictionary, QMap<QString, QString>& metadata);
    // The display rotation in counter-clockwise degrees: 0, 90, 180 or 270.
    static int GetVideoRotation(AVStream* stream);

private:
    // One file's records, timing and check for a decodable stream.
    void ParseFile(int fileIndex);
    // Marks the source parsed and signals it; closes what is open.
    void FinishParse();
    // Records a file's failure; the source shares it unless the file is one
    // image of a sequence that was parsed before (one bad image must not
    // black out the whole sequence).
    void SetFileError(int fileIndex, int errorCode);
    // Starts the scan of an MPEG-TS file's video packet headers for
    // timestamps that go back, on a thread of its own, as soon as the input
    // is open: it reads spots spread over a long file (a short one whole),
    // while the stream information is found from its start.
    void StartTimestampScan(int fileIndex);
    // Stops a scan still running and forgets it.
    void DropTimestampScan();
    // Marks each video stream whose decoding timestamps jump back, in a
    // format whose timestamps may be discontinuous (MPEG-TS, MPEG-PS): what
    // the scan cleared is steady, every other stream's packets are read.
    void FindTimestampRestarts(int fileIndex);
    // Its steps: the streams the scan found steady are no longer wanted
    // (returns how many wanted streams remain; a whole read behind the parse
    // is set up for those the spots alone cleared); the video streams found
    // without timestamps or restarting are marked and logged; and when a
    // video stream has no timestamps, the audio streams without any are left
    // out.
    int TakeTimestampScanVerdicts(std::vector<bool>& wanted, int remaining);
    void MarkUntimedVideoStreams(int fileIndex, std::vector<bool> const& wanted, std::vector<bool> const& restarts,
                                 std::vector<bool> const& timed, std::vector<int> const& untimedPackets);
    void DropUntimedAudioStreams(int fileIndex);
    // After the timing pass: the source ends where its first video (else
    // audio) stream ends, and audio is timed on the video stream's clock.
    void ApplyStreamTiming(int fileIndex);
    // An audio stream that gave a sample or a video stream that gave a
    // picture (a parsed stream taken at its word when the timing pass is off
    // or for an image sequence).
    bool HasAudioOrDecodedPicture(int fileIndex);

    // The parse option of SetVideoTimesFromPackets; the parse thread's.
    bool mVideoTimesFromPackets = true;
    // The timestamp scan, between StartTimestampScan and
    // FindTimestampRestarts: the PIDs it reads, its verdicts to come, and a
    // stop the parse thread asks of it. The parse thread owns the first two;
    // the scan's threads only read the stop.
    std::vector<int> mScannedPids;
    std::future<std::vector<TsTimestampScan::Verdict>> mTimestampScan;
    std::atomic<bool> mTimestampScanStop {false};
    // Written by the scan's thread before its verdicts are ready, read by the
    // parse thread after: the verdicts came from spots alone.
    std::shared_ptr<bool> mTimestampScanSpotted;
    // The parse thread's: the whole read owed for the streams the spots
    // cleared.
    std::unique_ptr<TsRestartCheck> mRestartCheck;
};
