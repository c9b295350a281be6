#include "EngineTestRig.h"
#include "support/TestMedia.h"
#include "support/DecodeManagerTestAccess.h"
#include "support/ThreadCall.h"
#include "support/VideoDecoderTestAccess.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvHelpers.h"
#include "media/DecodeBias.h"
#include "media/DecodeManager.h"
#include "model/Source.h"
#include "model/Track.h"

#include <QProcess>
#include <QThread>
#include <QtTest>

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace EngineTestRig;

namespace
{

// A decode loop on a thread of its own, started and stopped as a decode task
// does it. Frames it shows arrive on the test's thread.
class DecodeRun
{
public:
    DecodeRun(Timeline* timeline, DecodeType type)
        : mManager(new DecodeManager())
    {
        mManager->SetCommandInbox(inbox);
        timeline->UpdateDecodeTracks();
        mManager->moveToThread(&mThread);
        QObject::connect(mManager, &DecodeManager::VideoFrameChanged, &mReceiver,
                         [this](FramePtr current, FramePtr previous, FramePtr next) {
                             shown << QList<FramePtr> {current, previous, next};
                         });
        mCalls.moveToThread(&mThread);
        mThread.start();
        mCalls.Post([this, timeline, type] {
            mManager->StartDecoding(timeline, type, false);
            mFinished = true;
        });
    }

    ~DecodeRun()
    {
        Stop();
        mCalls.Run([this] { delete mManager; });
        mThread.quit();
        mThread.wait();
    }

    DecodeManager* Manager() const { return mManager; }

    void Stop()
    {
        if (!mFinished)
        {
            mManager->Post(DecodeCommand::Stop);
            QVERIFY(QTest::qWaitFor([this] { return mFinished.load(); }, 10000));
        }
    }

    int NullTriples() const
    {
        return static_cast<int>(std::count_if(shown.cbegin(), shown.cend(), [](QList<FramePtr> const& frames) {
            return !frames.at(0) && !frames.at(1) && !frames.at(2);
        }));
    }

    QList<QList<FramePtr>> shown;
    // The loop's commands; the test may stop its clock.
    std::shared_ptr<DecodeCommandInbox> const inbox = std::make_shared<DecodeCommandInbox>();

private:
    QThread mThread;
    ThreadCall mCalls;
    QObject mReceiver;
    DecodeManager* mManager;
    std::atomic<bool> mFinished {false};
};

// Error messages of the media libraries, counted instead of printed while
// an ErrorCount lives.
std::atomic<int> libraryErrors {0};

class ErrorCount
{
public:
    ErrorCount()
    {
        libraryErrors = 0;
        av_log_set_callback([](void*, int level, char const*, va_list) {
            if (level <= AV_LOG_ERROR)
            {
                ++libraryErrors;
            }
        });
    }
    ~ErrorCount() { av_log_set_callback(av_log_default_callback); }
    int Count() const { return libraryErrors.load(); }
};

std::vector<float> Samples(QByteArray const& bytes)
{
    std::vector<float> samples(static_cast<size_t>(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

long long SampleAt(long long time)
{
    return time * Settings::audioOutputSampleRate / 1000000;
}

} // namespace

class TestDecodeManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void AudioBlocksCoverEveryClipWithoutGapsOrOverlaps_data();
    void AudioBlocksCoverEveryClipWithoutGapsOrOverlaps();
    void CompressedSoundPlaysBackwardAsFfmpegDecodesIt_data();
    void CompressedSoundPlaysBackwardAsFfmpegDecodesIt();
    void GapIsOnePlaceholderAndTheTimelineEndIsCovered();
    void TimelineWithoutVideoShowsNothing();
    void PlayingPastTheEndClearsTheViewersOnce();
    void PausingBeforeTheCachedFramesDecodesThePlayhead();
    void CommandsArriveAsDataNotThroughTheEventLoop();
    void BackwardWindowInterruptedByCommandsStaysExact();
    void SeekWhilePlayingBackwardStaysExact();
    void FailingFileIsReportedOncePerChange();
    void FirstPictureThatDecodesIsDecodedOnce_data();
    void FirstPictureThatDecodesIsDecodedOnce();
    void PlayheadBeforeEveryPictureThatDecodesIsGivenUpOnce();
    void LoopStartIsFilledExactlyUpToTheCache();
    void SeekEndsOnThePictureThatStartsItsFrame_data();
    void SeekEndsOnThePictureThatStartsItsFrame();
};

void TestDecodeManager::AudioBlocksCoverEveryClipWithoutGapsOrOverlaps_data()
{
    QTest::addColumn<bool>("forward");
    QTest::addColumn<long long>("delay");
    QTest::newRow("forward") << true << 0LL;
    QTest::newRow("backward") << false << 0LL;
    QTest::newRow("forward with a delay") << true << 100000LL;
    QTest::newRow("backward with a delay") << false << 100000LL;
}

void TestDecodeManager::AudioBlocksCoverEveryClipWithoutGapsOrOverlaps()
{
    QFETCH(bool, forward);
    QFETCH(long long, delay);
    // AAC, a clip without audio, PCM, and AAC sought through its video stream.
    std::unique_ptr<Timeline> aac = SourceTimeline("tone.m4a");
    std::unique_ptr<Timeline> silent = SourceTimeline("numbered_gop250.mp4");
    std::unique_ptr<Timeline> pcm = SourceTimeline("tone.wav");
    std::unique_ptr<Timeline> movie = SourceTimeline("h264_gop250.mp4");
    Cut(aac.get(), 5, 40);
    Cut(silent.get(), 10, 20);
    Cut(pcm.get(), 3, 30);
    Cut(movie.get(), 100, 130);
    pcm->SourcePtr()->SetAudioDelay(delay);
    std::unique_ptr<Timeline> timeline = EditTimeline({aac.get(), silent.get(), pcm.get(), movie.get()});
    timeline->SetPlaybackTime(forward ? 0 : timeline->EndTime());
    timeline->SetDecodeBias(forward ? DecodeBias::PlayForward : DecodeBias::PlayBackward);
    {
        DecodeRun run(timeline.get(), DecodeType::Audio);
        QVERIFY2(QTest::qWaitFor([&] {
            return timeline->AudioCacheFrameCount() > 0 && timeline->AudioCacheStartTime() == 0 &&
                   timeline->AudioCacheEndTime() == timeline->EndTime();
        }, 30000), qPrintable(QStringLiteral("cached %1 to %2 of %3 in %4 blocks").arg(timeline->AudioCacheStartTime()).arg(timeline->AudioCacheEndTime()).arg(timeline->EndTime()).arg(timeline->AudioCacheFrameCount())));
    }

    // Every microsecond is covered exactly once: the blocks hold as many
    // samples as the timeline lasts.
    QByteArray bytes;
    timeline->ResetAudioBuffer(bytes, 0, AudioOutputFormat::FromSettings());
    long long const expected = AvHelpers::AudioOutputSizeForDuration(timeline->Duration());
    timeline->FillAudioBufferBySize(bytes, static_cast<int>(expected + 1000000), true,
                                    AudioOutputFormat::FromSettings());
    long long const frameSize = Settings::audioOutputChannelCount * AvHelpers::AudioOutputBytesPerSample();
    QVERIFY2(std::llabs(bytes.size() - expected) <= frameSize * (timeline->AudioCacheFrameCount() + 2),
             qPrintable(QStringLiteral("%1 bytes for %2").arg(bytes.size()).arg(expected)));

    // Inside each clip the tone runs on without a jump (a doubled or lost
    // stretch would break it), and the clip without audio is silent.
    std::vector<float> const samples = Samples(bytes);
    long long const margin = SampleAt(3000);
    for (int index = 0; index < timeline->ClipCount(); ++index)
    {
        Clip const* clip = timeline->ClipAtIndex(index);
        long long const first = SampleAt(clip->StartTime()) + margin;
        long long const last = std::min(SampleAt(clip->EndTime()) - margin,
                                        static_cast<long long>(samples.size() / 2) - 2);
        for (long long i = first; i < last; ++i)
        {
            float const left = samples[static_cast<size_t>(i * 2)];
            float const next = samples[static_cast<size_t>((i + 1) * 2)];
            if (!clip->HasAudio())
            {
                QVERIFY2(left == 0.0f, qPrintable(QStringLiteral("clip %1, sample %2").arg(index).arg(i)));
            }
            else
            {
                QVERIFY2(std::fabs(next - left) < 0.02f, qPrintable(QStringLiteral("clip %1, sample %2").arg(index).arg(i)));
            }
        }
    }
}

void TestDecodeManager::CompressedSoundPlaysBackwardAsFfmpegDecodesIt_data()
{
    // MP3 and AAC after their pre-roll equal ffmpeg's samples (AAC but for its
    // noise generator); Opus converges on them, a third of the signal left
    // after its 80 ms pre-roll at worst.
    QTest::addColumn<QString>("name");
    QTest::addColumn<float>("tolerance");
    QTest::newRow("mp3") << "chirp_mp3.mkv" << 1e-5f;
    QTest::newRow("opus") << "chirp_opus.opus" << 0.15f;
    QTest::newRow("aac in matroska") << "chirp_aac.mkv" << 1e-2f;
}

void TestDecodeManager::CompressedSoundPlaysBackwardAsFfmpegDecodesIt()
{
    QFETCH(QString, name);
    QFETCH(float, tolerance);
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "error", "-i", TestMedia::Path(name), "-f", "f32le", "-ac", "2", "-ar",
                            "48000", "-"});
    QVERIFY(ffmpeg.waitForFinished(60000));
    std::vector<float> const reference = Samples(ffmpeg.readAllStandardOutput());
    QVERIFY(!reference.empty());

    std::unique_ptr<Timeline> timeline = SourceTimeline(name);
    timeline->SetPlaybackTime(timeline->EndTime());
    timeline->SetDecodeBias(DecodeBias::PlayBackward);
    {
        DecodeRun run(timeline.get(), DecodeType::Audio);
        QVERIFY(QTest::qWaitFor([&] {
            return timeline->AudioCacheFrameCount() > 0 && timeline->AudioCacheStartTime() == 0 &&
                   timeline->AudioCacheEndTime() == timeline->EndTime();
        }, 30000));
    }
    QByteArray bytes;
    timeline->ResetAudioBuffer(bytes, 0, AudioOutputFormat::FromSettings());
    long long const expected = AvHelpers::AudioOutputSizeForDuration(timeline->Duration());
    timeline->FillAudioBufferBySize(bytes, static_cast<int>(expected), true, AudioOutputFormat::FromSettings());
    std::vector<float> const samples = Samples(bytes);
    size_t const count = std::min(samples.size(), reference.size());
    QVERIFY(count > reference.size() * 9 / 10);
    for (size_t i = 0; i < count; ++i)
    {
        QVERIFY2(std::fabs(samples[i] - reference[i]) <= tolerance,
                 qPrintable(QStringLiteral("%1 off at sample %2").arg(samples[i] - reference[i]).arg(i / 2)));
    }
}

void TestDecodeManager::GapIsOnePlaceholderAndTheTimelineEndIsCovered()
{
    std::unique_ptr<Timeline> first = SourceTimeline("numbered_gop250.mp4");
    std::unique_ptr<Timeline> gap = SourceTimeline("tone.wav");
    std::unique_ptr<Timeline> last = SourceTimeline("numbered_opengop.mkv");
    Cut(first.get(), 240, 262);
    Cut(gap.get(), 0, 9);
    Cut(last.get(), 45, 70);
    std::unique_ptr<Timeline> timeline = EditTimeline({first.get(), gap.get(), last.get()});
    {
        DecodeRun run(timeline.get(), DecodeType::Video);
        QVERIFY(QTest::qWaitFor([&] {
            return timeline->VideoCacheFrameCount() > 0 && timeline->VideoCacheAdjustedStartTime() == 0 &&
                   timeline->VideoCacheAdjustedEndTime() == timeline->EndTime();
        }, 30000));
        QCOMPARE(timeline->VideoCacheFrameCount(), 23 + 1 + 26);
    }
    Clip const* gapClip = timeline->ClipAtIndex(1);
    FramePtr const placeholder = timeline->FindVideoFrame(gapClip->StartTime());
    QVERIFY(placeholder && placeholder->emptyFrame);
    QCOMPARE(timeline->FindVideoFrame(gapClip->EndTime()), placeholder);
    QCOMPARE(placeholder->adjustedStartTime, gapClip->StartTime());
    QCOMPARE(placeholder->adjustedEndTime.load(), gapClip->EndTime());
    QCOMPARE(ReadNumber(*timeline->FindVideoFrame(gapClip->StartTime() - 1)), 262);
    QCOMPARE(ReadNumber(*timeline->FindVideoFrame(gapClip->EndTime() + 1)), 45);
    FramePtr const end = timeline->FindVideoFrame(timeline->EndTime());
    QVERIFY(end);
    QCOMPARE(ReadNumber(*end), 70);
}

void TestDecodeManager::TimelineWithoutVideoShowsNothing()
{
    std::unique_ptr<Timeline> timeline = SourceTimeline("tone.wav");
    DecodeRun run(timeline.get(), DecodeType::Video);
    QVERIFY(QTest::qWaitFor([&] { return !run.shown.isEmpty(); }, 10000));
    QCOMPARE(run.NullTriples(), 1);
    QVERIFY(!run.shown.constFirst().constFirst());
}

void TestDecodeManager::PlayingPastTheEndClearsTheViewersOnce()
{
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_mjpeg.mov");
    DecodeRun run(timeline.get(), DecodeType::Video);
    QVERIFY(QTest::qWaitFor([&] { return !run.shown.isEmpty(); }, 10000));
    QCOMPARE(run.NullTriples(), 0);
    QCOMPARE(ReadNumber(*run.shown.constFirst().constFirst()), 0);
    // A timeline shorter than the primary one is left behind at its end.
    timeline->SetPlaybackTime(timeline->EndTime() + 40000);
    QVERIFY(timeline->DurationExceeded());
    QVERIFY(QTest::qWaitFor([&] { return run.NullTriples() == 1; }, 10000));
    // With the clock stopped the loop sleeps until a post once a pass changes
    // nothing: a second clearing would come before that.
    run.inbox->SetClockStopped(true);
    QVERIFY(QTest::qWaitFor([&] { return run.inbox->IdleWaiting(); }, 10000));
    QCoreApplication::processEvents();
    QCOMPARE(run.NullTriples(), 1);
}

void TestDecodeManager::PausingBeforeTheCachedFramesDecodesThePlayhead()
{
    // A small cache keeps the backward decode short of the playhead, as in a
    // backward stall; pausing there turns the loop forward.
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_gop250.mp4");
    timeline->SetCacheSize(1);
    timeline->SetDecodeBias(DecodeBias::PlayBackward);
    timeline->SetPlaybackFrame(200);
    DecodeRun run(timeline.get(), DecodeType::Video);
    QVERIFY(QTest::qWaitFor([&] { return timeline->VideoCacheReadyAtTime(timeline->PlaybackTime()); }, 10000));
    timeline->SetPlaybackFrame(100);
    timeline->SetDecodeBias(DecodeBias::None);
    QVERIFY(QTest::qWaitFor([&] {
        return !run.shown.isEmpty() && run.shown.constLast().constFirst() &&
               ReadNumber(*run.shown.constLast().constFirst()) == 100;
    }, 10000));
}

void TestDecodeManager::CommandsArriveAsDataNotThroughTheEventLoop()
{
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_gop250.mp4");
    timeline->SetPlaybackFrame(0);
    DecodeRun run(timeline.get(), DecodeType::Video);
    auto const showing = [&run](int number) {
        return !run.shown.isEmpty() && run.shown.constLast().constFirst() &&
               ReadNumber(*run.shown.constLast().constFirst()) == number;
    };
    QVERIFY(QTest::qWaitFor([&] { return showing(0); }, 10000));
    // Queued behind the running loop on its thread.
    std::atomic<bool> queuedCallRan {false};
    QMetaObject::invokeMethod(run.Manager(), [&queuedCallRan] { queuedCallRan = true; });

    // 200 pictures into the GOP: the seek decodes them all before it shows.
    timeline->SetPlaybackFrame(200);
    run.Manager()->Post(DecodeCommand::Seek);
    QVERIFY(QTest::qWaitFor([&] { return showing(200); }, 20000));
    // Counted on the decode thread, where the signal is emitted.
    std::atomic<int> updates {0};
    QObject counter;
    QObject::connect(run.Manager(), &DecodeManager::DecodeTrackUpdated, &counter, [&updates] { ++updates; },
                     Qt::DirectConnection);
    run.Manager()->Post(DecodeCommand::UpdateTrack);
    QVERIFY(QTest::qWaitFor([&updates] { return updates.load() > 0; }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return showing(200); }, 20000));
    // The loop took every command without letting its thread's events in.
    QVERIFY(!queuedCallRan);
    run.Stop();
    QVERIFY(QTest::qWaitFor([&] { return queuedCallRan.load(); }, 10000));
}

void TestDecodeManager::BackwardWindowInterruptedByCommandsStaysExact()
{
    // Backwards from the end, the second window is a whole 250-picture GOP.
    // Seeks posted all the while break into it; the playhead stays in the
    // cache, so each is dropped and the window goes on where it was.
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_gop250.mp4");
    timeline->SetDecodeBias(DecodeBias::PlayBackward);
    timeline->SetPlaybackFrame(299);
    DecodeRun run(timeline.get(), DecodeType::Video);
    int posts = 0;
    QVERIFY(QTest::qWaitFor([&] {
        run.Manager()->Post(DecodeCommand::Seek);
        ++posts;
        return timeline->VideoCacheFrameCount() == 300;
    }, 30000));
    QVERIFY(posts > 1);
    for (int frame = 0; frame < 300; ++frame)
    {
        std::shared_ptr<VideoFrame> const picture = timeline->FindVideoFrame(timeline->TimeAtFrame(frame, false));
        QVERIFY2(picture, qPrintable(QString::number(frame)));
        QCOMPARE(ReadNumber(*picture), frame);
    }
}

void TestDecodeManager::SeekWhilePlayingBackwardStaysExact()
{
    // A seek into the first GOP while playing backward: the pictures it keeps
    // on its way and those the backward windows add after it meet without a
    // gap or a wrong picture.
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_gop250.mp4");
    timeline->SetDecodeBias(DecodeBias::PlayBackward);
    timeline->SetPlaybackFrame(299);
    DecodeRun run(timeline.get(), DecodeType::Video);
    QVERIFY(QTest::qWaitFor([&] { return timeline->VideoCacheCoversTime(timeline->TimeAtFrame(280, false)); }, 30000));
    timeline->SetPlaybackFrame(150);
    run.Manager()->Post(DecodeCommand::Seek);
    auto const cached = [&](int frame) { return timeline->FindVideoFrame(timeline->TimeAtFrame(frame, false)); };
    QVERIFY(QTest::qWaitFor([&] { return cached(0) && cached(150); }, 30000));
    for (int frame = 0; frame <= 150; ++frame)
    {
        std::shared_ptr<VideoFrame> const picture = cached(frame);
        QVERIFY2(picture, qPrintable(QString::number(frame)));
        QCOMPARE(ReadNumber(*picture), frame);
    }
}

void TestDecodeManager::FailingFileIsReportedOncePerChange()
{
    // A render replaced after its parse by something that does not open:
    // each seek back onto it shows the placeholder without a new error, and
    // only the next change of the file is tried (and reported) again.
    QTemporaryDir dir;
    QString const path = dir.filePath(QStringLiteral("render.mp4"));
    QVERIFY(QFile::copy(TestMedia::Path("numbered_gop250.mp4"), path));
    auto timeline = std::make_unique<Timeline>(path, QString(), QUuid::createUuid());
    AvParser().Parse(timeline->SourcePtr(), 0);
    timeline->OnTrackUpdated();
    timeline->SetPlaybackFrame(100);

    QMutex linesLock;
    QStringList errors;
    QObject spy;
    // What names the file; a decoder still reading the old file as it is
    // overwritten may complain of its packets besides.
    QObject::connect(Logger::GetInstance(), &Logger::ErrorLogged, &spy, [&](QString const& line) {
        QMutexLocker const locker(&linesLock);
        if (line.contains(path))
        {
            errors << line;
        }
    }, Qt::DirectConnection);
    auto const errorCount = [&] {
        QMutexLocker const locker(&linesLock);
        return errors.size();
    };
    // Replaced whole, as a render is: the loop never meets it half written.
    auto const replace = [&path, &dir](QString const& from) {
        return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(path).constData()) == 0;
    };
    auto const overwrite = [&](QByteArray const& bytes) {
        QFile file(dir.filePath(QStringLiteral("next.mp4")));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && (file.close(), true) &&
               replace(file.fileName());
    };

    QVERIFY(overwrite(QByteArray(64 * 1024, 'x')));
    DecodeRun run(timeline.get(), DecodeType::Video);
    auto const placeholderShown = [&] {
        std::shared_ptr<VideoFrame> const frame = timeline->FindVideoFrame(timeline->PlaybackTime());
        return frame && frame->emptyFrame;
    };
    for (int frame : {200, 50, 150, 10, 120})
    {
        timeline->SetPlaybackFrame(frame);
        run.Manager()->Post(DecodeCommand::RefreshCache);
        QVERIFY(QTest::qWaitFor(placeholderShown, 10000));
    }
    QVERIFY2(errorCount() == 1, qPrintable(errors.join(QLatin1Char('\n'))));

    // Another change is tried again, and reported again.
    QVERIFY(overwrite(QByteArray(128 * 1024, 'y')));
    timeline->SetPlaybackFrame(60);
    run.Manager()->Post(DecodeCommand::RefreshCache);
    QVERIFY(QTest::qWaitFor([&] { return errorCount() == 2; }, 10000));

    // A good file again (moved over it whole, as a render is) decodes again.
    QString const good = dir.filePath(QStringLiteral("good.mp4"));
    QVERIFY(QFile::copy(TestMedia::Path("numbered_gop250.mp4"), good));
    QVERIFY(replace(good));
    timeline->SetPlaybackFrame(30);
    run.Manager()->Post(DecodeCommand::RefreshCache);
    QVERIFY(QTest::qWaitFor([&] {
        std::shared_ptr<VideoFrame> const frame = timeline->FindVideoFrame(timeline->PlaybackTime());
        return frame && !frame->emptyFrame && ReadNumber(*frame) == 30;
    }, 20000));
    QVERIFY2(errorCount() == 2, qPrintable(errors.join(QLatin1Char('\n'))));
}

void TestDecodeManager::FirstPictureThatDecodesIsDecodedOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("fromPackets");
    for (char const* name : {"numbered_brokenidr.mkv", "numbered_brokenidr.mp4", "numbered_hevc_brokenidr.mkv",
                             "numbered_hevc_brokenidr.mp4"})
    {
        for (bool const fromPackets : {true, false})
        {
            QTest::addRow("%s, %s", name, fromPackets ? "packet times" : "decoded times")
                << QString::fromLatin1(name) << fromPackets;
        }
    }
}

void TestDecodeManager::FirstPictureThatDecodesIsDecodedOnce()
{
    // The first IDR's slice header is damaged: it fails once as the file is
    // decoded from its start, frame 0 shows the first picture that decodes,
    // and the loop fills the cache with the rest of the file (a loop that
    // waited for the lost picture would decode the start again and again).
    QFETCH(QString, name);
    QFETCH(bool, fromPackets);
    int const pictures = static_cast<int>(TestMedia::FrameMd5(TestMedia::Path(name)).size());
    QCOMPARE(pictures, 99);
    std::unique_ptr<Timeline> timeline = SourceTimeline(name, fromPackets);
    QCOMPARE(timeline->FrameCount(), pictures);
    timeline->SetPlaybackFrame(0);
    ErrorCount const errors;
    DecodeRun run(timeline.get(), DecodeType::Video);
    QVERIFY(QTest::qWaitFor(
        [&] { return timeline->VideoCacheCoversTime(0) && timeline->VideoCacheFrameCount() == pictures; }, 20000));
    QVERIFY(QTest::qWaitFor([&] { return !run.shown.isEmpty() && run.shown.constLast().constFirst(); }, 10000));
    std::shared_ptr<VideoFrame> const first = timeline->FindVideoFrame(0);
    QVERIFY(first && !first->emptyFrame);
    QCOMPARE(first->startFrame, 0);
    // One decode of the start: each decoder reports the damaged header in a
    // few lines.
    QVERIFY2(errors.Count() <= 8, qPrintable(QString::number(errors.Count())));
}

void TestDecodeManager::PlayheadBeforeEveryPictureThatDecodesIsGivenUpOnce()
{
    // A stream timed from a picture that does not decode (here its start
    // put back to the damaged first IDR's time): frame 0 has no picture of
    // its own. The first picture that decodes covers it, and the loop goes
    // on with the rest instead of seeking back to frame 0 again and again.
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_brokenidr.mkv");
    VideoStreamInfo& info = timeline->SourcePtr()->FileInfoAtIndex(0)->videoStreams.first();
    QVERIFY(info.startTimeOffset > 0);
    info.startTimeOffset = 0;
    timeline->SetPlaybackFrame(0);
    ErrorCount const errors;
    DecodeRun run(timeline.get(), DecodeType::Video);
    int const frames = timeline->FrameCount();
    QVERIFY(QTest::qWaitFor(
        [&] {
            return timeline->VideoCacheCoversTime(0) &&
                   timeline->VideoCacheCoversTime(timeline->TimeAtFrame(frames - 1, false));
        },
        20000));
    QVERIFY(QTest::qWaitFor([&] { return !run.shown.isEmpty() && run.shown.constLast().constFirst(); }, 10000));
    std::shared_ptr<VideoFrame> const first = timeline->FindVideoFrame(0);
    QVERIFY(first);
    QCOMPARE(ReadNumber(*first), 1);
    QVERIFY2(errors.Count() <= 8, qPrintable(QString::number(errors.Count())));
}

void TestDecodeManager::SeekEndsOnThePictureThatStartsItsFrame_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("threads");
    QTest::newRow("H.264, one thread") << "numbered_gop250.mp4" << 1;
    QTest::newRow("H.264, three threads") << "numbered_gop250.mp4" << 3;
    QTest::newRow("HEVC, three threads") << "numbered_hevc.mp4" << 3;
    QTest::newRow("H.264, nine threads") << "numbered_gop250.mp4" << 9;
    QTest::newRow("H.264, sixteen threads") << "numbered_gop250.mp4" << 16;
}

void TestDecodeManager::SeekEndsOnThePictureThatStartsItsFrame()
{
    // A paused seek into a GOP with reordered B-pictures, each starting
    // exactly on its frame: the seek ends on the sought picture as it comes.
    // Waiting for the next one to close it would decode another picture (a
    // whole 4K decode and its conversion) before the frame is shown.
    QFETCH(QString, name);
    QFETCH(int, threads);
    int const setting = Settings::videoDecoderThreadCount;
    Settings::videoDecoderThreadCount = threads;
    auto const restore = qScopeGuard([setting] { Settings::videoDecoderThreadCount = setting; });
    std::unique_ptr<Timeline> timeline = SourceTimeline(name);
    int const sought = timeline->FrameCount() * 3 / 4 + 10; // not a key picture
    timeline->SetPlaybackFrame(0);
    DecodeRun run(timeline.get(), DecodeType::Video);
    run.inbox->SetClockStopped(true);
    run.inbox->SetFillAheadHeld(true);
    auto const showing = [&run](int number) {
        return !run.shown.isEmpty() && run.shown.constLast().constFirst() &&
               ReadNumber(*run.shown.constLast().constFirst()) == number;
    };
    QVERIFY(QTest::qWaitFor([&] { return showing(0); }, 10000));
    timeline->SetPlaybackFrame(sought);
    run.Manager()->Post(DecodeCommand::Seek);
    QVERIFY(QTest::qWaitFor([&] { return showing(sought); }, 20000));
    QVERIFY(QTest::qWaitFor([&] { return run.inbox->IdleWaiting(); }, 10000));
    run.Stop();
    VideoDecoder const* decoder = DecodeManagerTestAccess::MovieDecoder(*run.Manager());
    QVERIFY(decoder);
    QCOMPARE(VideoDecoderTestAccess::LastPictureTime(*decoder), timeline->TimeAtFrame(sought, false));
}

void TestDecodeManager::LoopStartIsFilledExactlyUpToTheCache()
{
    // A loop span entered from inside, far from the key picture, in a file
    // with reordered B-pictures: the pictures from the span start up to the
    // cache come in front of it, each the one the file holds there, the
    // playhead stays where it is, and nothing after the span end is decoded.
    std::unique_ptr<Timeline> timeline = SourceTimeline("numbered_gop250.mp4");
    timeline->SetCachePlan(CachePlan::Looping({timeline->TimeAtFrame(101, false), timeline->TimeAtFrame(150, true)}));
    timeline->SetPlaybackFrame(130);
    DecodeRun run(timeline.get(), DecodeType::Video);
    QVERIFY(QTest::qWaitFor([&] {
        std::shared_ptr<VideoFrame> const first = timeline->FirstCachedVideoFrame();
        return first && first->startFrame == 101;
    }, 20000));
    for (int frame = 101; frame <= 150; ++frame)
    {
        std::shared_ptr<VideoFrame> const picture = timeline->FindVideoFrame(timeline->TimeAtFrame(frame, false));
        QVERIFY2(picture, qPrintable(QString::number(frame)));
        QCOMPARE(picture->startFrame, frame);
        QCOMPARE(ReadNumber(*picture), frame);
    }
    QCOMPARE(timeline->LastCachedVideoFrame()->endFrame, 150);
    QCOMPARE(timeline->PlaybackFrame(), 130);
}

QTEST_MAIN(TestDecodeManager)
#include "tst_decodemanager.moc"
