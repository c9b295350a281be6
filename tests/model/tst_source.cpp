#include "ModelFixtures.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "model/Source.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace ModelFixtures;

class TestSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void InvalidPathGivesAnEmptyErrorSource();
    void PartlyMissingSequenceKeepsWorking();
    void UnparsedVideoRecordFallsBackToDefaultFrameStep();
    void StreamAccessorsCheckTheirIndices();
    void DecodedFileRecordsFillOnceAndStayPut();
    void CutRules();
    void StoredCutInIsClampedIntoAShorterFile();
    void AudioOnlySourceCountsImageSequenceFrames();
    void DurationStringRoundsToHundredths();
    void RelativePathUnderSourceRootWins();
    void RelativePathLeadingNowhereKeepsTheStoredPaths();
};

void TestSource::InvalidPathGivesAnEmptyErrorSource()
{
    QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
    Source source(QStringLiteral("/no/dot/here"), QString(), QUuid(), nullptr);
    QVERIFY(!source.Id().isNull());
    QCOMPARE(source.FileCount(), 0);
    QCOMPARE(source.ErrorCode(), 1);
    QCOMPARE(source.ErrorString(), QStringLiteral("File not found"));
    QCOMPARE(source.FrameCount(), 0);
    QCOMPARE(source.CutOutFrame(), -1);
    QVERIFY(source.IsFullRange());
    QVERIFY(!source.FileExists(0));
    QCOMPARE(source.FilePath(0), QString());
    QVERIFY(!errors.isEmpty());
    QCOMPARE(errors.last().first().toString(), QStringLiteral("Failed to create source: Invalid file path"));
}

void TestSource::PartlyMissingSequenceKeepsWorking()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int frame : {1, 2, 4})
    {
        QFile file(dir.filePath(QStringLiteral("shot.%1.png").arg(frame, 4, 10, QChar(u'0'))));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    Source source(dir.filePath(QStringLiteral("shot.####.png 1-4")), QString(), QUuid(), nullptr);
    QCOMPARE(source.FileCount(), 4);
    QVERIFY(source.IsImageSequence());
    QCOMPARE(source.ErrorCode(), 0);
    QCOMPARE(source.MissingFileCount(), 1);
    QCOMPARE(source.FileInfoAtIndex(2)->errorCode, 1);
    QCOMPARE(source.FileInfoAtIndex(3)->errorCode, 0);
    QVERIFY(source.HasFilePath(dir.filePath(QStringLiteral("shot.0004.png"))));
    // Four frames at the image-sequence rate, each a whole number of µs.
    QCOMPARE(source.Duration(), 4 * static_cast<long long>(1e6 / Settings::imageSequenceFrameRate));

    Source allMissing(dir.filePath(QStringLiteral("other.####.png 1-3")), QString(), QUuid(), nullptr);
    QCOMPARE(allMissing.MissingFileCount(), 3);
    QCOMPARE(allMissing.ErrorCode(), 1);
}

void TestSource::UnparsedVideoRecordFallsBackToDefaultFrameStep()
{
    Source source(MissingMoviePath(QStringLiteral("unparsed")), QString(), QUuid(), nullptr);
    VideoStreamInfo record; // frame step 0: never filled by parsing
    record.frameCount = 10;
    source.FileInfoAtIndex(0)->videoStreams = {record};

    QCOMPARE(source.FrameStep(), Source::DefaultFrameStep());
    QCOMPARE(source.FrameRate(), Settings::imageSequenceFrameRate);
    QCOMPARE(source.CutOut(), TimeHelpers::FrameToFrameEndTime(9, Source::DefaultFrameStep()));
    source.SetCutInFrame(3);
    QCOMPARE(source.CutIn(), TimeHelpers::FrameToFrameStartTime(3, Source::DefaultFrameStep()));
    QVERIFY(source.CutIn() > 0);
}

void TestSource::StreamAccessorsCheckTheirIndices()
{
    Source source(MissingMoviePath(QStringLiteral("streams")), QString(), QUuid(), nullptr);
    QCOMPARE(source.FirstVideoStreamIndex(), -1);
    QVERIFY(!source.VideoStreamInfoAtIndex(0, 0));
    FakeParsedMovie(&source, 25.0, 10, true);
    QCOMPARE(source.VideoStreamCount(), 1);
    QCOMPARE(source.AudioStreamCount(), 1);
    QCOMPARE(source.FirstVideoStreamIndex(), 0);
    QVERIFY(source.VideoStreamInfoAtIndex(0, 0));
    QVERIFY(source.AudioStreamInfoAtIndex(0, 0));
    QVERIFY(!source.VideoStreamInfoAtIndex(0, 1));
    QVERIFY(!source.AudioStreamInfoAtIndex(0, -1));
    QVERIFY(!source.VideoStreamInfoAtIndex(1, 0));
    QVERIFY(!source.AudioStreamInfoAtIndex(-1, 0));
    QVERIFY(!source.FileInfoAtIndex(1));
}

void TestSource::DecodedFileRecordsFillOnceAndStayPut()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int frame = 1; frame <= 8; ++frame)
    {
        QFile file(dir.filePath(QStringLiteral("shot.%1.png").arg(frame, 4, 10, QChar(u'0'))));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    Source source(dir.filePath(QStringLiteral("shot.####.png 1-8")), QString(), QUuid(), nullptr);
    QSignalSpy updated(&source, &Source::Updated);
    auto decoded = [](int width, int error) {
        SourceFileInfo file;
        file.parsed = error == 0;
        file.errorCode = error;
        if (file.parsed)
        {
            VideoStreamInfo stream;
            stream.width = width;
            file.videoStreams = {stream};
        }
        return file;
    };

    // Decode threads of several outputs report the same files at once.
    std::atomic<int> missing {0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back([&source, &decoded, &missing, t] {
            for (int round = 0; round < 200; ++round)
            {
                for (int i = 1; i < source.FileCount(); ++i)
                {
                    source.MergeDecodedFileInfo(i, decoded(100 + t, 0));
                    missing += source.VideoStreamInfoAtIndex(i, 0) ? 0 : 1;
                    missing += source.FileInfoCopy(i).videoStreams.size() == 1 ? 0 : 1;
                }
            }
        });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }
    QCOMPARE(missing.load(), 0);

    // The first report filled each record; later ones left it as it was, and
    // what a frame points at stays valid while copies of the record live.
    VideoStreamInfo const* kept = source.VideoStreamInfoAtIndex(3, 0);
    QVERIFY(kept && kept->width >= 100 && kept->width < 104);
    SourceFileInfo const copy = source.FileInfoCopy(3);
    source.MergeDecodedFileInfo(3, decoded(999, 0));
    QCOMPARE(source.VideoStreamInfoAtIndex(3, 0), kept);
    QCOMPARE(kept->width, copy.videoStreams.first().width);
    QVERIFY(source.FileParsed(3));
    QCOMPARE(updated.count(), 0);

    // A file that fails gives the source its error until it decodes again.
    source.MergeDecodedFileInfo(5, decoded(0, 3));
    QCOMPARE(source.ErrorCode(), 3);
    QCOMPARE(updated.count(), 1);
    source.MergeDecodedFileInfo(6, decoded(0, 4));
    QCOMPARE(source.ErrorCode(), 3);
    source.MergeDecodedFileInfo(5, decoded(100, 0));
    QCOMPARE(source.ErrorCode(), 4);
    source.MergeDecodedFileInfo(6, decoded(100, 0));
    QCOMPARE(source.ErrorCode(), 0);
    QCOMPARE(updated.count(), 3);
    QVERIFY(source.FileParsed(5));
}

void TestSource::CutRules()
{
    Source source(MissingMoviePath(QStringLiteral("cuts")), QString(), QUuid(), nullptr);
    FakeParsedMovie(&source, 25.0, 100);
    QSignalSpy changed(&source, &Source::CutInOutChanged);

    source.SetCutOutFrame(99); // the last frame is stored as "to the end"
    QCOMPARE(changed.count(), 0);
    QCOMPARE(source.CutOutFrame(), 99);
    QCOMPARE(source.CutOut(), 3999999LL);
    source.SetCutOutFrame(500);
    QCOMPARE(changed.count(), 0);

    source.SetCutInFrame(50);
    source.SetCutInFrame(50);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(source.CutIn(), 2000000LL);

    source.SetCutOutFrame(40); // before the cut in: stops at the cut in
    QCOMPARE(source.CutOutFrame(), 50);
    QCOMPARE(source.CutOut(), 2039999LL);
    source.SetCutInFrame(60); // beyond the cut out: stops at the cut out
    QCOMPARE(source.CutInFrame(), 50);
    QVERIFY(!source.IsFullRange());

    source.SetCutInFrame(-5);
    source.SetCutOutFrame(-1);
    QCOMPARE(source.CutInFrame(), 0);
    QCOMPARE(source.CutOutFrame(), 99);
    QVERIFY(source.IsFullRange());
}

void TestSource::StoredCutInIsClampedIntoAShorterFile()
{
    Source source(MissingMoviePath(QStringLiteral("rerendered")), QString(), QUuid(), nullptr);
    source.SetCutInFrame(100); // before parsing the length is unknown
    QCOMPARE(source.CutInFrame(), 100);

    Source shorter(MissingMoviePath(QStringLiteral("rerendered")), QString(), QUuid(), nullptr);
    FakeParsedMovie(&shorter, 25.0, 20);
    shorter.SetCutInFrame(100);
    shorter.SetCutOutFrame(120);
    QCOMPARE(shorter.CutInFrame(), 19);
    QCOMPARE(shorter.CutIn(), 760000LL);
    QCOMPARE(shorter.CutOutFrame(), 19);
}

void TestSource::AudioOnlySourceCountsImageSequenceFrames()
{
    Source source(QStringLiteral("/nonexistent-tessarin-media/tone.wav"), QString(), QUuid(), nullptr);
    source.FileInfoAtIndex(0)->audioStreams = {AudioStreamInfo()};
    source.SetDuration(2500000);
    QCOMPARE(source.VideoStreamCount(), 0);
    QCOMPARE(source.FrameCount(),
             static_cast<int>(2500000.0 / AvHelpers::FrameRateToFrameStep(Settings::imageSequenceFrameRate)));
    QCOMPARE(source.FrameRate(), Settings::imageSequenceFrameRate);
}

void TestSource::DurationStringRoundsToHundredths()
{
    Source source(MissingMoviePath(QStringLiteral("long")), QString(), QUuid(), nullptr);
    source.SetDuration((3600LL + 2 * 60 + 3) * 1000000 + 456000);
    QCOMPARE(source.DurationString(), QStringLiteral("01:02:03.46"));
    QCOMPARE(source.DurationInSeconds(), 3723.456);
}

void TestSource::RelativePathUnderSourceRootWins()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("shots")));
    QString const moved = root.filePath(QStringLiteral("shots/a.mov"));
    QFile file(moved);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    QString const previousRoot = Settings::sourceRootDirPath;
    Settings::sourceRootDirPath = root.path();
    Source source(QStringLiteral("/old/place/shots/a.mov"), QStringLiteral("shots/a.mov"), QUuid(), nullptr);
    Source fresh(moved, QString(), QUuid(), nullptr);
    Settings::sourceRootDirPath = previousRoot;

    QCOMPARE(source.MediaPath(), moved);
    QCOMPARE(source.ErrorCode(), 0);
    QVERIFY(source.HasMediaPath(moved));
    QCOMPARE(fresh.RelativeMediaPath(), QStringLiteral("shots/a.mov"));
}

void TestSource::RelativePathLeadingNowhereKeepsTheStoredPaths()
{
    // A project copied to a folder at another depth: its relative paths lead
    // nowhere, its absolute ones still hold.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("media")));
    QVERIFY(QDir(root.path()).mkpath(QStringLiteral("deeper/project")));
    QString const media = root.filePath(QStringLiteral("media/a.mov"));
    QFile file(media);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    QString const previousRoot = Settings::sourceRootDirPath;
    Settings::sourceRootDirPath = root.filePath(QStringLiteral("deeper/project"));
    Source found(media, QStringLiteral("../media/a.mov"), QUuid(), nullptr);
    Source lost(QStringLiteral("/gone/media/b.mov"), QStringLiteral("../media/b.mov"), QUuid(), nullptr);
    Settings::sourceRootDirPath = previousRoot;

    QCOMPARE(found.MediaPath(), media);
    QCOMPARE(found.ErrorCode(), 0);
    QCOMPARE(found.RelativeMediaPath(), QStringLiteral("../../media/a.mov"));
    // Nothing resolves: both paths stay as stored, never the resolved guess.
    QCOMPARE(lost.ErrorCode(), 1);
    QCOMPARE(lost.MediaPath(), QStringLiteral("/gone/media/b.mov"));
    QCOMPARE(lost.RelativeMediaPath(), QStringLiteral("../media/b.mov"));
}

QTEST_GUILESS_MAIN(TestSource)
#include "tst_source.moc"
