#pragma once

#include "media/AudioOutputFormat.h"

#include <QByteArray>
#include <QObject>

#include <memory>
#include <vector>

namespace RubberBand
{
class RubberBandStretcher;
}

// Changes the tempo of interleaved 32-bit float audio without changing its
// pitch, in real time, for playback speeds other than 1. Input and output are
// byte arrays in the output format it was made with. After Reset() the output starts exactly at the
// first input sample: the stretcher's warm-up is fed as silence and its delay
// is dropped from the output.
class AudioStretcher : public QObject
{
    Q_OBJECT

public:
    // format: its task's copy.
    explicit AudioStretcher(AudioOutputFormat const& format, QObject* parent = nullptr);
    // In the format as the settings say now: main thread only.
    explicit AudioStretcher(QObject* parent = nullptr);
    ~AudioStretcher() override;

    void Reset();
    void Process();
    // Appends whole sample frames; a trailing partial frame is ignored.
    void FillInputBuffer(QByteArray const& bytes);
    // Appends the stretched audio collected so far and forgets it.
    void FillOutputBuffer(QByteArray& bytes);

    void SetPlaybackMultiplier(float multiplier);
    float PlaybackMultiplier() const;
    // Input sample frames the stretcher needs before it can give more output.
    int SamplesRequired() const;

private:
    void Retrieve();

    std::unique_ptr<RubberBand::RubberBandStretcher> mStretcher;
    long long mStartPad = 0;
    long long mStartDelay = 0;
    float mMultiplier = 1.0f;
    std::vector<std::vector<float>> mInput;
    std::vector<float> mOutput;
    std::vector<float const*> mInputPointers;
    std::vector<std::vector<float>> mOutputBuffers;
    std::vector<float*> mOutputPointers;
};
