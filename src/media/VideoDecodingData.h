#pragma once

#include "media/VideoFramePixelFormat.h"

#include <QList>

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

class DecodeCommandInbox;
struct VideoFrame;
struct VideoStreamInfo;

// What a VideoDecoder hands its decode worker with each packet, and what the
// worker hands back. Owned by the worker.
struct VideoDecodingData
{
    // In: the stream and how to convert its pictures.
    VideoStreamInfo* streamInfo = nullptr;
    AVCodecContext* codecContext = nullptr;
    AVRational timeBase {0, 1};
    int imageAlignment = 1;
    AVPixelFormat outputPixelFormat = AV_PIX_FMT_RGB24;
    VideoFramePixelFormat framePixelFormat = VideoFramePixelFormat::RGB24;
    // The stream's isLinear: the software viewer's pictures take the curve.
    bool isLinearColorSpace = false;
    // Threads converting one picture (slices of it).
    int conversionThreads = 1;
    int packetNumber = 0;
    // Pictures more than keptFrames frames before this time (µs) are decoded
    // but not converted; -1 converts everything.
    long long seekTarget = -1;
    int keptFrames = 24;
    // After a seek into the middle of a stream the decoder may hand out
    // pictures it could not reconstruct (leading pictures of an open GOP);
    // while set, such pictures are dropped until the first sound one.
    bool dropCorruptFrames = false;
    // The decode loop's commands: while one waits that drops everything
    // decoded (a stop, a new track), pictures are not converted. May be null.
    DecodeCommandInbox const* commands = nullptr;
    // Non-reference pictures whose packets are timed in [skipFrom, skipBefore)
    // (µs) are not decoded at all: no later picture depends on them, and they
    // lie too far before the seek target to be kept. skipBefore -1 decodes
    // every picture.
    long long skipFrom = 0;
    long long skipBefore = -1;
    // The empty packet drains the pictures of a backward window, not the
    // end of the stream: no end marker follows them.
    bool windowDrain = false;

    // In and out: time of the last picture decoded (µs).
    long long lastFrameTime = 0;
    // In and out: a picture with a timestamp of its own came since the last
    // seek into the middle of the stream, so a picture without one is timed
    // one frame step after the one before it. Until then such a picture
    // cannot be placed: it is dropped and untimedPicture set.
    bool timeAnchored = true;
    // In and out: pictures decoded since the start of the stream. With
    // timesFromCount set a picture's time is its number times the frame step,
    // not its timestamp (raw streams, whose timestamps the demuxer guesses).
    long long pictureCount = 0;
    bool timesFromCount = false;
    // In and out: packets are passed over until a key packet comes (after a
    // seek, for a codec that would decode the pictures before it from
    // missing references); cleared by the worker at the first key packet.
    bool awaitKey = false;

    // Out: the converted pictures of the packet in presentation order; a null
    // entry marks the end of the stream.
    QList<std::shared_ptr<VideoFrame>> frames;
    // Out: bytes of the last picture the decoder gave (its own buffers, in
    // its own format: a 10-bit picture takes twice the bytes of the 8-bit
    // frame it becomes); 0 until one came.
    long long decoderPictureBytes = 0;
    // Out: whether a sound picture came out of the packet (converted or not),
    // and the time of the first one.
    bool receivedFrame = false;
    long long firstFrameTime = 0;
    // Out: pictures were skipped where they may matter (the picture that
    // covers the start of the kept range came from among them, or a picture
    // had no timestamp of its own): what came out of the packet is not to be
    // used; the decoder seeks again and decodes every picture.
    bool skipUnsafe = false;
    // Out: a picture without a time came before any with one (see
    // timeAnchored): the decoder seeks further back.
    bool untimedPicture = false;
};
