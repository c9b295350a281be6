// tessarin_bench: the engine seen from outside. Opens media as source
// timelines through the real engine and reports what the viewer is handed
// (frames), how fast it comes compared with ffmpeg on the same machine
// (speed), whether random use keeps showing the right frame (soak), and how
// soon a file opened shows its first picture (open), and what an export
// takes in memory and time (export).

#include "BenchExport.h"
#include "BenchLoop.h"
#include "BenchMemory.h"
#include "BenchPicture.h"
#include "BenchSession.h"
#include "BenchSoak.h"
#include "BenchSound.h"
#include "FfmpegReference.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/DecoderThreads.h"
#include "media/PictureArena.h"
#include "media/VideoFrame.h"
#include "media/VideoFrameBufferPool.h"
#include "model/Source.h"
#include "model/Timeline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <random>

#include <time.h>
#include <unistd.h>

namespace
{

int const SETTLE_TIMEOUT_MS = 60000;
int const PLAYBACK_TIMEOUT_MS = 600000;
int const SEEK_COUNT = 20;
int const SEEK_TIMEOUT_MS = 20000;
// A cache that has not grown for this long has stopped filling.
int const SETTLE_STILL_MS = 500;
// Past the player's idle delay before picture memory goes back: the timer's
// own lateness on a loaded machine.
int const RELEASE_SLACK_MS = 1000;
// The free-running clock asks for this many frames per 1 ms tick, far more
// than any decoder delivers, so the cache alone sets the pace. Not more: a
// tick moves the clock by its elapsed time, and a late tick at a higher speed
// can leap over frames never decoded (over a whole 48-frame sequence in one
// 3 ms tick at 16 a tick).
double const FREE_RUNNING_FRAMES_PER_TICK = 2.0;
// Forward fills and ffmpeg's decodes alternate, this many of each, and the
// medians are compared: on a shared machine one run of either moves by up
// to a tenth.
int const RATE_REPEATS = 3;

struct Options
{
    QString mode;
    QStringList files;
    bool forward = true;
    float speed = 1.0f;
    QList<int> seeks;
    int from = -1;
    int step = 1;
    int count = 1;
    int seconds = 60;
    unsigned int seed = 1;
    int rangeFirst = 101;
    int rangeLast = 150;
    int loops = 8;
    double park = 0.0;
    bool printFrames = false;
};

int Fail(QString const& message)
{
    std::fprintf(stderr, "tessarin_bench: %s\n", qPrintable(message));
    return 1;
}

// Engine warnings and errors, from any thread.
void ForwardEngineMessages()
{
    Logger* logger = Logger::GetInstance();
    QObject::connect(logger, &Logger::WarningLogged, logger,
                     [](QString const& message) { std::fprintf(stderr, "[WARNING] %s\n", qPrintable(message)); },
                     Qt::DirectConnection);
    QObject::connect(logger, &Logger::ErrorLogged, logger,
                     [](QString const& message) { std::fprintf(stderr, "[ERROR] %s\n", qPrintable(message)); },
                     Qt::DirectConnection);
}

bool ParseOptions(QCoreApplication const& application, Options& options, QString& error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Opens media through the player's engine and reports what the viewer is handed.\n"
        "  frames FILE   one line per frame handed to the viewer: frame <n> md5 <picture md5>;\n"
        "                after playback, the frames the clock stopped on: # clock frames <n>\n"
        "  speed FILE    playback, seek and memory figures against ffmpeg's decoding\n"
        "  soak FILE...  random use for --seconds, checking every settled frame\n"
        "  open FILE     times from process start to the parsed file and to its first picture shown\n"
        "  fill FILE     the forward fill alone against ffmpeg's decoding (a part of speed)\n"
        "  backfill FILE the backward fill against the forward ceiling: ffmpeg's decoding and the forward fill\n"
        "  seek FILE     the random seeks alone (a part of speed), median and p95; with --seek, seeks\n"
        "                to those frames instead, each time printed: # seek <frame> <ms>\n"
        "  loop FILE     the hold at each wrap and the pictures decoded per pass while a range loops at 1x\n"
        "  sound FILE    the sound's gaps while a range (--range, the whole file unless given) loops at --speed\n"
        "                for --seconds, with the pictures shown per second and ffmpeg's decoding rate\n"
        "  export        a generated 1080p H.264 clip of --seconds (120 unless given) exported through the engine:\n"
        "                peak memory against the export's cache, time against ffmpeg's same encode (no FILE)\n"
        "An image sequence is given as \"DIR/name.####.png FIRST-LAST\".");
    parser.addHelpOption();
    parser.addPositionalArgument("mode", "frames, speed, soak, open, fill, backfill, seek, loop, sound or export");
    parser.addPositionalArgument("files", "media files or image sequences", "FILE...");
    QCommandLineOption const format("format", "pixel format the decoder delivers: yuv420p (YUV streams) or rgb24",
                                    "format", "yuv420p");
    QCommandLineOption const direction("direction", "frames: play forward or backward", "direction", "forward");
    QCommandLineOption const speed("speed", "frames, sound: playback speed", "speed", "1");
    QCommandLineOption const seek("seek", "frames, seek: seek to each frame of a comma-separated list", "frames");
    QCommandLineOption const from("from", "frames: step from this frame; loop: park on this frame of the range and play from it (the range start unless given)", "frame");
    QCommandLineOption const step("step", "frames: frames per step, negative backward", "frames", "1");
    QCommandLineOption const count("count", "frames: frames shown while stepping", "count", "1");
    QCommandLineOption const seconds("seconds", "soak, sound, export: duration", "seconds", "60");
    QCommandLineOption const seed("seed", "soak: random seed", "seed", "1");
    QCommandLineOption const cacheSize("cache-size", "cache size in MB (the player's default is 512)", "MB");
    QCommandLineOption const decodedTimes("decoded-times",
                                        "find a video stream's first and last picture times by decoding, never from "
                                        "the packets' times (for comparison)");
    QCommandLineOption const decoderThreads("decoder-threads",
                                            "threads of each video decoder (0, the player's default: the codec's "
                                            "own choice by the cores)",
                                            "count");
    QCommandLineOption const range("range", "loop: the range looped", "FIRST-LAST", "101-150");
    QCommandLineOption const loops("loops", "loop: wraps to watch", "count", "8");
    QCommandLineOption const park("park", "loop: seconds parked on --from with the loop on before play", "seconds",
                                  "0");
    QCommandLineOption const printFrames("print-frames",
                                         "loop: also one line per frame handed to the viewer, as frames prints it");
    parser.addOptions({format, direction, speed, seek, from, step, count, seconds, seed, cacheSize, decodedTimes,
                       decoderThreads, range, loops, park, printFrames});
    if (!parser.parse(application.arguments()))
    {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet("help"))
    {
        std::printf("%s", qPrintable(parser.helpText()));
        std::exit(0);
    }
    QStringList const positional = parser.positionalArguments();
    if (positional.size() < (positional.value(0) == "export" ? 1 : 2))
    {
        error = "a mode and a file are needed (--help)";
        return false;
    }
    options.mode = positional.first();
    options.files = positional.mid(1);
    if (!QStringList {"frames", "speed", "soak", "open", "fill", "backfill", "seek", "loop", "sound", "export"}
             .contains(options.mode))
    {
        error = "unknown mode " + options.mode;
        return false;
    }
    QString const formatName = parser.value(format);
    if (formatName != "yuv420p" && formatName != "rgb24")
    {
        error = "unknown format " + formatName;
        return false;
    }
    Settings::hardwareRenderingEnabled = true;
    Settings::videoDecoderForceRgbOutput = formatName == "rgb24";
    options.forward = parser.value(direction) != "backward";
    bool ok = true;
    auto number = [&ok](QString const& text) {
        bool good = false;
        int const value = text.toInt(&good);
        ok = ok && good;
        return value;
    };
    options.speed = parser.value(speed).toFloat(&ok);
    for (QString const& frame : parser.value(seek).split(',', Qt::SkipEmptyParts))
    {
        options.seeks << number(frame);
    }
    options.from = parser.isSet(from) ? number(parser.value(from)) : -1;
    options.step = number(parser.value(step));
    options.count = number(parser.value(count));
    options.seconds = number(parser.value(seconds));
    options.seed = static_cast<unsigned int>(number(parser.value(seed)));
    QStringList const bounds = parser.value(range).split('-');
    options.rangeFirst = number(bounds.value(0));
    options.rangeLast = number(bounds.value(1));
    if (options.mode == "sound" && !parser.isSet(range))
    {
        options.rangeFirst = 0;
        options.rangeLast = INT_MAX;
    }
    if (options.mode == "sound" && !parser.isSet(seconds))
    {
        options.seconds = 8;
    }
    if (options.mode == "export" && !parser.isSet(seconds))
    {
        options.seconds = 120;
    }
    options.loops = number(parser.value(loops));
    bool parkGood = false;
    options.park = parser.value(park).toDouble(&parkGood);
    ok = ok && parkGood && options.park >= 0.0;
    options.printFrames = parser.isSet(printFrames);
    BenchSession::videoTimesFromPackets = !parser.isSet(decodedTimes);
    if (parser.isSet(cacheSize))
    {
        Settings::cacheSize = number(parser.value(cacheSize));
    }
    if (parser.isSet(decoderThreads))
    {
        Settings::videoDecoderThreadCount = number(parser.value(decoderThreads));
        ok = ok && Settings::videoDecoderThreadCount >= 0;
    }
    if (!ok || options.speed <= 0.0f || options.count < 1 || options.step == 0 || options.seconds < 1 ||
        Settings::cacheSize < 1 || bounds.size() != 2 || options.loops < 1)
    {
        error = "invalid option value";
        return false;
    }
    return true;
}

void PrintFrame(std::shared_ptr<VideoFrame> const& frame, int timelineFrame, bool& headerPrinted)
{
    if (!headerPrinted)
    {
        headerPrinted = true;
        std::printf("# format %s size %dx%d\n", qPrintable(BenchPicture::FormatName(frame->pixelFormat)),
                    BenchPicture::Width(*frame), BenchPicture::Height(*frame));
    }
    std::printf("frame %d md5 %s\n", timelineFrame, qPrintable(BenchPicture::Md5(*frame)));
    std::fflush(stdout);
}

int RunFrames(Options const& options)
{
    BenchSession session;
    QString error;
    Timeline* timeline = session.AddSource(options.files.first(), &error);
    if (!timeline)
    {
        return Fail(error);
    }
    bool headerPrinted = false;
    auto printShown = [&] {
        PrintFrame(session.Viewer().Shown(), timeline->FrameAtTime(session.Av().PlaybackTime()), headerPrinted);
    };
    auto outOfRange = [timeline](int frame) { return frame < 0 || frame > timeline->EndFrame(); };

    if (!options.seeks.isEmpty())
    {
        session.Show(timeline, 0);
        for (int frame : options.seeks)
        {
            if (outOfRange(frame))
            {
                return Fail(QStringLiteral("frame %1 is outside 0-%2").arg(frame).arg(timeline->EndFrame()));
            }
            if (!session.Seek(timeline->TimeAtFrame(frame, false), SETTLE_TIMEOUT_MS))
            {
                return Fail(QStringLiteral("frame %1 was not shown after a seek").arg(frame));
            }
            printShown();
        }
        return 0;
    }
    if (options.from >= 0)
    {
        if (outOfRange(options.from))
        {
            return Fail(QStringLiteral("frame %1 is outside 0-%2").arg(options.from).arg(timeline->EndFrame()));
        }
        session.Show(timeline, timeline->TimeAtFrame(options.from, false));
        if (!session.WaitShown(SETTLE_TIMEOUT_MS))
        {
            return Fail(QStringLiteral("frame %1 was not shown").arg(options.from));
        }
        printShown();
        for (int shown = 1; shown < options.count && !outOfRange(timeline->PlaybackFrame() + options.step); ++shown)
        {
            if (!session.Step(options.step, SETTLE_TIMEOUT_MS))
            {
                return Fail(QStringLiteral("frame %1 was not shown after a step")
                                .arg(timeline->FrameAtTime(session.Av().PlaybackTime())));
            }
            printShown();
        }
        return 0;
    }
    // Playback from one end of the file to the other: every hand-over.
    QObject::connect(&session.Viewer(), &BenchViewer::FrameHanded,
                     [&](std::shared_ptr<VideoFrame> const& frame, long long, int timelineFrame) {
                         PrintFrame(frame, timelineFrame, headerPrinted);
                     });
    session.Show(timeline, options.forward ? 0 : timeline->PlaybackRangeEnd());
    if (!session.WaitShown(SETTLE_TIMEOUT_MS))
    {
        return Fail("the first frame was not shown");
    }
    // The frames the clock stops on, the first included: a late tick (a
    // starved process) moves it on by all the time since the last, past
    // frames that then are never due.
    int clockFrames = 1;
    QObject::connect(&session.Av(), &AvManager::PlaybackFrameChanged, [&clockFrames](int) { ++clockFrames; });
    float const speed = std::clamp(options.speed, Settings::playbackSpeedMinimum, Settings::playbackSpeedMaximum);
    double const seconds = timeline->Duration() / 1e6 / speed;
    if (!session.PlayToEnd(options.forward, speed, static_cast<int>(seconds * 3000) + SETTLE_TIMEOUT_MS))
    {
        return Fail("playback did not reach the end");
    }
    if (!session.WaitShown(SETTLE_TIMEOUT_MS))
    {
        return Fail(QStringLiteral("the clock stopped at frame %1, which was never shown")
                        .arg(timeline->FrameAtTime(session.Av().PlaybackTime())));
    }
    std::printf("# clock frames %d\n", clockFrames);
    return 0;
}

double Median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

// The nearest-rank 95th percentile.
double Percentile95(QList<double> values)
{
    std::sort(values.begin(), values.end());
    if (values.isEmpty())
    {
        return 0.0;
    }
    auto const rank = static_cast<qsizetype>(std::ceil(0.95 * values.size()));
    return values.at(std::clamp<qsizetype>(rank - 1, 0, values.size() - 1));
}

double Ratio(double value, double reference)
{
    return reference > 0.0 ? value / reference : 0.0;
}

// Waits until the cache has stopped filling after a seek: full, at the end
// of the timeline, or not grown for a while.
void WaitCacheSettled(Timeline const* timeline)
{
    int count = -1;
    QElapsedTimer still;
    still.start();
    BenchSession::WaitFor(
        [&] {
            int const now = timeline->VideoCacheFrameCount();
            if (now != count)
            {
                count = now;
                still.restart();
            }
            return timeline->VideoCacheSize() >= timeline->VideoCacheMaximumSize() ||
                   timeline->VideoCacheCoversTime(timeline->PlaybackRangeEnd()) || still.elapsed() >= SETTLE_STILL_MS;
        },
        SETTLE_TIMEOUT_MS);
}

struct PlaybackRate
{
    double framesPerSecond = 0.0;
    // Processor time of the process per frame until the cache was full.
    double cpuMillisecondsPerFrame = 0.0;
    // The clock stopped at the range end but that frame never came.
    bool endShown = true;
};

// Processor time of every thread of the process so far (user and system), s.
double ProcessCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Frames per second of filling the cache over the whole file with the clock
// free-running: from opening the output until the cache holds the frame at
// the other end. Pictures come in bursts (a frame-threaded decoder hands over
// one per thread as it drains at the end of the file), and the clock then
// walks through the last of them, already cached, at its own pace: that walk
// is not the fill's. The frame there must then be shown; when the clock
// stopped there before it was cached, the fill lasts until it is shown (or,
// when it never is, until the clock stopped).
//
// With reopen off, the output stays open and a paused seek to the start
// begins the fill: the cache lets the pictures it holds go, and the fill
// writes its pictures where they were.
PlaybackRate MeasurePlayback(BenchSession& session, Timeline* timeline, bool forward, bool reopen = true)
{
    PlaybackRate rate;
    if (reopen)
    {
        session.Close();
    }
    QElapsedTimer timer;
    timer.start();
    double const cpuAtStart = ProcessCpuSeconds();
    if (reopen)
    {
        session.Show(timeline, forward ? 0 : timeline->PlaybackRangeEnd());
    }
    else
    {
        session.Seek(forward ? 0 : timeline->PlaybackRangeEnd(), SETTLE_TIMEOUT_MS);
    }
    float const speed = static_cast<float>(FREE_RUNNING_FRAMES_PER_TICK * timeline->FrameStepAtFrame(0) / 1000.0);
    long long const otherEnd = forward ? timeline->PlaybackRangeEnd() : timeline->PlaybackRangeStart();
    session.Play(forward, speed);
    bool filled = false;
    BenchSession::WaitFor(
        [&] {
            filled = timeline->VideoCacheCoversTime(otherEnd);
            return filled || !session.Av().IsPlaying();
        },
        PLAYBACK_TIMEOUT_MS);
    double const filledSeconds = timer.nsecsElapsed() / 1e9;
    rate.cpuMillisecondsPerFrame = (ProcessCpuSeconds() - cpuAtStart) * 1e3 / std::max(timeline->FrameCount(), 1);
    if (!session.WaitStopped(PLAYBACK_TIMEOUT_MS))
    {
        return rate;
    }
    double const stopped = timer.nsecsElapsed() / 1e9;
    rate.endShown = session.WaitShown(SETTLE_TIMEOUT_MS);
    double const seconds = filled ? filledSeconds : rate.endShown ? timer.nsecsElapsed() / 1e9 : stopped;
    rate.framesPerSecond = timeline->FrameCount() / seconds;
    return rate;
}

struct RealTimePlay
{
    int shown = 0;
    int frames = 0;
    double longestHoldMs = 0.0;
    // The frame shown after the longest hold.
    int longestHoldEnd = -1;
    bool reachedEnd = false;
};

// Plays the whole file at 1x from one end, as a reviewer does, and times the
// hand-overs to the viewer: how many of the frames were shown, and the longest
// any picture stayed on screen (from the start of playing up to the hand-over
// of the last frame).
RealTimePlay MeasureRealTimePlay(BenchSession& session, Timeline* timeline, bool forward)
{
    RealTimePlay play;
    play.frames = timeline->FrameCount();
    session.Close();
    session.Show(timeline, forward ? 0 : timeline->PlaybackRangeEnd());
    if (!session.WaitShown(SETTLE_TIMEOUT_MS))
    {
        return play;
    }
    QSet<int> shown {timeline->FrameAtTime(session.Av().PlaybackTime())};
    QElapsedTimer timer;
    double lastHandOverMs = 0.0;
    QMetaObject::Connection const handed = QObject::connect(
        &session.Viewer(), &BenchViewer::FrameHanded, [&](std::shared_ptr<VideoFrame> const&, long long, int frame) {
            double const now = timer.nsecsElapsed() / 1e6;
            if (now - lastHandOverMs > play.longestHoldMs)
            {
                play.longestHoldMs = now - lastHandOverMs;
                play.longestHoldEnd = frame;
            }
            lastHandOverMs = now;
            shown.insert(frame);
        });
    timer.start();
    double const seconds = timeline->Duration() / 1e6;
    play.reachedEnd = session.PlayToEnd(forward, 1.0f, static_cast<int>(seconds * 3000) + SETTLE_TIMEOUT_MS) &&
                      session.WaitShown(SETTLE_TIMEOUT_MS);
    QObject::disconnect(handed);
    play.shown = static_cast<int>(shown.size());
    return play;
}

void PrintRealTimePlay(char const* label, RealTimePlay const& play, double frameMs)
{
    std::printf("  %s play 1x: shown %d of %d, longest hold %.0f ms (up to frame %d)  (aim: every frame, <= %.0f ms)%s\n",
                label, play.shown, play.frames, play.longestHoldMs, play.longestHoldEnd, 3.0 * frameMs,
                play.reachedEnd ? "" : "  FAULT: playing did not reach the end");
}

void PrintPlayback(char const* label, PlaybackRate const& rate, double ffmpeg, char const* aim)
{
    std::printf("  %-17s %8.1f fps  ratio to ffmpeg %.2f  (aim %s)%s\n", label, rate.framesPerSecond,
                Ratio(rate.framesPerSecond, ffmpeg), aim,
                rate.endShown ? "" : "  FAULT: the clock stopped at the range end, whose frame never came");
}

struct ForwardFill
{
    PlaybackRate forward;
    std::shared_ptr<VideoFrame> sample;
    QString format;
    int threads = 0;
    QList<FfmpegReference::DecodeRate> references;
    FfmpegReference::DecodeRate reference;
};

// The forward fill against ffmpeg decoding the same stream into the same
// format, alternating, medians of each; no sample when nothing was shown.
ForwardFill MeasureForwardFill(BenchSession& session, Timeline* timeline)
{
    ForwardFill fill;
    Source const& source = *timeline->SourcePtr();
    fill.forward = MeasurePlayback(session, timeline, true);
    fill.sample = session.Viewer().Shown();
    if (!fill.sample)
    {
        return fill;
    }
    fill.format = BenchPicture::FormatName(fill.sample->pixelFormat);
    fill.threads = source.IsImageSequence()
                       ? Settings::imageSequenceThreadCount * Settings::imageSequenceDecoderThreadCount
                       : Settings::videoDecoderThreadCount;
    QList<double> fills {fill.forward.framesPerSecond};
    QList<double> cpus {fill.forward.cpuMillisecondsPerFrame};
    for (int i = 0; i < RATE_REPEATS; ++i)
    {
        fill.references << FfmpegReference::MeasureDecodeRate(source, fill.format, fill.threads);
        if (i + 1 < RATE_REPEATS)
        {
            PlaybackRate const again = MeasurePlayback(session, timeline, true);
            fills << again.framesPerSecond;
            cpus << again.cpuMillisecondsPerFrame;
            fill.forward.endShown = fill.forward.endShown && again.endShown;
        }
    }
    // A fill that never reached the end fails the run, whatever the others did.
    bool const everyFillPlayed = std::all_of(fills.cbegin(), fills.cend(), [](double fps) { return fps > 0.0; });
    fill.forward.framesPerSecond = everyFillPlayed ? Median(fills) : 0.0;
    fill.forward.cpuMillisecondsPerFrame = Median(cpus);
    std::sort(fill.references.begin(), fill.references.end(),
              [](auto const& a, auto const& b) { return a.FramesPerSecond() < b.FramesPerSecond(); });
    fill.reference = fill.references.at(fill.references.size() / 2);
    return fill;
}

struct RandomSeeks
{
    QList<double> milliseconds;
    QList<int> frames;
    int neverShown = 0;
};

// Paused seeks to random frames (the same for a seed), or to the frames
// given, each timed until the viewer shows the frame.
RandomSeeks MeasureRandomSeeks(BenchSession& session, Timeline* timeline, unsigned int seed,
                               QList<int> const& given = {})
{
    RandomSeeks result;
    session.Close();
    session.Show(timeline, 0);
    session.WaitShown(SETTLE_TIMEOUT_MS);
    std::mt19937 random(seed);
    int const count = given.isEmpty() ? SEEK_COUNT : static_cast<int>(given.size());
    for (int i = 0; i < count; ++i)
    {
        int const frame = given.isEmpty() ? std::uniform_int_distribution<int>(0, timeline->EndFrame())(random)
                                          : std::clamp(given.at(i), 0, timeline->EndFrame());
        long long const time = timeline->TimeAtFrame(frame, false);
        QElapsedTimer timer;
        timer.start();
        if (session.Seek(time, SEEK_TIMEOUT_MS))
        {
            result.milliseconds << timer.nsecsElapsed() / 1e6;
            result.frames << frame;
            continue;
        }
        // Counted apart; the output is opened again there to go on.
        ++result.neverShown;
        std::fprintf(stderr, "tessarin_bench: frame %d was not shown within %d s of a seek\n", frame,
                     SEEK_TIMEOUT_MS / 1000);
        session.Show(timeline, time);
        session.WaitShown(SETTLE_TIMEOUT_MS);
    }
    return result;
}

int RunSpeed(Options const& options)
{
    BenchSession session;
    long long const residentBefore = BenchMemory::ResidentKilobytes();
    QString error;
    Timeline* timeline = session.AddSource(options.files.first(), &error);
    if (!timeline)
    {
        return Fail(error);
    }
    Source const& source = *timeline->SourcePtr();
    Settings::playbackSpeedMaximum = 1e6f;

    ForwardFill const fill = MeasureForwardFill(session, timeline);
    if (!fill.sample)
    {
        return Fail("no frame was shown");
    }
    std::shared_ptr<VideoFrame> const& sample = fill.sample;
    QString const& format = fill.format;
    int const threads = fill.threads;
    PlaybackRate const& forward = fill.forward;
    QList<FfmpegReference::DecodeRate> const& references = fill.references;
    FfmpegReference::DecodeRate const& reference = fill.reference;
    double const ffmpeg = reference.FramesPerSecond();

    PlaybackRate const backward = MeasurePlayback(session, timeline, false);
    RealTimePlay const forwardPlay = MeasureRealTimePlay(session, timeline, true);
    RealTimePlay const backwardPlay = MeasureRealTimePlay(session, timeline, false);

    RandomSeeks const random = MeasureRandomSeeks(session, timeline, options.seed);
    QList<double> const& seeks = random.milliseconds;
    QList<int> const& seekFrames = random.frames;
    int const seeksNeverShown = random.neverShown;
    // The same targets again, uncached, from a frame parked on before each:
    // seeking at once, while the cache holds little, and seeking after the
    // cache has filled from the parked frame as far as it goes, as a
    // reviewer's seeks find it (the seek then lets a full cache go).
    QList<double> quickSeeks;
    QList<double> settledSeeks;
    for (int frame : std::as_const(seekFrames))
    {
        long long const time = timeline->TimeAtFrame(frame, false);
        auto const park = [&](int parked, bool settle) {
            if (!session.Seek(timeline->TimeAtFrame(parked, false), SEEK_TIMEOUT_MS))
            {
                return false;
            }
            if (settle)
            {
                WaitCacheSettled(timeline);
            }
            return !timeline->VideoCacheCoversTime(time);
        };
        int parked = 0;
        if (!park(parked, true))
        {
            // Off the cached range first, so that the parked frame's cache
            // starts afresh; far enough past the target that the frames a
            // seek keeps before its own do not reach back to it.
            parked = frame + Settings::numLeadingVideoFramesKeptOnSeek + 2;
            if (parked > timeline->EndFrame() || !park(timeline->EndFrame(), false) || !park(parked, true))
            {
                continue;
            }
        }
        QElapsedTimer timer;
        timer.start();
        if (session.Seek(time, SEEK_TIMEOUT_MS))
        {
            settledSeeks << timer.nsecsElapsed() / 1e6;
        }
        if (park(parked, false))
        {
            timer.start();
            if (session.Seek(time, SEEK_TIMEOUT_MS))
            {
                quickSeeks << timer.nsecsElapsed() / 1e6;
            }
        }
    }
    session.Close();
    // Picture memory stays a while after decoding stops, for the next clip;
    // what is left once it went back is what closing keeps.
    BenchSession::WaitFor(
        [] {
            return PictureArena::Instance().RetainedBytes() == 0 && VideoFrameBufferPool::Shared()->IdleBytes() == 0;
        },
        AvManager::IDLE_MEMORY_RELEASE_MS + RELEASE_SLACK_MS);
    long long const residentAfterClose = BenchMemory::ResidentKilobytes();
    long long const peak = BenchMemory::PeakKilobytes();

    QList<int> const keyFrames = FfmpegReference::KeyFrames(source, timeline->FrameCount());
    int const gop = FfmpegReference::LongestGop(keyFrames, timeline->FrameCount());

    std::printf("%s: %dx%d %s, %d frames at %.3f fps, longest GOP %d\n", qPrintable(source.MediaName()),
                BenchPicture::Width(*sample), BenchPicture::Height(*sample), qPrintable(format),
                timeline->FrameCount(), timeline->FrameRateAtFrame(0, 0), gop);
    std::printf("  ffmpeg decode     %8.1f fps  (median of %d: %d frames in %.3f s; %s)\n", ffmpeg,
                static_cast<int>(references.size()), reference.frames, reference.seconds,
                qPrintable(reference.command));
    QByteArray const fillAim = ">= 0.90, median of " + QByteArray::number(RATE_REPEATS) + " fills";
    PrintPlayback("forward playback", forward, ffmpeg, fillAim.constData());
    QByteArray const backwardAim = ">= 0.50 of forward playback, here " +
                                   QByteArray::number(Ratio(backward.framesPerSecond, forward.framesPerSecond), 'f', 2);
    PrintPlayback("backward playback", backward, ffmpeg, backwardAim.constData());
    double const frameMs = timeline->FrameStepAtFrame(0) / 1000.0;
    PrintRealTimePlay("forward", forwardPlay, frameMs);
    PrintRealTimePlay("backward", backwardPlay, frameMs);
    std::printf("  seek (%d random)  median %.1f ms, p95 %.1f ms", SEEK_COUNT, Median(seeks), Percentile95(seeks));
    if (gop <= 1)
    {
        // Intra pictures: against one picture decoded and converted alone,
        // its decoder's threads splitting it.
        double const oneFrameMs =
            Ratio(1000.0, FfmpegReference::MeasureDecodeRate(source, format, threads, true).FramesPerSecond());
        std::printf("; one frame by ffmpeg %.1f ms, ratio median %.2f  (aim <= 3)", oneFrameMs,
                    Ratio(Median(seeks), oneFrameMs));
    }
    else
    {
        // Against ffmpeg decoding the GOP up to each target.
        QList<double> gopMs;
        for (int frame : seekFrames)
        {
            auto const after = std::upper_bound(keyFrames.begin(), keyFrames.end(), frame);
            int const key = after == keyFrames.begin() ? 0 : *(after - 1);
            gopMs << Ratio(frame - key + 1, ffmpeg) * 1000.0;
        }
        std::printf("; GOP up to the target by ffmpeg median %.1f ms, ratio median %.2f  (aim <= 1.1)",
                    Median(gopMs), Ratio(Median(seeks), Median(gopMs)));
    }
    std::printf(seeksNeverShown > 0 ? "  FAULT: %d never shown\n" : "\n", seeksNeverShown);
    std::printf("  seek, uncached    median %.1f ms with little cached, %.1f ms with a full cache  (%d of the "
                "targets, from a parked frame; aim: within one frame of each other)\n",
                Median(quickSeeks), Median(settledSeeks), static_cast<int>(settledSeeks.size()));
    std::printf("  peak memory       %8.0f MB  cacheSize %d MB, above it %.0f MB  (aim <= 100)\n", peak / 1024.0,
                Settings::cacheSize, peak / 1024.0 - Settings::cacheSize);
    std::printf("  resident          %8.0f MB  before opening, %.0f MB after closing, %+.0f MB  (aim <= 100)\n",
                residentBefore / 1024.0, residentAfterClose / 1024.0, (residentAfterClose - residentBefore) / 1024.0);
    bool const played = forward.framesPerSecond > 0.0 && backward.framesPerSecond > 0.0;
    bool const playedInRealTime = forwardPlay.reachedEnd && backwardPlay.reachedEnd;
    return played && playedInRealTime && forward.endShown && backward.endShown && seeksNeverShown == 0 ? 0 : 1;
}

// The peak of the fills over the cache size, and what it was made of.
void PrintFillMemory(long long peak, long long residentBefore, BenchMemory::PeakSampler const& sampler)
{
    std::vector<long long> const parts = sampler.PartsAtPeak();
    double const megabyte = 1024.0 * 1024.0;
    std::printf("  peak memory       %8.0f MB  cacheSize %d MB, above it %.0f MB  (aim <= 100; %.0f MB before "
                "opening)\n",
                peak / 1024.0, Settings::cacheSize, peak / 1024.0 - Settings::cacheSize, residentBefore / 1024.0);
    if (parts.size() == 5)
    {
        std::printf("  at the peak       %8.0f MB sampled: cache %.0f MB, picture memory in use %.0f MB (the "
                    "decoder's pictures %.0f MB, idle in the pool %.0f MB), freed and kept %.0f MB\n",
                    sampler.PeakKilobytes() / 1024.0, parts[0] / megabyte, parts[1] / megabyte, parts[4] / megabyte,
                    parts[2] / megabyte, parts[3] / megabyte);
    }
}

// The forward fill of speed alone, with the same lines.
int RunFill(Options const& options)
{
    BenchSession session;
    QString error;
    Timeline* timeline = session.AddSource(options.files.first(), &error);
    if (!timeline)
    {
        return Fail(error);
    }
    Settings::playbackSpeedMaximum = 1e6f;
    long long const residentBefore = BenchMemory::ResidentKilobytes();
    // What the peak is made of: the pictures the cache holds, and picture
    // memory in use (cached, in the decoder, idle in the pool) or freed and
    // kept for the next pictures.
    BenchMemory::PeakSampler sampler({
        [timeline] { return timeline->VideoCacheSize(); },
        [] { return static_cast<long long>(PictureArena::Instance().UsedBytes()); },
        [] { return VideoFrameBufferPool::Shared()->IdleBytes(); },
        [] { return static_cast<long long>(PictureArena::Instance().RetainedBytes()); },
        [] { return VideoFrameBufferPool::DecoderBufferBytes(); },
    });
    ForwardFill const fill = MeasureForwardFill(session, timeline);
    if (!fill.sample)
    {
        return Fail("no frame was shown");
    }
    // Back to the start from the end of the last fill, the output open
    // (unless the cache holds the whole file: nothing is decoded again).
    bool const wholeFileCached = timeline->VideoCacheCoversTime(timeline->PlaybackRangeStart()) &&
                                 timeline->VideoCacheCoversTime(timeline->PlaybackRangeEnd());
    QList<double> refills;
    for (int i = 0; i < RATE_REPEATS && !wholeFileCached; ++i)
    {
        refills << MeasurePlayback(session, timeline, true, false).framesPerSecond;
    }
    sampler.Stop();
    long long const peak = BenchMemory::PeakKilobytes();
    session.Close();
    double const ffmpeg = fill.reference.FramesPerSecond();
    std::printf("%s: %dx%d %s, %d frames, cacheSize %d MB\n", qPrintable(timeline->SourcePtr()->MediaName()),
                BenchPicture::Width(*fill.sample), BenchPicture::Height(*fill.sample), qPrintable(fill.format),
                timeline->FrameCount(), Settings::cacheSize);
    std::printf("  ffmpeg decode     %8.1f fps  (median of %d: %d frames in %.3f s; %s)\n", ffmpeg,
                static_cast<int>(fill.references.size()), fill.reference.frames, fill.reference.seconds,
                qPrintable(fill.reference.command));
    QByteArray const fillAim = ">= 0.90, median of " + QByteArray::number(RATE_REPEATS) + " fills";
    PrintPlayback("forward playback", fill.forward, ffmpeg, fillAim.constData());
    // The same work in processor time, which the machine's load moves less:
    // ffmpeg's per frame over ours (its median run against our median fill).
    QList<double> ffmpegCpu;
    for (FfmpegReference::DecodeRate const& reference : fill.references)
    {
        ffmpegCpu << reference.CpuMillisecondsPerFrame();
    }
    std::printf("  processor time    %8.1f ms a frame, ffmpeg %.1f ms, ratio to ffmpeg %.2f  (aim >= 0.90)\n",
                fill.forward.cpuMillisecondsPerFrame, Median(ffmpegCpu),
                Ratio(Median(ffmpegCpu), fill.forward.cpuMillisecondsPerFrame));
    PrintFillMemory(peak, residentBefore, sampler);
    bool const everyRefillPlayed =
        std::all_of(refills.cbegin(), refills.cend(), [](double fps) { return fps > 0.0; });
    if (wholeFileCached)
    {
        std::printf("  refill after seek  (the cache holds the whole file)\n");
        return fill.forward.framesPerSecond > 0.0 && fill.forward.endShown ? 0 : 1;
    }
    std::printf("  refill after seek %8.1f fps  ratio to ffmpeg %.2f  (median of %d, from the end back to the start "
                "with the output open)\n",
                everyRefillPlayed ? Median(refills) : 0.0, Ratio(everyRefillPlayed ? Median(refills) : 0.0, ffmpeg),
                static_cast<int>(refills.size()));
    return fill.forward.framesPerSecond > 0.0 && fill.forward.endShown && everyRefillPlayed ? 0 : 1;
}

// The backward fill against the forward ceiling: the higher of ffmpeg
// decoding the same stream forward into the same format and the engine's
// forward fill. The three alternate, the medians are compared.
int RunBackwardFill(Options const& options)
{
    BenchSession session;
    QString error;
    Timeline* timeline = session.AddSource(options.files.first(), &error);
    if (!timeline)
    {
        return Fail(error);
    }
    Settings::playbackSpeedMaximum = 1e6f;
    Source const& source = *timeline->SourcePtr();
    QList<double> forwards;
    QList<double> backwards;
    QList<FfmpegReference::DecodeRate> references;
    std::shared_ptr<VideoFrame> sample;
    bool endsShown = true;
    for (int i = 0; i < RATE_REPEATS; ++i)
    {
        PlaybackRate const forward = MeasurePlayback(session, timeline, true);
        sample = sample ? sample : session.Viewer().Shown();
        PlaybackRate const backward = MeasurePlayback(session, timeline, false);
        if (!sample)
        {
            return Fail("no frame was shown");
        }
        forwards << forward.framesPerSecond;
        backwards << backward.framesPerSecond;
        endsShown = endsShown && forward.endShown && backward.endShown;
        references << FfmpegReference::MeasureDecodeRate(source, BenchPicture::FormatName(sample->pixelFormat),
                                                          Settings::videoDecoderThreadCount);
    }
    session.Close();
    std::sort(references.begin(), references.end(),
              [](auto const& a, auto const& b) { return a.FramesPerSecond() < b.FramesPerSecond(); });
    FfmpegReference::DecodeRate const& reference = references.at(references.size() / 2);
    double const ffmpeg = reference.FramesPerSecond();
    bool const everyFillPlayed = std::all_of(forwards.cbegin(), forwards.cend(), [](double fps) { return fps > 0.0; }) &&
                                 std::all_of(backwards.cbegin(), backwards.cend(), [](double fps) { return fps > 0.0; });
    double const forward = everyFillPlayed ? Median(forwards) : 0.0;
    double const backward = everyFillPlayed ? Median(backwards) : 0.0;
    double const ceiling = std::max(ffmpeg, forward);
    std::printf("%s: %dx%d %s, %d frames, cacheSize %d MB, decoder threads %d (0: automatic), %d usable cores\n",
                qPrintable(source.MediaName()), BenchPicture::Width(*sample), BenchPicture::Height(*sample),
                qPrintable(BenchPicture::FormatName(sample->pixelFormat)), timeline->FrameCount(), Settings::cacheSize,
                Settings::videoDecoderThreadCount, DecoderThreads::UsableCores());
    std::printf("  ffmpeg decode     %8.1f fps  (median of %d: %d frames in %.3f s; %s)\n", ffmpeg,
                static_cast<int>(references.size()), reference.frames, reference.seconds,
                qPrintable(reference.command));
    std::printf("  forward fill      %8.1f fps  ratio to ffmpeg %.2f  (median of %d)\n", forward,
                Ratio(forward, ffmpeg), static_cast<int>(forwards.size()));
    std::printf("  backward fill     %8.1f fps  ratio to the forward ceiling %.2f  (aim >= 0.80; ceiling %.1f fps, "
                "the higher of the two above; median of %d)%s\n",
                backward, Ratio(backward, ceiling), ceiling, static_cast<int>(backwards.size()),
                endsShown ? "" : "  FAULT: the clock stopped at the range end, whose frame never came");
    return forward > 0.0 && backward > 0.0 && endsShown ? 0 : 1;
}

// The random seeks of speed alone: median and p95.
int RunSeek(Options const& options)
{
    BenchSession session;
    QString error;
    Timeline* timeline = session.AddSource(options.files.first(), &error);
    if (!timeline)
    {
        return Fail(error);
    }
    RandomSeeks const seeks = MeasureRandomSeeks(session, timeline, options.seed, options.seeks);
    session.Close();
    for (int i = 0; i < seeks.frames.size() && !options.seeks.isEmpty(); ++i)
    {
        std::printf("# seek %d %.1f\n", seeks.frames.at(i), seeks.milliseconds.at(i));
    }
    std::printf("%s: %d frames; seek (%d %s) median %.1f ms, p95 %.1f ms%s\n",
                qPrintable(timeline->SourcePtr()->MediaName()), timeline->FrameCount(),
                static_cast<int>(seeks.frames.size()) + seeks.neverShown, options.seeks.isEmpty() ? "random" : "given",
                Median(seeks.milliseconds), Percentile95(seeks.milliseconds),
                seeks.neverShown > 0 ? qPrintable(QStringLiteral("  FAULT: %1 never shown").arg(seeks.neverShown))
                                     : "");
    return seeks.neverShown == 0 ? 0 : 1;
}

// Milliseconds since the process started: since the launcher's
// CLOCK_MONOTONIC reading in TESSARIN_BENCH_LAUNCH_NS when given (taken just
// before it started the process), else since the kernel's start time of the
// process, which counts in clock ticks (10 ms).
double MillisecondsSinceProcessStart()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    double const nowMs = now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    bool given = false;
    long long const launch = qEnvironmentVariable("TESSARIN_BENCH_LAUNCH_NS").toLongLong(&given);
    if (given)
    {
        return nowMs - launch / 1e6;
    }
    timespec boot {};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    QFile stat("/proc/self/stat");
    if (!stat.open(QIODevice::ReadOnly))
    {
        return -1.0;
    }
    // Field 22, counted after the command name's closing parenthesis.
    QByteArray const line = stat.readAll();
    QList<QByteArray> const fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    double const startMs = fields.value(19).toLongLong() * 1e3 / sysconf(_SC_CLK_TCK);
    return boot.tv_sec * 1e3 + boot.tv_nsec / 1e6 - startMs;
}

int RunOpen(Options const& options)
{
    BenchSession session;
    QString error;
    Timeline* timeline = session.AddSource(options.files.first(), &error);
    if (!timeline)
    {
        return Fail(error);
    }
    double const parsedMs = MillisecondsSinceProcessStart();
    session.Show(timeline, 0);
    if (!session.WaitShown(SETTLE_TIMEOUT_MS))
    {
        return Fail("the first frame was not shown");
    }
    double const shownMs = MillisecondsSinceProcessStart();
    std::printf("%s: %d frames; from process start: parsed %.1f ms, first picture %.1f ms\n",
                qPrintable(timeline->SourcePtr()->MediaName()), timeline->FrameCount(), parsedMs, shownMs);
    std::fflush(stdout);
    return 0;
}

int RunLoop(Options const& options)
{
    BenchSession session;
    QString error;
    Timeline* timeline = session.AddSource(options.files.first(), &error);
    if (!timeline)
    {
        return Fail(error);
    }
    return RunLoopBench(session, timeline, options.rangeFirst, options.rangeLast, options.from, options.loops,
                        options.park, options.printFrames);
}

int RunSound(Options const& options)
{
    BenchSession session;
    QString error;
    Timeline* timeline = session.AddSource(options.files.first(), &error);
    if (!timeline)
    {
        return Fail(error);
    }
    return RunSoundBench(session, timeline, options.rangeFirst, options.rangeLast, options.speed, options.seconds);
}

int RunSoak(Options const& options)
{
    BenchSession session;
    QList<Timeline*> timelines;
    for (QString const& file : options.files)
    {
        QString error;
        Timeline* timeline = session.AddSource(file, &error);
        if (timeline)
        {
            timelines << timeline;
        }
        else
        {
            std::fprintf(stderr, "tessarin_bench: skipped: %s\n", qPrintable(error));
        }
    }
    if (timelines.isEmpty())
    {
        return Fail("nothing to soak");
    }
    return BenchSoak(session, timelines, options.seed).Run(options.seconds) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    Options options;
    QString error;
    if (!ParseOptions(application, options, error))
    {
        return Fail(error);
    }
    ForwardEngineMessages();
    if (options.mode == "frames")
    {
        return RunFrames(options);
    }
    if (options.mode == "speed")
    {
        return RunSpeed(options);
    }
    if (options.mode == "open")
    {
        return RunOpen(options);
    }
    if (options.mode == "fill")
    {
        return RunFill(options);
    }
    if (options.mode == "backfill")
    {
        return RunBackwardFill(options);
    }
    if (options.mode == "seek")
    {
        return RunSeek(options);
    }
    if (options.mode == "loop")
    {
        return RunLoop(options);
    }
    if (options.mode == "sound")
    {
        return RunSound(options);
    }
    if (options.mode == "export")
    {
        BenchSession session;
        return RunExportBench(session, options.seconds);
    }
    return RunSoak(options);
}
