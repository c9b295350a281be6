#pragma once

#include "media/DecodeSettings.h"
#include "media/MediaInput.h"

#include <QObject>

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

class DecodeCommandInbox;
class Source;

// Opens one file of a Source with libavformat and an audio or a video decoder
// on one of its streams. The parser and the audio and video decoders derive
// from it. One object is used by one thread only and may be reopened at will:
// every OpenSource first closes what was open.
class AvDecoderBase : public QObject
{
public:
    // How far before the frame it must reach a backward decode seeks (µs).
    static constexpr long long DECODE_BACKWARD_SEEK_OFFSET = 100000;

    // settings: the copy of the settings the owning task was started with.
    explicit AvDecoderBase(DecodeSettings const& settings, QObject* parent = nullptr);
    ~AvDecoderBase() override;

    // Opens the file and the stream of the given record. True on success, and
    // also for a null source (then nothing is open).
    virtual bool OpenSource(Source* source, int fileIndex, int infoIndex);
    virtual bool OpenStreamByInfoIndex(int fileIndex, int infoIndex) = 0;
    virtual void CloseAudioStream();
    virtual void CloseVideoStream();
    virtual bool InitializeHwVideoDecoder();

    void CloseSource();
    // Opens one file of the source. Leaves the source's file records alone:
    // decode threads share the source with the main thread and each other.
    bool OpenInput(int fileIndex);
    void CloseInput();
    // Open a decoder on a container stream; a negative index asks for the best
    // stream of that kind. Return the container stream index opened, or -1.
    int OpenAudioStream(int streamIndex);
    int OpenVideoStream(int streamIndex);

    int LastErrorCode() const;
    // Why the last OpenInput failed, in the file records' codes (1 missing,
    // 3 not opened); 0 when it opened.
    int OpenErrorCode() const;

    // Where the owner's commands wait: a long decoding step (a backward
    // window, pictures under conversion) ends early while one does.
    void SetCommandInbox(std::shared_ptr<DecodeCommandInbox> inbox);

    // What every video decoder context gets before it is opened: the picture
    // size limit, its threads, and pictures from the shared frame-buffer pool
    // (not for a hardware decoder).
    static void PrepareVideoCodecContext(AVCodecContext* context, AVCodec const* codec, bool imageSequence,
                                         bool hardware, DecodeSettings const& settings);

protected:
    // This object's own copy, fixed at construction.
    DecodeSettings const mSettings;
    // A command of the owner waits (never, without an inbox).
    bool CommandPending() const;

    std::shared_ptr<DecodeCommandInbox> mCommandInbox;
    Source* mSource = nullptr;
    AVFormatContext* mFormatContext = nullptr;
    AVCodecContext* mAudioCodecContext = nullptr;
    AVCodec const* mAudioCodec = nullptr;
    AVCodecContext* mVideoCodecContext = nullptr;
    AVCodec const* mVideoCodec = nullptr;
    bool mHwDecoderActive = false;
    int mLastErrorCode = 0;

    // Opens the files; its interrupt ends reads once the owner's inbox holds
    // a stop, or an open runs past its deadline.
    MediaInput mInput;

private:
    int mOpenErrorCode = 0;

    // The shared body of OpenAudioStream and OpenVideoStream.
    int OpenStream(AVMediaType type, int streamIndex);
};
