// TESSARIN_TEST: own-home
// Exports of generated timelines through the real engine and the real
// ffmpeg, checked with ffprobe, ffmpeg's psnr filter and the frame numbers
// the numbered media carry in their pictures.

#include "EngineTestRig.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "media/ExportManager.h"
#include "media/export/ExportJournal.h"
#include "media/ExportProperties.h"
#include "media/export/ExportRecovery.h"
#include "media/export/ExportTargetLock.h"
#include "media/export/FileIdentity.h"
#include "media/export/ProcessIdentity.h"
#include "support/DecoderThreadCounts.h"
#include "support/FourKMedia.h"
#include "support/TimingBounds.h"
#include "support/LoggedMessages.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <functional>
#include <memory>
#include <thread>

#include <cerrno>
#include <csignal>
#include <sys/inotify.h>
#include <unistd.h>

using namespace EngineTestRig;

namespace
{

struct ExportRun
{
    bool failed = false;
    bool cancelled = false;
    QString preparationError;
    QString cleanupError;
    QString cleanupSummary;
    QStringList lines;  // every log line, errors prefixed "[ERROR] "
    QStringList errors; // error lines only
};

QString RunProgram(QString const& program, QStringList const& args, QString* errorText = nullptr)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(60000);
    if (errorText)
    {
        *errorText = QString::fromUtf8(process.readAllStandardError());
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

// ffprobe's view of the streams, with decoded frame counts.
QJsonObject Stream(QString const& path, QString const& type)
{
    QString const json = RunProgram("ffprobe", {"-v", "error", "-count_frames", "-show_streams", "-of", "json", path});
    for (QJsonValue const& stream : QJsonDocument::fromJson(json.toUtf8()).object().value("streams").toArray())
    {
        if (stream.toObject().value("codec_type").toString() == type)
        {
            return stream.toObject();
        }
    }
    return {};
}

double Rate(QString const& fraction)
{
    QStringList const parts = fraction.split('/');
    return parts.size() == 2 && parts[1].toDouble() > 0 ? parts[0].toDouble() / parts[1].toDouble() : 0.0;
}

// Average PSNR of the output against the first frames of the reference.
double Psnr(QString const& output, QString const& reference, int frames)
{
    QString log;
    RunProgram("ffmpeg", {"-nostdin", "-hide_banner", "-i", output, "-i", reference, "-filter_complex",
                          QString("[1:v]trim=end_frame=%1,setpts=PTS-STARTPTS[r];[0:v]setpts=PTS-STARTPTS[o];[o][r]psnr")
                              .arg(frames),
                          "-f", "null", "-"},
               &log);
    QRegularExpressionMatch const match = QRegularExpression("average:([0-9.]+|inf)").match(log);
    if (!match.hasMatch())
    {
        qWarning("%s", qPrintable(log.right(1000)));
        return 0.0;
    }
    return match.captured(1) == "inf" ? 1000.0 : match.captured(1).toDouble();
}

// The number drawn into a numbered picture (16 blocks of 20 pixels along the top).
int PictureNumber(QImage const& image)
{
    if (image.width() < 320 || image.height() < 32)
    {
        return -2;
    }
    int number = 0;
    for (int bit = 0; bit < 16; ++bit)
    {
        if (qGray(image.pixel(bit * 20 + 10, 16)) > 128)
        {
            number |= 1 << bit;
        }
    }
    return number;
}

void WriteText(QString const& path, QByteArray const& text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QByteArray ReadText(QString const& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A stand-in for ffmpeg that runs the real one; `extra` is shell run after it.
QString WrappedFfmpeg(QString const& path, QByteArray const& extra)
{
    QString const real = QStandardPaths::findExecutable("ffmpeg");
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
    {
        return {};
    }
    script.write("#!/bin/sh\n'" + real.toUtf8() + "' \"$@\"\nrc=$?\n" + extra + "\nexit $rc\n");
    script.close();
    script.setPermissions(script.permissions() | QFile::ExeOwner);
    return path;
}

QStringList FilesIn(QString const& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList EntriesIn(QString const& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The user's frames `name`.0000.png ... with the text "mine <number>".
void WriteUsersFrames(QString const& folder, QString const& name, int count)
{
    QVERIFY(QDir().mkpath(folder));
    for (int number = 0; number < count; ++number)
    {
        WriteText(QString("%1/%2.%3.png").arg(folder, name).arg(number, 4, 10, QChar('0')),
                  "mine " + QByteArray::number(number));
    }
}

void VerifyUsersFrames(QString const& folder, QString const& name, int count)
{
    for (int number = 0; number < count; ++number)
    {
        QString const path = QString("%1/%2.%3.png").arg(folder, name).arg(number, 4, 10, QChar('0'));
        QCOMPARE(ReadText(path), "mine " + QByteArray::number(number));
    }
}

// A small file system of its own at `path` for as long as it lives; only
// root may mount one.
class SmallDrive
{
public:
    SmallDrive(QString const& path, QString const& size)
        : mPath(path)
    {
        QDir().mkpath(path);
        mMounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", path}) == 0;
    }
    ~SmallDrive()
    {
        if (mMounted)
        {
            QProcess::execute("umount", {mPath});
        }
    }
    bool IsMounted() const
    {
        return mMounted;
    }

private:
    QString mPath;
    bool mMounted = false;
};


// What another program does when it writes a file: a new file renamed over the old one.
void ReplaceText(QString const& path, QByteArray const& text)
{
    WriteText(path + ".new", text);
    QVERIFY(QFile::remove(path) || !QFileInfo::exists(path));
    QVERIFY(QFile::rename(path + ".new", path));
}

// The lock file's text with the line "key=..." given another value.
QByteArray WithLockField(QByteArray const& lock, QByteArray const& key, QByteArray const& value)
{
    QList<QByteArray> lines = lock.split('\n');
    for (QByteArray& line : lines)
    {
        if (line.startsWith(key + "="))
        {
            line = key + "=" + value;
        }
    }
    return lines.join('\n');
}

// An export of the timeline as PNG images out.####.png into folder, at 320x240.
ExportProperties PngSequenceRequest(Timeline* timeline, QString const& folder)
{
    ExportProperties request;
    request.timeline = timeline;
    request.outputFilePath = folder + "/out.####.png";
    request.width = 320;
    request.height = 240;
    request.imageSequence = true;
    request.imageDirPath = folder;
    request.imageBaseName = "out";
    request.imageExtension = "png";
    return request;
}

char const* const KILLED_EXPORT_CHILD = "--export-killed-mid-move";
int const KILLED_AFTER_SET_ASIDE = 100;

// The child process of AnExportKilledMidMoveIsUndoneLater: a forced export of
// 300 frames over the user's 300 in `folder` that kills itself with SIGKILL
// once 100 of them were moved away from their places, as a kill -9 from
// outside would.
int RunKilledExport(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QString const folder = QString::fromLocal8Bit(argv[2]);
    Settings::tempDirPath = QString::fromLocal8Bit(argv[3]);
    Settings::ffmpegExePath.clear();
    AvManager av;
    std::unique_ptr<Timeline> const timeline = SourceTimeline("numbered_gop250.mp4");
    ExportProperties request = PngSequenceRequest(timeline.get(), folder);
    request.overwriteExisting = true;
    if (!ExportManager::PreExportInitialization(&request).isEmpty())
    {
        return 2;
    }
    // Told of every rename out of the folder, in order.
    int const changes = ::inotify_init1(IN_CLOEXEC);
    if (changes < 0 || ::inotify_add_watch(changes, QFile::encodeName(folder).constData(), IN_MOVED_FROM) < 0)
    {
        return 3;
    }
    std::thread watcher([changes] {
        alignas(inotify_event) char events[64 * 1024];
        int movedAway = 0;
        ssize_t size = 0;
        while ((size = ::read(changes, events, sizeof events)) > 0)
        {
            for (ssize_t at = 0; at < size;)
            {
                auto const* event = reinterpret_cast<inotify_event const*>(events + at);
                movedAway += event->len > 0 && QByteArray(event->name).startsWith("out.") ? 1 : 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            if (movedAway >= KILLED_AFTER_SET_ASIDE)
            {
                ::kill(::getpid(), SIGKILL);
            }
        }
    });
    watcher.detach();
    request.videoExporting = true;
    std::unique_ptr<Timeline> const copy(timeline->DuplicateForExport());
    {
        ExportManager video;
        video.ExportVideo(copy.get(), &request);
    }
    if (request.failed)
    {
        return 4; // never got to the move
    }
    // The watcher has every rename in its queue by now and ends the
    // process; this one never cleans up.
    for (;;)
    {
        ::pause();
    }
}

char const* const KILLED_RENDERING_CHILD = "--export-killed-while-rendering";

// The child process of AnExportKilledWhileRenderingLeavesNothingAfterTheNextStart:
// an image sequence into `folder` that kills itself with SIGKILL once ffmpeg
// has written its first picture into the export's temporary folder, before
// anything is moved to the output.
int RunExportKilledWhileRendering(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QString const folder = QString::fromLocal8Bit(argv[2]);
    Settings::tempDirPath = QString::fromLocal8Bit(argv[3]);
    Settings::ffmpegExePath = QString::fromLocal8Bit(argv[4]);
    AvManager av;
    std::unique_ptr<Timeline> const timeline = SourceTimeline("numbered_gop250.mp4");
    ExportProperties request = PngSequenceRequest(timeline.get(), folder);
    if (!ExportManager::PreExportInitialization(&request).isEmpty())
    {
        return 2;
    }
    int const changes = ::inotify_init1(IN_CLOEXEC);
    if (changes < 0 ||
        ::inotify_add_watch(changes, QFile::encodeName(request.tempDirPath).constData(), IN_CLOSE_WRITE) < 0)
    {
        return 3;
    }
    std::thread watcher([changes] {
        alignas(inotify_event) char events[64 * 1024];
        ssize_t size = 0;
        while ((size = ::read(changes, events, sizeof events)) > 0)
        {
            for (ssize_t at = 0; at < size;)
            {
                auto const* event = reinterpret_cast<inotify_event const*>(events + at);
                if (event->len > 0 && QByteArray(event->name).endsWith(".png"))
                {
                    ::kill(::getpid(), SIGKILL);
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    });
    watcher.detach();
    request.videoExporting = true;
    std::unique_ptr<Timeline> const copy(timeline->DuplicateForExport());
    {
        ExportManager video;
        video.ExportVideo(copy.get(), &request);
    }
    return 4; // never killed
}

// A journal as an export writes it, with the lines given after its head.
QByteArray JournalText(ProcessIdentity const& owner, QString const& exportName, QString const& tempDirPath,
                       QString const& lockPath, QList<QByteArray> const& steps)
{
    QByteArray text = "owner\t" + QByteArray::number(owner.pid) + "\t" + QByteArray::number(owner.startTicks) +
                      "\t" + QUrl::toPercentEncoding(QString::fromUtf8(owner.bootId)) + "\t" +
                      QUrl::toPercentEncoding(QString::fromUtf8(owner.host)) + "\n";
    text += "export\t" + QUrl::toPercentEncoding(exportName) + "\t" + QUrl::toPercentEncoding(tempDirPath) + "\t" +
            QUrl::toPercentEncoding(lockPath) + "\n";
    for (QByteArray const& step : steps)
    {
        text += step + "\n";
    }
    return text;
}

QByteArray JournalStep(QByteArray const& kind, QString const& path, FileIdentity const& identity)
{
    return kind + "\t" + QUrl::toPercentEncoding(path) + "\t" + identity.ToText();
}

// A lock as an export leaves it beside its output.
QByteArray LockText(ProcessIdentity const& holder, QString const& journalPath)
{
    return holder.ToText() + "journal=" + QUrl::toPercentEncoding(journalPath) + "\nlock=1\n";
}

// Every entry of a folder with what it holds.
QMap<QString, QByteArray> FolderContents(QString const& folder)
{
    QMap<QString, QByteArray> contents;
    for (QString const& name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
    {
        contents.insert(name, ReadText(QDir(folder).filePath(name)));
    }
    return contents;
}

// This process as it would be named after a restart: gone.
ProcessIdentity GoneProcess()
{
    ProcessIdentity gone = ProcessIdentity::Current();
    gone.bootId = "00000000-0000-0000-0000-000000000000";
    return gone;
}

} // namespace

class TestExportManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void VideoCarriesH264AndAacMatchingTheSource_data();
    void VideoCarriesH264AndAacMatchingTheSource();
    void LinearStillIsExportedThroughTheDisplayCurve_data();
    void LinearStillIsExportedThroughTheDisplayCurve();
    void SizeChangesMakeSegmentsJoinedIntoOneFileAtOddPaths();
    void ImageSequencesAreNamedAndNumberedByNumberingType_data();
    void ImageSequencesAreNamedAndNumberedByNumberingType();
    void FourKExportsAtEveryDecoderThreadCount_data();
    void FourKExportsAtEveryDecoderThreadCount();
    void WavKeepsEverySampleOfTheRange();
    void PreparationRefusesBadRequestsAndLeavesNothing();
    void FailuresOfTheEncoderAreReportedAsFailures();
    void CancelStopsFfmpegAndLeavesNothingBehind_data();
    void CancelStopsFfmpegAndLeavesNothingBehind();
    void MergeWaitsForTheSideThatCompletesLast();
    void ViewerCapturesOfAnotherSizeAreFittedIntoTheFirst();
    void ImageSequencesNeverWriteOverOrRemoveTheUsersFrames();
    void AFailedMergeLeavesTheExistingOutputAsItWas();
    void AForcedSequenceFailingHalfWayPutsBackTheUsersFrames();
    void AFullDriveOnAnotherFileSystemKeepsEveryFileAndLeavesNoPart();
    void ASecondExportIntoTheSameOutputIsRefusedWhileTheFirstRuns();
    void ALockIsStaleOnlyWhenItsProcessIsGone();
    void CleanUpLeavesFilesAnotherWroteSinceAsTheyAre();
    void AnExportKilledMidMoveIsUndoneLater_data();
    void AnExportKilledMidMoveIsUndoneLater();
    void AnExportKilledWhileRenderingLeavesNothingAfterTheNextStart();
    void AJournalActsOnlyInItsOutputAndTemporaryFolders();
    void AnOversizedJournalIsRefused();
    void APlantedJournalChangesNothingWhereItsLockIsNot_data();
    void APlantedJournalChangesNothingWhereItsLockIsNot();

private:
    ExportRun Run(ExportProperties& request, std::function<void(ExportProperties&)> const& whileRunning = {},
                  std::function<void(ExportProperties&)> const& beforeCleanup = {});
    ExportProperties Request(Timeline* timeline, QString const& outputFilePath, int width = 320, int height = 240);
    // An image sequence base.####.extension in folder.
    ExportProperties SequenceRequest(Timeline* timeline, QString const& folder, QString const& baseName,
                                     QString const& extension = QStringLiteral("png"));

    std::unique_ptr<QTemporaryDir> mDir;
    std::unique_ptr<AvManager> mAv;
    std::unique_ptr<Timeline> mGop250;   // H.264 + AAC, 23.976 fps, frames 0-47
    std::unique_ptr<Timeline> mNumbered; // numbered pictures, 25 fps, frames 10-19
    std::unique_ptr<Timeline> mLong;     // numbered pictures, 25 fps, all 300 frames
    std::unique_ptr<Timeline> mCfr25;
    std::unique_ptr<Timeline> mOdd;
    std::unique_ptr<Timeline> mTone;
    std::unique_ptr<Timeline> mGopSource;
    // 320x240, 333x241 and 320x240 again with sound in the last clip only.
    std::unique_ptr<Timeline> mMixed;
};

void TestExportManager::initTestCase()
{
    mDir = std::make_unique<QTemporaryDir>();
    QVERIFY(mDir->isValid());
    mAv = std::make_unique<AvManager>();
    mGop250 = SourceTimeline("h264_gop250.mp4");
    Cut(mGop250.get(), 0, 47);
    mNumbered = SourceTimeline("numbered_gop250.mp4");
    Cut(mNumbered.get(), 10, 19);
    mLong = SourceTimeline("numbered_gop250.mp4");
    mCfr25 = SourceTimeline("h264_cfr25.mp4");
    Cut(mCfr25.get(), 0, 9);
    mOdd = SourceTimeline("numbered_odd_333x241.mkv");
    Cut(mOdd.get(), 0, 9);
    mGopSource = SourceTimeline("h264_gop250.mp4");
    Cut(mGopSource.get(), 0, 9);
    mTone = SourceTimeline("tone.wav");
    Cut(mTone.get(), 0, 49);
    mMixed = EditTimeline({mCfr25.get(), mOdd.get(), mGopSource.get()});
    QCOMPARE(mGop250->PlaybackRangeEndFrame() - mGop250->PlaybackRangeStartFrame() + 1, 48);
    QCOMPARE(mMixed->FrameCount(), 30);
    QCOMPARE(mLong->FrameCount(), 300);
}

void TestExportManager::init()
{
    Settings::ffmpegExePath.clear(); // the one on the PATH
    Settings::tempDirPath = mDir->filePath("temp");
    Settings::h264Preset = 4;
}

void TestExportManager::cleanupTestCase()
{
    mAv.reset();
}

ExportProperties TestExportManager::Request(Timeline* timeline, QString const& outputFilePath, int width, int height)
{
    ExportProperties request;
    request.timeline = timeline;
    request.outputFilePath = outputFilePath;
    request.width = width;
    request.height = height;
    request.h264Preset = Settings::h264Preset;
    return request;
}

ExportProperties TestExportManager::SequenceRequest(Timeline* timeline, QString const& folder,
                                                    QString const& baseName, QString const& extension)
{
    ExportProperties request = Request(timeline, folder + "/" + baseName + ".####." + extension);
    request.imageSequence = true;
    request.imageDirPath = folder;
    request.imageBaseName = baseName;
    request.imageExtension = extension;
    return request;
}

// What the monitor does with a request: prepare, run both tasks, clean up.
ExportRun TestExportManager::Run(ExportProperties& request, std::function<void(ExportProperties&)> const& whileRunning,
                                 std::function<void(ExportProperties&)> const& beforeCleanup)
{
    ExportRun run;
    run.preparationError = ExportManager::PreExportInitialization(&request);
    if (!run.preparationError.isEmpty())
    {
        run.failed = true;
        return run;
    }
    QMetaObject::Connection const log = connect(
        mAv.get(), &AvManager::ExportLogMsgReceived, this, [&run](QString const& message, ExportLoggingMsgType, bool error) {
            run.lines << (error ? "[ERROR] " + message : message);
            if (error)
            {
                run.errors << message;
            }
        });
    QSignalSpy ended(mAv.get(), &AvManager::ExportTasksEnded);
    mAv->StartTimelineExport(&request);
    bool const done = QTest::qWaitFor(
        [&] {
            if (whileRunning)
            {
                whileRunning(request);
            }
            return ended.count() > 0;
        },
        120000);
    QCoreApplication::processEvents(); // the last queued log lines
    disconnect(log);
    if (!done)
    {
        run.errors << "the export did not end";
        run.failed = true;
    }
    run.failed = run.failed || request.failed;
    run.cancelled = request.cancelled;
    if (beforeCleanup)
    {
        beforeCleanup(request);
    }
    run.cleanupError = ExportManager::PostExportCleanup(&request, &run.cleanupSummary);
    return run;
}

void TestExportManager::VideoCarriesH264AndAacMatchingTheSource_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("requestedWidth");
    QTest::addColumn<int>("requestedHeight");
    QTest::addRow("mp4") << "mp4" << 320 << 240;
    // An odd request is rounded to the even size 4:2:0 H.264 takes.
    QTest::addRow("mov, odd request") << "mov" << 321 << 241;
}

void TestExportManager::VideoCarriesH264AndAacMatchingTheSource()
{
    QFETCH(QString, format);
    QFETCH(int, requestedWidth);
    QFETCH(int, requestedHeight);
    QString const output = mDir->filePath("plain/out." + format);
    ExportProperties request = Request(mGop250.get(), output, requestedWidth, requestedHeight);
    ExportRun const run = Run(request);
    QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));
    QCOMPARE(run.cleanupError, QString());
    QVERIFY(!QFileInfo::exists(request.tempDirPath));
    // Every stage counted in full, so that the progress bar ends full.
    QCOMPARE(request.audioProgress.load(), 100.0f);
    QCOMPARE(request.videoProgress.load(), 100.0f);
    QCOMPARE(request.stageProgress.load(), 100.0f);
    QCOMPARE(request.finalProgress.load(), 100.0f);

    QJsonObject const video = Stream(output, "video");
    QCOMPARE(video.value("codec_name").toString(), QString("h264"));
    QCOMPARE(video.value("profile").toString(), QString("High"));
    QCOMPARE(video.value("pix_fmt").toString(), QString("yuv420p"));
    QCOMPARE(video.value("width").toInt(), 320);
    QCOMPARE(video.value("height").toInt(), 240);
    QCOMPARE(video.value("nb_read_frames").toString().toInt(), 48);
    QVERIFY(qAbs(Rate(video.value("r_frame_rate").toString()) - 24000.0 / 1001.0) < 0.001);

    QJsonObject const audio = Stream(output, "audio");
    QCOMPARE(audio.value("codec_name").toString(), QString("aac"));
    QCOMPARE(audio.value("sample_rate").toString(), QString("48000"));
    QCOMPARE(audio.value("channels").toInt(), 2);
    // 48 frames at 24000/1001 fps last 2002000 µs: 96096 samples.
    long long const expectedSamples = (mGop250->PlaybackRangeEnd() - mGop250->PlaybackRangeStart() + 1) * 48 / 1000;
    QCOMPARE(expectedSamples, 96096);
    QCOMPARE(audio.value("duration_ts").toInteger(), expectedSamples);

    double const psnr = Psnr(output, TestMedia::Path("h264_gop250.mp4"), 48);
    QVERIFY2(psnr > 35.0, qPrintable(QString::number(psnr)));
}

void TestExportManager::LinearStillIsExportedThroughTheDisplayCurve_data()
{
    QTest::addColumn<QString>("pattern");
    // EXR holds linear light though its decoder tags no transfer; this DPX
    // is tagged linear, though its extension says nothing.
    QTest::addRow("EXR") << "linear_patches/patches.####.exr 1-1";
    QTest::addRow("DPX") << "linear_patches/patches.####.dpx 1-1";
}

// An export shows a linear picture as the viewers do: through a 1/2.2 curve.
void TestExportManager::LinearStillIsExportedThroughTheDisplayCurve()
{
    QFETCH(QString, pattern);
    std::unique_ptr<Timeline> const still = SourceTimeline(pattern);
    QCOMPARE(still->FrameCount(), 1);
    QString const output = mDir->filePath(QStringLiteral("linear/%1.mp4").arg(QTest::currentDataTag()));
    ExportProperties request = Request(still.get(), output);
    ExportRun const run = Run(request);
    QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));

    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-nostdin", "-v", "error", "-i", output, "-frames:v", "1", "-f", "image2pipe", "-c:v", "png", "-"});
    QVERIFY(ffmpeg.waitForFinished(60000));
    QImage const picture = QImage::fromData(ffmpeg.readAllStandardOutput(), "PNG");
    QCOMPARE(picture.size(), QSize(320, 240));
    // The four flat patches clockwise from the top left, as linear levels.
    QList<QColor> const linear = {QColor(0x40, 0x40, 0x40), QColor(0x80, 0x20, 0x10), QColor(0xc0, 0xc0, 0xc0),
                                  QColor(0x10, 0xa0, 0x40)};
    QList<QPoint> const centres = {{80, 60}, {240, 60}, {240, 180}, {80, 180}};
    auto const curve = [](int level) { return int(std::lround(255.0 * std::pow(level / 255.0, 1.0 / 2.2))); };
    for (int patch = 0; patch < 4; ++patch)
    {
        QColor const got = picture.pixelColor(centres.at(patch));
        QColor const& level = linear.at(patch);
        QColor const expected(curve(level.red()), curve(level.green()), curve(level.blue()));
        // 4:2:0 H.264 in limited range is a few levels off.
        bool const near = std::abs(got.red() - expected.red()) <= 5 && std::abs(got.green() - expected.green()) <= 5 &&
                          std::abs(got.blue() - expected.blue()) <= 5;
        QVERIFY2(near, qPrintable(QStringLiteral("patch %1: (%2, %3, %4), expected (%5, %6, %7)")
                                      .arg(patch)
                                      .arg(got.red())
                                      .arg(got.green())
                                      .arg(got.blue())
                                      .arg(expected.red())
                                      .arg(expected.green())
                                      .arg(expected.blue())));
    }
}

void TestExportManager::SizeChangesMakeSegmentsJoinedIntoOneFileAtOddPaths()
{
    // Blanks, quotes, '%' and letters beyond ASCII in the temporary folder
    // (the join list names the segments there) and in the output path.
    Settings::tempDirPath = mDir->filePath("temp d'ir 100% ü");
    QString const output = mDir->filePath("out 'dir' 50% ñandú/it's 10%d.mp4");
    ExportProperties request = Request(mMixed.get(), output, 320, 240);
    ExportRun const run = Run(request);
    QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));
    QCOMPARE(request.intermediateFiles.size(), 3);
    QVERIFY(!QFileInfo::exists(request.tempDirPath));
    QVERIFY(run.lines.filter("-f concat").size() == 1);
    QJsonObject const video = Stream(output, "video");
    QCOMPARE(video.value("nb_read_frames").toString().toInt(), 30);
    QCOMPARE(video.value("width").toInt(), 320);
    QJsonObject const audio = Stream(output, "audio");
    QCOMPARE(audio.value("codec_name").toString(), QString("aac"));
    double const duration = audio.value("duration").toString().toDouble();
    QVERIFY2(qAbs(duration - (mMixed->EndTime() + 1) / 1e6) < 0.03, qPrintable(QString::number(duration)));
}

void TestExportManager::ImageSequencesAreNamedAndNumberedByNumberingType_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("numberingType");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("firstNumber");
    // The monitor's offsets: 1 for numbering type 1, the time-control frame
    // offset for type 2 (here 1000).
    QTest::addRow("png from 0") << "png" << 0 << 0 << 0;
    QTest::addRow("jpg from 1") << "jpg" << 1 << 1 << 1;
    QTest::addRow("png timeline frames") << "png" << 2 << 1000 << 1010;
}

void TestExportManager::ImageSequencesAreNamedAndNumberedByNumberingType()
{
    QFETCH(QString, extension);
    QFETCH(int, numberingType);
    QFETCH(int, offset);
    QFETCH(int, firstNumber);
    QString const folder = mDir->filePath(QString("seq %1 %2% é").arg(extension).arg(numberingType));
    ExportProperties request = SequenceRequest(mNumbered.get(), folder, "shot%03d", extension);
    request.imagePadding = 4;
    request.imageNumberingType = numberingType;
    request.imageNumberOffset = offset;
    ExportRun const run = Run(request);
    QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));
    QVERIFY(request.noAudio);

    QStringList expected;
    for (int i = 0; i < 10; ++i)
    {
        expected << QString("shot%03d.%1.%2").arg(firstNumber + i, 4, 10, QChar('0')).arg(extension);
    }
    QCOMPARE(FilesIn(folder), expected);
    for (int i = 0; i < 10; ++i)
    {
        QImage const picture(folder + "/" + expected.at(i));
        QCOMPARE(picture.size(), QSize(320, 240));
        if (extension == "png")
        {
            QCOMPARE(PictureNumber(picture), 10 + i);
        }
    }
}

void TestExportManager::FourKExportsAtEveryDecoderThreadCount_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<int>("threads");
    for (char const* media : FourKMedia())
    {
        for (int threads : DecoderThreadCounts::Each())
        {
            QTest::addRow("%s %d threads", media, threads) << QString::fromLatin1(media) << threads;
        }
    }
}

// 3840x2160 pictures at the default cache: the codec's own pictures leave the
// export's decoding room, whatever the threads; frames 46-53, across a GOP
// seam, come out as themselves. Not in the sanitizer builds: there the seek
// to frame 46 alone, 46 instrumented 4K decodes, can outlast the export's own
// 30-second wait for a frame on a loaded machine of two cores. They check the
// export's path on the smaller clips; the room left at 4K is this build's.
void TestExportManager::FourKExportsAtEveryDecoderThreadCount()
{
    if (TimingBounds::SANITIZED)
    {
        QSKIP("4K exports run in the optimised build");
    }
    QFETCH(QString, media);
    QFETCH(int, threads);
    int const setting = Settings::videoDecoderThreadCount;
    int const cacheSize = Settings::cacheSize;
    Settings::videoDecoderThreadCount = threads;
    Settings::cacheSize = 512;
    auto const restore = qScopeGuard([setting, cacheSize] {
        Settings::videoDecoderThreadCount = setting;
        Settings::cacheSize = cacheSize;
    });
    std::unique_ptr<Timeline> const source = SourceTimeline(media);
    Cut(source.get(), 46, 53);
    QString const folder = mDir->filePath(QStringLiteral("4k/%1").arg(QTest::currentDataTag()));
    ExportProperties request = SequenceRequest(source.get(), folder, "f", "jpg");
    request.width = 3840;
    request.height = 2160;
    ExportRun const run = Run(request);
    QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));
    QStringList const files = FilesIn(folder);
    QCOMPARE(files.size(), 8);
    for (int i = 0; i < files.size(); ++i)
    {
        QImage const picture(folder + "/" + files.at(i));
        QCOMPARE(picture.size(), QSize(3840, 2160));
        QCOMPARE(PictureNumber(picture), 46 + i);
    }
}

void TestExportManager::WavKeepsEverySampleOfTheRange()
{
    QString const output = mDir->filePath("sound/tone.wav");
    ExportProperties request = Request(mTone.get(), output);
    request.noAudio = true; // a wav has sound even when sound is excluded
    ExportRun const run = Run(request);
    QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));
    QVERIFY(request.noVideo);
    QJsonObject const audio = Stream(output, "audio");
    QCOMPARE(audio.value("codec_name").toString(), QString("pcm_s16le"));
    QCOMPARE(audio.value("sample_rate").toString(), QString("48000"));
    QCOMPARE(audio.value("channels").toInt(), 2);
    long long const expected = (mTone->PlaybackRangeEnd() - mTone->PlaybackRangeStart() + 1) * 48 / 1000;
    QCOMPARE(audio.value("duration_ts").toInteger(), expected);
}

void TestExportManager::PreparationRefusesBadRequestsAndLeavesNothing()
{
    auto const prepare = [](ExportProperties request) { return ExportManager::PreExportInitialization(&request); };
    QString const clipPath = TestMedia::Path("h264_gop250.mp4");
    QCOMPARE(prepare(Request(mGop250.get(), clipPath)),
             QString("Output file exists in the timeline being exported: %1").arg(clipPath));
    QCOMPARE(prepare(Request(mGop250.get(), mDir->filePath("upper.MP4"))), QString("Unsupported file type: MP4"));
    QCOMPARE(prepare(Request(mGop250.get(), mDir->filePath("clip.avi"))), QString("Unsupported file type: avi"));
    ExportProperties silent = Request(mTone.get(), mDir->filePath("silent.mp4"));
    silent.noAudio = true;
    QCOMPARE(prepare(silent), QString("No audio or video streams in final output"));

    // An output folder that cannot be made: the refused export leaves no
    // temporary folder.
    QFile blocker(mDir->filePath("a file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString const unwritable = mDir->filePath("a file/sub");
    QCOMPARE(prepare(Request(mGop250.get(), unwritable + "/out.mp4")),
             QString("Failed to create output directory: %1").arg(unwritable));
    QCOMPARE(FilesIn(Settings::tempDirPath), QStringList());
    QCOMPARE(QDir(Settings::tempDirPath).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());

    // The names, the stream choice and the even size of a good request.
    ExportProperties request = Request(mGop250.get(), mDir->filePath("good/out.mp4"), 641, 361);
    request.noAudio = true;
    QCOMPARE(ExportManager::PreExportInitialization(&request), QString());
    QCOMPARE(request.width, 640);
    QCOMPARE(request.height, 360);
    QVERIFY(request.noAudio && !request.noVideo);
    QVERIFY(request.finalAudioPath.isEmpty());
    QCOMPARE(request.tempDirPath, Settings::tempDirPath + "/" + request.exportName);
    QCOMPARE(request.finalVideoPath, request.tempDirPath + "/" + request.exportName + "_final.m4v");
    QVERIFY(qAbs(request.frameRate - 23.976f) < 0.001f);
    QVERIFY(QFileInfo(request.tempDirPath).isDir());
    QCOMPARE(ExportManager::PostExportCleanup(&request), QString());
    QVERIFY(!QFileInfo::exists(request.tempDirPath));
}

void TestExportManager::FailuresOfTheEncoderAreReportedAsFailures()
{
    // No ffmpeg at the path.
    Settings::ffmpegExePath = mDir->filePath("no such ffmpeg");
    ExportProperties missing = Request(mGop250.get(), mDir->filePath("fail/missing.mp4"));
    ExportRun run = Run(missing);
    QVERIFY(run.failed);
    // Whichever side fails first stops the other.
    QVERIFY2(run.errors.contains("Failed to open video file for write") ||
                 run.errors.contains("Failed to open audio file for write"),
             qPrintable(run.errors.join('\n')));
    QVERIFY(!run.errors.filter(QRegularExpression("^Failed to start .*no such ffmpeg")).isEmpty());
    QVERIFY(!QFileInfo::exists(missing.outputFilePath));
    QVERIFY(!QFileInfo::exists(missing.tempDirPath));

    // Stand-ins for ffmpeg that fail in the three ways a run can: exit at
    // once, exit 1 after reading all input, or exit 0 without writing.
    struct Fake
    {
        QString script;
        QString name;
        QString error;
    };
    QList<Fake> const fakes = {
        {"echo 'fake encoder: no codec' >&2\nexit 1\n", "exit.mp4", "ffmpeg exited with status 1: .*fake encoder: no codec"},
        {"cat > /dev/null\necho 'fake encoder: broken' >&2\nexit 1\n", "late.wav", "ffmpeg exited with status 1: .*fake encoder: broken"},
        {"cat > /dev/null\nexit 0\n", "silent.mp4", "^ffmpeg wrote no (audio|video): "},
    };
    for (Fake const& fake : fakes)
    {
        QString const path = mDir->filePath("fake ffmpeg " + fake.name);
        QFile script(path);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n" + fake.script.toUtf8());
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        Settings::ffmpegExePath = path;
        ExportProperties request =
            Request(fake.name.endsWith("wav") ? mTone.get() : mGop250.get(), mDir->filePath("fail/" + fake.name));
        run = Run(request);
        QVERIFY(run.failed);
        QVERIFY2(!run.errors.filter(QRegularExpression(fake.error)).isEmpty(), qPrintable(run.errors.join('\n')));
        QVERIFY(!QFileInfo::exists(request.outputFilePath));
        QVERIFY(!QFileInfo::exists(request.tempDirPath));
    }

    // An ffmpeg that encodes but cannot write its output: the folder went
    // away after preparation.
    Settings::ffmpegExePath.clear();
    QString const folder = mDir->filePath("fail/gone");
    ExportProperties request = SequenceRequest(mNumbered.get(), folder, "x");
    QCOMPARE(ExportManager::PreExportInitialization(&request), QString());
    QVERIFY(QDir(folder).removeRecursively());
    QSignalSpy ended(mAv.get(), &AvManager::ExportTasksEnded);
    mAv->StartTimelineExport(&request);
    QVERIFY(ended.wait(60000));
    QVERIFY(request.failed);
    QCOMPARE(ExportManager::PostExportCleanup(&request), QString());
}

void TestExportManager::CancelStopsFfmpegAndLeavesNothingBehind_data()
{
    QTest::addColumn<bool>("imageSequence");
    QTest::addRow("video") << false;
    QTest::addRow("image sequence") << true;
}

void TestExportManager::CancelStopsFfmpegAndLeavesNothingBehind()
{
    QFETCH(bool, imageSequence);
    QString const folder = mDir->filePath(imageSequence ? "cancel seq" : "cancel video");
    ExportProperties request = Request(mLong.get(), folder + (imageSequence ? "/c.####.png" : "/c.mp4"));
    request.imageSequence = imageSequence;
    request.imageDirPath = folder;
    request.imageBaseName = "c";
    request.imageExtension = "png";
    request.h264Preset = 0; // slow enough to be caught mid-way
    ExportRun const run = Run(request, [](ExportProperties& running) {
        if (running.videoProgress > 10.0f)
        {
            running.cancelled = true;
        }
    });
    QVERIFY(run.cancelled);
    QVERIFY(request.videoProgress < 100.0f);
    QCOMPARE(run.cleanupError, QString());
    QCOMPARE(FilesIn(folder), QStringList());
    QVERIFY(!QFileInfo::exists(request.tempDirPath));
    // No encoder is left running.
    QCOMPARE(RunProgram("pgrep", {"-f", "-P", QString::number(QCoreApplication::applicationPid()), "ffmpeg"}).trimmed(),
             QString());
}

void TestExportManager::MergeWaitsForTheSideThatCompletesLast()
{
    // The video completes while the audio still runs: only the audio side,
    // completing last, merges.
    ExportProperties request = Request(mGop250.get(), mDir->filePath("order/out.mp4"));
    QCOMPARE(ExportManager::PreExportInitialization(&request), QString());
    request.audioExporting = true;
    request.videoExporting = true;
    std::unique_ptr<Timeline> videoCopy(mGop250->DuplicateForExport());
    std::unique_ptr<Timeline> audioCopy(mGop250->DuplicateForExport());
    {
        ExportManager video;
        video.ExportVideo(videoCopy.get(), &request);
    }
    QVERIFY(!request.failed);
    QVERIFY(QFileInfo(request.finalVideoPath).size() > 0);
    QVERIFY(!QFileInfo::exists(request.outputFilePath));
    {
        ExportManager audio;
        audio.ExportAudio(audioCopy.get(), &request);
    }
    QVERIFY(!request.failed);
    QCOMPARE(Stream(request.outputFilePath, "audio").value("codec_name").toString(), QString("aac"));
    QCOMPARE(Stream(request.outputFilePath, "video").value("nb_read_frames").toString().toInt(), 48);
    QCOMPARE(ExportManager::PostExportCleanup(&request), QString());
}

void TestExportManager::ViewerCapturesOfAnotherSizeAreFittedIntoTheFirst()
{
    ExportProperties request = Request(mGop250.get(), mDir->filePath("captures/view.mp4"), 200, 100);
    request.noAudio = true;
    request.viewerCapture = true;
    QCOMPARE(ExportManager::PreExportInitialization(&request), QString());
    request.frameRate = 0.0f; // an unknown rate is written as 12
    QStringList lines;
    ExportManager manager;
    connect(&manager, &ExportManager::ExportLogMsgReceived, this,
            [&lines](QString const& message, ExportLoggingMsgType, bool error) { lines << (error ? "[ERROR] " : "") + message; });
    manager.BeginExportSnapshots(&request);
    QImage first(200, 100, QImage::Format_RGB32);
    first.fill(Qt::green);
    QImage square(100, 100, QImage::Format_ARGB32);
    square.fill(Qt::red);
    QImage wide(400, 50, QImage::Format_RGB888);
    wide.fill(Qt::blue);
    manager.WriteSnapshotFrame(first, 7);
    manager.WriteSnapshotFrame(square, 8);
    manager.WriteSnapshotFrame(wide, 9);
    manager.EndExportSnapshots();
    QVERIFY2(!request.failed, qPrintable(lines.join('\n')));
    QVERIFY(!lines.filter("-framerate 12 ").isEmpty());
    QCOMPARE(manager.EncoderWidth(), 200);
    QJsonObject const video = Stream(request.outputFilePath, "video");
    QCOMPARE(video.value("nb_read_frames").toString().toInt(), 3);
    QCOMPARE(video.value("width").toInt(), 200);

    // The square sits in the middle on black; the wide picture spans the
    // width, centred in height.
    QString const frames = mDir->filePath("captures/frame%d.png");
    RunProgram("ffmpeg", {"-nostdin", "-v", "error", "-i", request.outputFilePath, frames});
    QImage const squareFrame(mDir->filePath("captures/frame2.png"));
    QImage const wideFrame(mDir->filePath("captures/frame3.png"));
    QVERIFY(qRed(squareFrame.pixel(100, 50)) > 200 && qGreen(squareFrame.pixel(100, 50)) < 60);
    QVERIFY(qRed(squareFrame.pixel(20, 50)) < 40 && qGreen(squareFrame.pixel(20, 50)) < 40);
    QVERIFY(qBlue(wideFrame.pixel(100, 50)) > 200);
    QVERIFY(qBlue(wideFrame.pixel(100, 10)) < 40);
    QCOMPARE(ExportManager::PostExportCleanup(&request), QString());
}

void TestExportManager::ImageSequencesNeverWriteOverOrRemoveTheUsersFrames()
{
    // The user's frames of the same name, one inside the range the export
    // numbers (0-9) and one outside it, and another file.
    QString const folder = mDir->filePath("users frames");
    QVERIFY(QDir().mkpath(folder));
    WriteText(folder + "/s.0003.png", "mine 3");
    WriteText(folder + "/s.0042.png", "mine 42");
    WriteText(folder + "/notes.txt", "notes");
    QStringList const before = FilesIn(folder);
    auto const request = [&](Timeline* timeline, bool overwrite) {
        ExportProperties made = SequenceRequest(timeline, folder, "s");
        made.overwriteExisting = overwrite;
        return made;
    };

    // Refused before anything starts.
    ExportProperties refused = request(mNumbered.get(), false);
    ExportRun run = Run(refused);
    QCOMPARE(run.preparationError,
             QString("Output file already exists (enable force overwrite to continue): %1").arg(folder + "/s.0003.png"));
    QCOMPARE(FilesIn(folder), before);
    QCOMPARE(ReadText(folder + "/s.0003.png"), QByteArray("mine 3"));

    // Asked to overwrite, but cancelled, or failing after every picture was
    // encoded: the user's files stay as they were and nothing is added.
    ExportProperties cancelled = request(mLong.get(), true);
    cancelled.h264Preset = 0;
    run = Run(cancelled, [](ExportProperties& running) {
        if (running.videoProgress > 10.0f)
        {
            running.cancelled = true;
        }
    });
    QVERIFY(run.cancelled);
    QCOMPARE(FilesIn(folder), before);
    QCOMPARE(ReadText(folder + "/s.0003.png"), QByteArray("mine 3"));
    Settings::ffmpegExePath = WrappedFfmpeg(mDir->filePath("failing ffmpeg"), "exit 1");
    ExportProperties failing = request(mNumbered.get(), true);
    run = Run(failing);
    Settings::ffmpegExePath.clear();
    QVERIFY(run.failed);
    QCOMPARE(FilesIn(folder), before);
    QCOMPARE(ReadText(folder + "/s.0003.png"), QByteArray("mine 3"));
    QVERIFY(!QFileInfo::exists(failing.tempDirPath));

    // Asked to overwrite and complete: the frames in the range are replaced,
    // the one outside it is kept.
    ExportProperties replaced = request(mNumbered.get(), true);
    run = Run(replaced);
    QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));
    QCOMPARE(FilesIn(folder).size(), 12);
    QCOMPARE(PictureNumber(QImage(folder + "/s.0003.png")), 13);
    QCOMPARE(run.cleanupSummary, QString("Existing output files replaced: 1 in %1").arg(folder));
    QCOMPARE(ReadText(folder + "/s.0042.png"), QByteArray("mine 42"));
}

void TestExportManager::AFailedMergeLeavesTheExistingOutputAsItWas()
{
    // The user chose to overwrite out.mp4; the encoders run, then ffmpeg can
    // no longer be started for the merge.
    QString const output = mDir->filePath("merge fails/out.mp4");
    QVERIFY(QDir().mkpath(QFileInfo(output).path()));
    WriteText(output, "the user's movie");
    QString const script = mDir->filePath("ffmpeg once");
    Settings::ffmpegExePath = WrappedFfmpeg(script, "case \"$*\" in *libx264*) chmod a-x \"$0\";; esac");
    ExportProperties request = Request(mGop250.get(), output);
    QCOMPARE(ExportManager::PreExportInitialization(&request), QString());
    request.audioExporting = true;
    request.videoExporting = true;
    QStringList errors;
    auto const collect = [&errors](QString const& message, ExportLoggingMsgType, bool error) {
        if (error)
        {
            errors << message;
        }
    };
    std::unique_ptr<Timeline> audioCopy(mGop250->DuplicateForExport());
    std::unique_ptr<Timeline> videoCopy(mGop250->DuplicateForExport());
    {
        ExportManager audio;
        connect(&audio, &ExportManager::ExportLogMsgReceived, this, collect);
        audio.ExportAudio(audioCopy.get(), &request);
    }
    {
        ExportManager video; // completes last: merges
        connect(&video, &ExportManager::ExportLogMsgReceived, this, collect);
        video.ExportVideo(videoCopy.get(), &request);
    }
    Settings::ffmpegExePath.clear();
    QVERIFY(request.failed);
    QVERIFY2(errors.contains("Failed to start merge audio/video process"), qPrintable(errors.join('\n')));
    QVERIFY(errors.contains("Failed to merge audio and video streams"));
    QCOMPARE(ExportManager::PostExportCleanup(&request), QString());
    QCOMPARE(ReadText(output), QByteArray("the user's movie"));
}

void TestExportManager::AForcedSequenceFailingHalfWayPutsBackTheUsersFrames()
{
    // The user's frames 0-5, and a folder where frame 7 goes.
    QString const folder = mDir->filePath("folder in the way");
    WriteUsersFrames(folder, "out", 6);
    QVERIFY(QDir().mkpath(folder + "/out.0007.png"));
    WriteText(folder + "/out.0007.png/inside", "inside");
    QStringList const before = EntriesIn(folder);
    auto const request = [&](bool overwrite) {
        ExportProperties made = SequenceRequest(mNumbered.get(), folder, "out");
        made.overwriteExisting = overwrite;
        return made;
    };

    // Not forced: refused, naming the first frame in the way.
    ExportProperties refused = request(false);
    QCOMPARE(Run(refused).preparationError,
             QString("Output file already exists (enable force overwrite to continue): %1").arg(folder + "/out.0000.png"));

    // Forced: frames 0-6 are moved in, frame 7 cannot be. Every frame of the
    // user's comes back, frame 6 that was not there goes, and the folder is
    // untouched.
    ExportProperties forced = request(true);
    ExportRun const run = Run(forced);
    QVERIFY(run.failed);
    QVERIFY2(run.errors.contains("Failed to move image file to output: " + folder + "/out.0007.png"),
             qPrintable(run.errors.join('\n')));
    QCOMPARE(run.cleanupError, QString());
    QCOMPARE(EntriesIn(folder), before);
    VerifyUsersFrames(folder, "out", 6);
    QCOMPARE(ReadText(folder + "/out.0007.png/inside"), QByteArray("inside"));
    QCOMPARE(run.cleanupSummary, QString("Existing output files kept: 6 of 6 put back in %1").arg(folder));
    QVERIFY(!QFileInfo::exists(forced.tempDirPath));
}

void TestExportManager::AFullDriveOnAnotherFileSystemKeepsEveryFileAndLeavesNoPart()
{
    // The temporary folder stays on the disk of the test's folder; the
    // output goes to a small drive of its own, so every move is a copy.
    QString const drive = mDir->filePath("small drive");
    SmallDrive const mounted(drive, "128k");
    if (!mounted.IsMounted())
    {
        QSKIP("mounting a small file system is not permitted here");
    }

    // The user's frames and a file fill most of the drive (4 KiB each, 72
    // KiB in all), leaving room for two or three exported frames and less
    // than a movie.
    WriteUsersFrames(drive, "out", 10);
    WriteText(drive + "/filler", QByteArray(32 * 1024, 'x'));
    QStringList const before = EntriesIn(drive);

    // A movie larger than the room left: failed, and nothing at the output
    // that could be taken for it.
    ExportProperties movie = Request(mGop250.get(), drive + "/new.mp4");
    ExportRun run = Run(movie);
    QVERIFY(run.failed);
    QVERIFY2(run.errors.contains("Failed to create final output (audio/video merge)"),
             qPrintable(run.errors.join('\n')));
    QCOMPARE(EntriesIn(drive), before);

    // A forced sequence replaces a few frames and fails half-way. The frames
    // set aside beside their places come back.
    ExportProperties frames = SequenceRequest(mNumbered.get(), drive, "out");
    frames.overwriteExisting = true;
    run = Run(frames);
    QVERIFY(run.failed);
    QCOMPARE(run.cleanupError, QString());
    QCOMPARE(EntriesIn(drive), before);
    VerifyUsersFrames(drive, "out", 10);
    QVERIFY2(QRegularExpression("^Existing output files kept: ([2-9]) of \\1 put back in ").match(run.cleanupSummary).hasMatch(),
             qPrintable(run.cleanupSummary));
}

void TestExportManager::ASecondExportIntoTheSameOutputIsRefusedWhileTheFirstRuns()
{
    // Another player or a script starts exports into the frames a forced
    // export is writing, while it runs.
    QString const folder = mDir->filePath("two exports");
    WriteUsersFrames(folder, "s", 3);
    auto const forced = [&](Timeline* timeline, int padding) {
        ExportProperties made = SequenceRequest(timeline, folder, "s");
        made.imagePadding = padding;
        made.overwriteExisting = true;
        return made;
    };
    QString const pid = QString::number(QCoreApplication::applicationPid());
    QStringList refusals;
    QStringList movieErrors;
    ExportProperties first = forced(mNumbered.get(), 4);
    ExportRun const run = Run(first, [&](ExportProperties&) {
        if (!refusals.isEmpty())
        {
            return;
        }
        // Temporary folders of their own: names made in the same
        // millisecond would clash there.
        QString const tempDirPath = Settings::tempDirPath;
        Settings::tempDirPath = mDir->filePath("temp of the second");
        // The same frames, and the same names by another padding.
        for (int const padding : {4, 3})
        {
            ExportProperties second = forced(mLong.get(), padding);
            refusals << ExportManager::PreExportInitialization(&second);
            refusals << ExportManager::PostExportCleanup(&second);
        }
        // Another output in the same folder is not held up; a second export
        // of that one is refused.
        ExportProperties movie = Request(mGop250.get(), folder + "/s.mp4");
        ExportProperties sameMovie = Request(mGop250.get(), folder + "/s.mp4");
        movieErrors << ExportManager::PreExportInitialization(&movie);
        Settings::tempDirPath = mDir->filePath("temp of the third");
        movieErrors << ExportManager::PreExportInitialization(&sameMovie);
        movieErrors << ExportManager::PostExportCleanup(&sameMovie) << ExportManager::PostExportCleanup(&movie);
        Settings::tempDirPath = tempDirPath;
    });
    QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));
    QString const busy = QString("Output is in use by another export (process %1): %2").arg(pid, folder + "/s.png");
    QCOMPARE(refusals, QStringList({busy, QString(), busy, QString()}));
    QCOMPARE(movieErrors, QStringList({QString(),
                                       QString("Output is in use by another export (process %1): %2")
                                           .arg(pid, folder + "/s.mp4"),
                                       QString(), QString()}));
    // The first export's frames alone, and its lock gone with its end.
    for (int number = 0; number < 10; ++number)
    {
        QCOMPARE(PictureNumber(QImage(QString("%1/s.%2.png").arg(folder).arg(number, 4, 10, QChar('0')))),
                 10 + number);
    }
    QCOMPARE(EntriesIn(folder).size(), 10);
    ExportProperties next = forced(mNumbered.get(), 4);
    QCOMPARE(ExportManager::PreExportInitialization(&next), QString());
    QCOMPARE(ExportManager::PostExportCleanup(&next), QString());
}

void TestExportManager::ALockIsStaleOnlyWhenItsProcessIsGone()
{
    QString const folder = mDir->filePath("stale locks");
    QVERIFY(QDir().mkpath(folder));
    QString error;
    QString staleJournal;
    std::shared_ptr<ExportTargetLock> const probe =
        ExportTargetLock::Acquire(folder, "probe.png", "/nowhere/journal.txt", error, staleJournal);
    QVERIFY2(probe, qPrintable(error));
    QByteArray const live = ReadText(probe->Path());
    probe->Release();
    QVERIFY(!QFileInfo::exists(probe->Path()));

    // A process that has ended, and this one's id with another start time
    // (the id taken again by a later process).
    QProcess shell;
    shell.start("sh", {"-c", "echo $$"});
    QVERIFY(shell.waitForFinished(60000));
    QByteArray const endedPid = shell.readAllStandardOutput().trimmed();
    QByteArray const start = QRegularExpression("start=(\\d+)").match(QString::fromLatin1(live)).captured(1).toLatin1();
    struct Case
    {
        char const* name;
        QByteArray lock;
        bool stale;
    };
    QList<Case> const cases = {
        {"held by this process", live, false},
        {"held on another host", WithLockField(live, "host", "elsewhere.example"), false},
        {"process ended", WithLockField(live, "pid", endedPid), true},
        {"id reused", WithLockField(live, "start", QByteArray::number(start.toULongLong() + 1)), true},
        {"before a restart", WithLockField(live, "boot", "00000000-0000-0000-0000-000000000000"), true},
        {"not a lock", "junk", true},
    };
    QString const lockPath = ExportTargetLock::LockPath(folder, "s.png");
    for (Case const& test : cases)
    {
        WriteText(lockPath, test.lock);
        ExportProperties request = SequenceRequest(mNumbered.get(), folder, "s");
        QString const prepared = ExportManager::PreExportInitialization(&request);
        if (test.stale)
        {
            QVERIFY2(prepared.isEmpty(), qPrintable(QString("%1: %2").arg(test.name, prepared)));
            QVERIFY2(ReadText(lockPath) != test.lock, test.name);
            QCOMPARE(ExportManager::PostExportCleanup(&request), QString());
            QVERIFY2(!QFileInfo::exists(lockPath), test.name);
        }
        else
        {
            QVERIFY2(prepared.startsWith("Output is in use by another export (process "), qPrintable(test.name + (": " + prepared)));
            QCOMPARE(ReadText(lockPath), test.lock);
            QVERIFY(!QFileInfo::exists(request.tempDirPath));
            QVERIFY(QFile::remove(lockPath));
        }
    }
    QCOMPARE(EntriesIn(folder), QStringList());
}

void TestExportManager::CleanUpLeavesFilesAnotherWroteSinceAsTheyAre()
{
    // A forced export replaces the user's frames 0-5, adds frame 6 and fails
    // at frame 7 (a folder in the way). Before its clean-up another program
    // writes frames 2 and 6 anew.
    QString const folder = mDir->filePath("written meanwhile");
    WriteUsersFrames(folder, "out", 6);
    QVERIFY(QDir().mkpath(folder + "/out.0007.png"));
    ExportProperties request = SequenceRequest(mNumbered.get(), folder, "out");
    request.overwriteExisting = true;
    ExportRun const run = Run(request, {}, [&](ExportProperties&) {
        ReplaceText(folder + "/out.0002.png", "theirs 2");
        ReplaceText(folder + "/out.0006.png", "theirs 6");
    });
    QVERIFY(run.failed);
    QCOMPARE(ReadText(folder + "/out.0002.png"), QByteArray("theirs 2"));
    QCOMPARE(ReadText(folder + "/out.0006.png"), QByteArray("theirs 6"));
    for (int const number : {0, 1, 3, 4, 5})
    {
        QCOMPARE(ReadText(QString("%1/out.000%2.png").arg(folder).arg(number)), "mine " + QByteArray::number(number));
    }
    // The user's frame 2 stays where it is kept, and the clean-up says where.
    QRegularExpressionMatch const kept =
        QRegularExpression("Failed to put back .*/out\\.0002\\.png \\(kept as (.*)\\)").match(run.cleanupError);
    QVERIFY2(kept.hasMatch(), qPrintable(run.cleanupError));
    QCOMPARE(ReadText(kept.captured(1)), QByteArray("mine 2"));
    QVERIFY(run.cleanupError.contains("Not removed, changed since the export wrote it: " + folder + "/out.0006.png"));
    QCOMPARE(run.cleanupSummary, QString("Existing output files kept: 5 of 6 put back in %1").arg(folder));
    QVERIFY(QDir(request.tempDirPath).removeRecursively());
}

void TestExportManager::AnExportKilledMidMoveIsUndoneLater_data()
{
    QTest::addColumn<bool>("byNextExport");
    QTest::addRow("at the next start") << false;
    QTest::addRow("by the next export into those frames") << true;
}

void TestExportManager::AnExportKilledMidMoveIsUndoneLater()
{
    QFETCH(bool, byNextExport);
    QString const folder = mDir->filePath(byNextExport ? "killed then exported" : "killed then started");
    QString const tempRoot = mDir->filePath(byNextExport ? "killed temp 1" : "killed temp 2");
    WriteUsersFrames(folder, "out", 300);
    QStringList const before = EntriesIn(folder);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {KILLED_EXPORT_CHILD, folder, tempRoot});
    QVERIFY(child.waitForFinished(300000));
    QVERIFY2(child.exitStatus() == QProcess::CrashExit, qPrintable(QString::number(child.exitCode())));
    // Left as a kill leaves it: frames of the user's set aside, frames of
    // the export's in their places.
    int inPlace = 0;
    for (int number = 0; number < 300; ++number)
    {
        QString const path = QString("%1/out.%2.png").arg(folder).arg(number, 4, 10, QChar('0'));
        inPlace += ReadText(path) == "mine " + QByteArray::number(number) ? 1 : 0;
    }
    QVERIFY2(inPlace <= 300 - KILLED_AFTER_SET_ASIDE + 1, qPrintable(QString::number(inPlace)));

    LoggedMessages const infos(&Logger::InfoLogged);
    LoggedMessages const warnings(&Logger::WarningLogged);
    if (byNextExport)
    {
        // The next export of this user, in the same temporary folder.
        Settings::tempDirPath = tempRoot;
        ExportProperties next = SequenceRequest(mNumbered.get(), folder, "out");
        next.overwriteExisting = true;
        ExportRun const run = Run(next);
        QVERIFY2(!run.failed, qPrintable(run.preparationError + run.errors.join('\n')));
        for (int number = 0; number < 10; ++number)
        {
            QCOMPARE(PictureNumber(QImage(QString("%1/out.%2.png").arg(folder).arg(number, 4, 10, QChar('0')))),
                     10 + number);
        }
        for (int number = 10; number < 300; ++number)
        {
            QCOMPARE(ReadText(QString("%1/out.%2.png").arg(folder).arg(number, 4, 10, QChar('0'))),
                     "mine " + QByteArray::number(number));
        }
    }
    else
    {
        ExportRecovery::RecoverInterruptedExports(tempRoot);
        VerifyUsersFrames(folder, "out", 300);
    }
    // Nothing of the killed export is left: no frame, no lock, no folder.
    QCOMPARE(EntriesIn(folder), before);
    QCOMPARE(EntriesIn(tempRoot), QStringList());
    // Each file removed or put back is named at warning level; what was put
    // back opens the console, the count of what was removed is a note.
    QStringList const perFile = warnings.Messages().filter("Interrupted export: ");
    QStringList const putBack =
        perFile.filter(QRegularExpression("^Interrupted export: put back .*, a file it had set aside$"));
    QStringList const removed =
        perFile.filter(QRegularExpression("^Interrupted export: removed .*, a file it had put in place$"));
    QCOMPARE(putBack.size() + removed.size(), perFile.size());
    for (QString const& line : perFile)
    {
        QVERIFY2(QRegularExpression(QString("^Interrupted export: [a-z ]+ %1/out\\.\\d{4}\\.png, ")
                                        .arg(QRegularExpression::escape(folder)))
                     .match(line)
                     .hasMatch(),
                 qPrintable(line));
    }
    QStringList const said = warnings.Messages().filter("Interrupted export found");
    QVERIFY2(said.size() == 2, qPrintable(said.join('\n')));
    QRegularExpressionMatch const restored =
        QRegularExpression("^Interrupted export found: (\\d+) of \\1 set-aside files put back in (.*)$").match(said[0]);
    QVERIFY2(restored.hasMatch() && restored.captured(2) == folder, qPrintable(said[0]));
    QVERIFY(restored.captured(1).toInt() >= KILLED_AFTER_SET_ASIDE - 1);
    QCOMPARE(putBack.size(), restored.captured(1).toInt());
    // The next export took the stale lock over; at a start it goes with the folder.
    QVERIFY2(said[1].startsWith("Interrupted export found: its temporary folder " + tempRoot + "/") &&
                 said[1].endsWith(byNextExport ? QString(" removed")
                                               : QString(" and its lock %1 removed")
                                                     .arg(ExportTargetLock::LockPath(folder, "out.png"))),
             qPrintable(said[1]));
    QStringList const noted = infos.Messages().filter("Interrupted export");
    QRegularExpressionMatch const count =
        QRegularExpression("^Interrupted export found: (\\d+) partly exported files removed$").match(noted.value(0));
    QVERIFY2(noted.size() == 1 && count.hasMatch(), qPrintable(noted.join('\n')));
    QCOMPARE(removed.size(), count.captured(1).toInt());
}

void TestExportManager::AnExportKilledWhileRenderingLeavesNothingAfterTheNextStart()
{
    QString const folder = mDir->filePath("killed while rendering");
    QString const tempRoot = mDir->filePath("killed temp 3");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QDir().mkpath(tempRoot));
    // ffmpeg outlives the export that is killed: its id tells when it is gone.
    QString const pidFile = mDir->filePath("rendering ffmpeg pid");
    QString const ffmpeg = mDir->filePath("ffmpeg-with-pid");
    WriteText(ffmpeg, "#!/bin/sh\necho $$ > '" + pidFile.toUtf8() + "'\nexec '" +
                          QStandardPaths::findExecutable("ffmpeg").toUtf8() + "' \"$@\"\n");
    QVERIFY(QFile::setPermissions(ffmpeg, QFile::permissions(ffmpeg) | QFile::ExeOwner));

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {KILLED_RENDERING_CHILD, folder, tempRoot, ffmpeg});
    QVERIFY(child.waitForFinished(300000));
    QVERIFY2(child.exitStatus() == QProcess::CrashExit, qPrintable(QString::number(child.exitCode())));
    pid_t const renderer = static_cast<pid_t>(ReadText(pidFile).trimmed().toLongLong());
    QVERIFY(renderer > 0);
    QVERIFY(QTest::qWaitFor([renderer] { return ::kill(renderer, 0) != 0 && errno == ESRCH; }, 120000));

    // Left as a kill leaves it: the temporary folder with the pictures
    // rendered so far, and the lock beside the output.
    QStringList const exports = QDir(tempRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(exports.size(), 1);
    QString const tempDirPath = tempRoot + "/" + exports.first();
    QVERIFY(!QDir(tempDirPath).entryList({"*.png"}, QDir::Files).isEmpty());
    QString const lockPath = ExportTargetLock::LockPath(folder, "out.png");
    QCOMPARE(EntriesIn(folder), QStringList({QFileInfo(lockPath).fileName()}));

    LoggedMessages const warnings(&Logger::WarningLogged);
    ExportRecovery::RecoverInterruptedExports(tempRoot);
    QCOMPARE(EntriesIn(tempRoot), QStringList());
    QCOMPARE(EntriesIn(folder), QStringList());
    QCOMPARE(warnings.Messages(),
             QStringList({QString("Interrupted export found: its temporary folder %1 and its lock %2 removed")
                              .arg(tempDirPath, lockPath)}));
}

void TestExportManager::AJournalActsOnlyInItsOutputAndTemporaryFolders()
{
    // The journal of an export whose process is gone, written by hand: its
    // lock lies in `output`, but it names files elsewhere too.
    QString const output = mDir->filePath("forged output");
    QString const elsewhere = mDir->filePath("forged elsewhere");
    QString const tempRoot = mDir->filePath("forged temp");
    QString const name = "1700000000000";
    QString const tempDirPath = tempRoot + "/" + name;
    QString const keepDirPath = tempDirPath + "/" + name + "_replaced";
    QVERIFY(QDir().mkpath(output));
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(QDir().mkpath(keepDirPath));
    WriteText(output + "/out.0000.png", "the export's");
    WriteText(elsewhere + "/precious.txt", "mine");
    WriteText(elsewhere + "/by way of a link.txt", "mine too");
    WriteText(keepDirPath + "/planted.txt", "planted");
    QString const lockPath = ExportTargetLock::LockPath(output, "out.png");
    QString const victim = elsewhere + "/precious.txt";
    QString const dotted = output + "/../" + QFileInfo(elsewhere).fileName() + "/by way of a link.txt";
    QString const planted = elsewhere + "/planted.txt";
    // Beside the output, but of no name the export writes.
    QString const notes = output + "/notes.txt";
    WriteText(notes, "mine as well");
    WriteText(keepDirPath + "/out.0001.png", "the user's");
    QString const journalPath = tempDirPath + "/" + name + "_journal.txt";
    WriteText(journalPath,
              JournalText(GoneProcess(), name, tempDirPath, lockPath,
                          {JournalStep("placed", output + "/out.0000.png", FileIdentity::Of(output + "/out.0000.png")),
                           JournalStep("placed", victim, FileIdentity::Of(victim)),
                           JournalStep("placed", dotted, FileIdentity::Of(dotted)),
                           JournalStep("placed", notes, FileIdentity::Of(notes)),
                           JournalStep("aside", planted, FileIdentity::Of(keepDirPath + "/planted.txt")),
                           JournalStep("aside", output + "/out.0001.png",
                                       FileIdentity::Of(keepDirPath + "/out.0001.png"))}));
    WriteText(lockPath, LockText(GoneProcess(), journalPath));

    LoggedMessages const warnings(&Logger::WarningLogged);
    ExportRecovery::RecoverInterruptedExports(tempRoot);
    // Inside its output it is followed, and each file it removes or puts
    // back is named; nothing elsewhere is touched, and the log names each
    // path refused.
    QVERIFY(!QFileInfo::exists(output + "/out.0000.png"));
    QCOMPARE(ReadText(output + "/out.0001.png"), QByteArray("the user's"));
    QCOMPARE(ReadText(victim), QByteArray("mine"));
    QCOMPARE(ReadText(elsewhere + "/by way of a link.txt"), QByteArray("mine too"));
    QCOMPARE(ReadText(notes), QByteArray("mine as well"));
    QVERIFY(!QFileInfo::exists(planted));
    QCOMPARE(ReadText(keepDirPath + "/planted.txt"), QByteArray("planted"));
    QStringList const said = warnings.Messages();
    for (QString const& path : {victim, dotted, notes, planted})
    {
        QVERIFY2(said.filter(path).size() == 1, qPrintable(path + ": " + said.join('\n')));
    }
    for (QString const& line : {QString("Interrupted export: removed %1/out.0000.png, a file it had put in place"),
                                QString("Interrupted export: put back %1/out.0001.png, a file it had set aside")})
    {
        QVERIFY2(said.contains(line.arg(output)), qPrintable(said.join('\n')));
    }
}

void TestExportManager::AnOversizedJournalIsRefused()
{
    // A journal that would be followed but for its size: it is refused
    // without being read, and says so.
    QString const output = mDir->filePath("oversized output");
    QString const tempRoot = mDir->filePath("oversized temp");
    QString const name = "1700000000001";
    QString const tempDirPath = tempRoot + "/" + name;
    QVERIFY(QDir().mkpath(output));
    QVERIFY(QDir().mkpath(tempDirPath));
    WriteText(output + "/out.0000.png", "the export's");
    QString const journalPath = tempDirPath + "/" + name + "_journal.txt";
    WriteText(journalPath, JournalText(GoneProcess(), name, tempDirPath, ExportTargetLock::LockPath(output, "out.png"),
                                       {JournalStep("placed", output + "/out.0000.png",
                                                    FileIdentity::Of(output + "/out.0000.png")),
                                        ""}));
    QVERIFY(QFile::resize(journalPath, ExportJournal::MAXIMUM_SIZE + 1));

    LoggedMessages const warnings(&Logger::WarningLogged);
    ExportRecovery::RecoverInterruptedExports(tempRoot);
    QCOMPARE(ReadText(output + "/out.0000.png"), QByteArray("the export's"));
    QCOMPARE(warnings.Messages(),
             QStringList({QString("Failed to read the journal of an interrupted export: %1 (%2 bytes, more than %3)")
                              .arg(journalPath)
                              .arg(ExportJournal::MAXIMUM_SIZE + 1)
                              .arg(ExportJournal::MAXIMUM_SIZE)}));
}

void TestExportManager::APlantedJournalChangesNothingWhereItsLockIsNot_data()
{
    QTest::addColumn<QString>("refusal");
    // <lock> and <folder>: as the journal names them.
    QTest::addRow("no lock there") << "no lock of its export at <lock> (";
    QTest::addRow("a lock of another process") << "the lock at <lock> is not its export's";
    QTest::addRow("a lock naming another journal") << "the lock at <lock> is not its export's";
    QTest::addRow("a lock that is a link") << "no lock of its export at <lock> (a link)";
    QTest::addRow("a linked folder") << "its output folder <folder> is a link";
}

void TestExportManager::APlantedJournalChangesNothingWhereItsLockIsNot()
{
    // A journal in this user's temporary folder, of a process that is gone,
    // that names a lock in a folder of the user's: the files there are of
    // the names it would act on, and it names one of another name too.
    QFETCH(QString, refusal);
    QString const tag = QString::fromLatin1(QTest::currentDataTag());
    QString const docs = mDir->filePath("docs of " + tag);
    QString const tempRoot = mDir->filePath("planted temp of " + tag);
    QString const name = "1700000000002";
    QString const tempDirPath = tempRoot + "/" + name;
    QString const keepDirPath = tempDirPath + "/" + name + "_replaced";
    QString const journalPath = tempDirPath + "/" + name + "_journal.txt";
    QVERIFY(QDir().mkpath(docs));
    QVERIFY(QDir().mkpath(keepDirPath));
    WriteText(docs + "/out.0000.png", "mine 0");
    WriteText(docs + "/precious.txt", "precious");
    WriteText(keepDirPath + "/out.0001.png", "planted");
    QString folder = docs;
    if (tag == "a linked folder")
    {
        folder = mDir->filePath("link to docs of " + tag);
        QVERIFY(QFile::link(docs, folder));
    }
    QString const lockPath = ExportTargetLock::LockPath(folder, "out.png");
    QString const docsLock = ExportTargetLock::LockPath(docs, "out.png");
    if (tag == "a lock of another process")
    {
        WriteText(docsLock, LockText(ProcessIdentity::Current(), journalPath));
    }
    else if (tag == "a lock naming another journal")
    {
        WriteText(mDir->filePath("another journal.txt"), "");
        WriteText(docsLock, LockText(GoneProcess(), mDir->filePath("another journal.txt")));
    }
    else if (tag == "a lock that is a link")
    {
        QString const target = mDir->filePath("lock elsewhere");
        WriteText(target, LockText(GoneProcess(), journalPath));
        QVERIFY(QFile::link(target, docsLock));
    }
    else if (tag == "a linked folder")
    {
        WriteText(docsLock, LockText(GoneProcess(), journalPath));
    }
    WriteText(journalPath, JournalText(GoneProcess(), name, tempDirPath, lockPath,
                                       {JournalStep("placed", folder + "/out.0000.png",
                                                    FileIdentity::Of(docs + "/out.0000.png")),
                                        JournalStep("placed", folder + "/precious.txt",
                                                    FileIdentity::Of(docs + "/precious.txt")),
                                        JournalStep("aside", folder + "/out.0001.png",
                                                    FileIdentity::Of(keepDirPath + "/out.0001.png"))}));
    QMap<QString, QByteArray> const before = FolderContents(docs);

    LoggedMessages const infos(&Logger::InfoLogged);
    LoggedMessages const warnings(&Logger::WarningLogged);
    ExportRecovery::RecoverInterruptedExports(tempRoot);
    // Nothing there changes, nor where the export keeps files.
    QCOMPARE(FolderContents(docs), before);
    QCOMPARE(ReadText(keepDirPath + "/out.0001.png"), QByteArray("planted"));
    QCOMPARE(infos.Messages().filter("Interrupted export"), QStringList());
    // What was refused is named: the folder and why, and each path.
    QStringList const said = warnings.Messages();
    QString const why = QString("Interrupted export: refused to act in the output folder of its journal %1: %2")
                            .arg(journalPath, QString(refusal).replace("<lock>", lockPath).replace("<folder>", folder));
    QVERIFY2(said.filter(why).size() == 1, qPrintable(why + "\n" + said.join('\n')));
    for (char const* entry : {"/out.0000.png", "/precious.txt", "/out.0001.png"})
    {
        QVERIFY2(said.filter(folder + entry + ",").size() == 1, qPrintable(said.join('\n')));
    }
    QCOMPARE(said.size(), 4);
}

int main(int argc, char* argv[])
{
    if (argc == 4 && qstrcmp(argv[1], KILLED_EXPORT_CHILD) == 0)
    {
        return RunKilledExport(argc, argv);
    }
    if (argc == 5 && qstrcmp(argv[1], KILLED_RENDERING_CHILD) == 0)
    {
        return RunExportKilledWhileRendering(argc, argv);
    }
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestExportManager test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_exportmanager.moc"
