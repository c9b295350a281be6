#pragma once

#include "media/DecodeType.h"
#include "media/ExportLoggingMsgType.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class DecodeManager;
class Timeline;
struct ExportProperties;
struct VideoFrame;

// Runs the audio or the video side of an export on an export task's thread:
// decodes the request's range of a private timeline copy in export mode and
// takes the samples and frames in order, one second or one frame ahead of
// the decode window. No encoder is attached yet: the request ends marked
// failed. A set failed or cancelled flag stops it at its next step.
class ExportManager : public QObject
{
    Q_OBJECT

public:
    explicit ExportManager(QObject* parent = nullptr);
    ~ExportManager() override;

    void ExportAudio(Timeline* timeline, ExportProperties* properties);
    void ExportVideo(Timeline* timeline, ExportProperties* properties);

    void LogGeneralMsg(QString const& message, bool isError);

Q_SIGNALS:
    void ExportLogMsgReceived(QString const& message, ExportLoggingMsgType type, bool isError);

private Q_SLOTS:
    void WriteAudioData();
    void WriteVideoFrame(std::shared_ptr<VideoFrame> frame);

private:
    void Initialize(DecodeType type, Timeline* timeline, ExportProperties* properties);
    void RunDecoding();
    bool IsStopped() const;
    void EndWithoutEncoder();

    DecodeManager* mDecodeManager = nullptr;
    DecodeType mEncodingType = DecodeType::None;
    Timeline* mTimeline = nullptr;
    ExportProperties* mProperties = nullptr;
    long long mRangeDuration = 0;
    int mRangeStartFrame = 0;
    int mRangeEndFrame = 0;
    int mCurrentFrame = 0;
    QByteArray mAudioBuffer;
    long long mAudioChunkSize = 0;
    long long mAudioTotalBytes = 0;
    long long mAudioRemainingBytes = 0;
    long long mBytesSinceTimeAdvance = 0;
    bool mAudioPositionSet = false;
};
