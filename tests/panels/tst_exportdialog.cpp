// TESSARIN_TEST: own-home
// The export dialog offscreen: its rows, resolved paths, checks, the request
// it emits, the exporting state, stopping and the progress bar.

#include "app/Settings.h"
#include "media/ExportProperties.h"
#include "panels/ExportDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace
{

// Clicks the given button of the next question box as soon as it shows.
void AnswerNextQuestion(QMessageBox::StandardButton answer)
{
    auto* poll = new QTimer();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        {
            poll->stop();
            poll->deleteLater();
            QTest::mouseClick(box->button(answer), Qt::LeftButton);
        }
    });
    poll->start(10);
}

} // namespace

class TestExportDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void RowsFollowTheFormatAndTheInput();
    void PathsResolveAgainstTheExportFolder();
    void ExportEmitsTheRequestOrRefusesTheOutput();
    void ExportingDisablesFieldsAndStopAsksFirst();
    void ProgressIsWeightedAndEndsFull();
    void AMissingEncoderDisablesExport();
    void LogLinesReachTheirPanes();
    void ResolutionButtonsAndShowInFolder();

private:
    template <typename T>
    T* Child(QString const& name) const
    {
        T* child = mDialog->findChild<T*>(name);
        if (!child)
        {
            qFatal("no child %s", qPrintable(name));
        }
        return child;
    }
    bool Shown(QString const& name) const { return mDialog->findChild<QWidget*>(name)->isVisibleTo(mDialog.get()); }
    QString Pane(QString const& name) const { return Child<QPlainTextEdit>(name)->toPlainText(); }
    // Near the left edge: a check box takes clicks on its box and text only.
    void Click(QString const& name)
    {
        auto* button = Child<QAbstractButton>(name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }

    QTemporaryDir mDir;
    std::unique_ptr<ExportDialog> mDialog;
};

void TestExportDialog::initTestCase()
{
    QVERIFY(mDir.isValid());
}

void TestExportDialog::init()
{
    Settings::exportDirPath = mDir.path();
    Settings::ffmpegExePath.clear();
    Settings::exportFileFormat = "mp4";
    Settings::exportViewer = false;
    Settings::exportImagePadding = 4;
    Settings::exportForceOverwrite = false;
    mDialog = std::make_unique<ExportDialog>();
    mDialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(mDialog.get()));
}

void TestExportDialog::cleanup()
{
    if (mDialog->IsExporting())
    {
        mDialog->SetExporting(false, nullptr);
    }
    mDialog.reset();
}

void TestExportDialog::RowsFollowTheFormatAndTheInput()
{
    QCOMPARE(mDialog->windowTitle(), QString("Export"));
    QVERIFY(Child<QRadioButton>("timelineSources")->isChecked());
    // Timeline sources, mp4: no frame choices, no annotations, no padding.
    QVERIFY(Shown("width") && Shown("timelineSources") && Shown("excludeAudio") && Shown("ignoreRange"));
    QVERIFY(!Shown("allFrames") && !Shown("excludeAnnotations") && !Shown("padding"));

    Click("viewerCapture");
    QVERIFY(Shown("allFrames") && Shown("stepped") && Shown("excludeAnnotations"));
    QVERIFY(!Shown("onlyBookmarks")); // a video has no "only bookmarks"

    Child<QComboBox>("format")->setCurrentText("png");
    QVERIFY(Shown("allFrames") && Shown("stepped") && Shown("onlyBookmarks"));
    QVERIFY(Shown("padding") && !Shown("excludeAudio"));
    Click("onlyBookmarks");
    // Back to a video, the hidden choice gives way.
    Child<QComboBox>("format")->setCurrentText("mov");
    QVERIFY(Child<QRadioButton>("allFrames")->isChecked());

    // wav: only the output rows, Ignore Range and the log stay.
    Child<QComboBox>("format")->setCurrentText("wav");
    QVERIFY(!Shown("width") && !Shown("timelineSources") && !Shown("viewerCapture") && !Shown("allFrames"));
    QVERIFY(!Shown("excludeAudio") && !Shown("excludeAnnotations") && !Shown("padding"));
    QVERIFY(Shown("ignoreRange") && Shown("outputDir") && Shown("fileName") && Shown("generalLog"));
}

void TestExportDialog::PathsResolveAgainstTheExportFolder()
{
    auto* label = Child<QLabel>("resolvedPath");
    // Empty folder and name: the export folder and "output".
    QCOMPARE(label->text(), mDir.filePath("output.mp4"));
    QCOMPARE(mDialog->OutputFileName(), QString("output"));
    QTest::keyClicks(Child<QLineEdit>("outputDir"), "renders/day 1");
    QCOMPARE(label->text(), mDir.filePath("renders/day 1/output.mp4"));
    QTest::keyClicks(Child<QLineEdit>("fileName"), "shot");
    QCOMPARE(mDialog->OutputFilePath(), mDir.filePath("renders/day 1/shot.mp4"));
    Child<QComboBox>("format")->setCurrentText("jpg");
    QCOMPARE(label->text(), mDir.filePath("renders/day 1/shot.####.jpg"));
    Child<QComboBox>("padding")->setCurrentIndex(2);
    QCOMPARE(mDialog->ImageSequencePadding(), 3);
    QCOMPARE(label->text(), mDir.filePath("renders/day 1/shot.###.jpg"));

    // What choosing a file does.
    mDialog->SetOutputFilePath("/elsewhere/take.v2.mov");
    QCOMPARE(Child<QLineEdit>("outputDir")->text(), QString("/elsewhere"));
    QCOMPARE(Child<QLineEdit>("fileName")->text(), QString("take.v2"));
    QCOMPARE(label->text(), QString("/elsewhere/take.v2.###.jpg"));
}

void TestExportDialog::ExportEmitsTheRequestOrRefusesTheOutput()
{
    Settings::h264Quality = 2;
    Settings::h264Preset = 5;
    Settings::exportImageNumberingType = 2;
    QSignalSpy requested(mDialog.get(), &ExportDialog::ExportRequested);
    QFile existing(mDir.filePath("output.mp4"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();

    Click("export");
    QCOMPARE(requested.count(), 0);
    QCOMPARE(Pane("generalLog"),
             QString("[ERROR] Export failed. Output file already exists (enable force overwrite to continue)."));

    Click("forceOverwrite");
    Click("excludeAudio");
    Click("ignoreRange");
    Child<QSpinBox>("width")->setValue(1280);
    Child<QSpinBox>("height")->setValue(720);
    Click("export");
    QCOMPARE(requested.count(), 1);
    QCOMPARE(Pane("generalLog"), QString()); // cleared at each export
    auto request = requested.takeFirst().at(0).value<ExportProperties>();
    QCOMPARE(request.outputFilePath, mDir.filePath("output.mp4"));
    QCOMPARE(request.width, 1280);
    QCOMPARE(request.height, 720);
    QVERIFY(request.noAudio);
    QVERIFY(request.ignoreRange);
    QVERIFY(!request.viewerCapture && !request.imageSequence);
    QCOMPARE(request.framesMode, 0);
    QCOMPARE(request.h264Quality, 2);
    QCOMPARE(request.h264Preset, 5);

    // An image sequence never fails for an existing path.
    Click("forceOverwrite");
    Click("viewerCapture");
    Child<QComboBox>("format")->setCurrentText("png");
    Click("stepped");
    QFile pattern(mDialog->OutputFilePath());
    QVERIFY(pattern.open(QIODevice::WriteOnly));
    pattern.close();
    Click("export");
    QCOMPARE(requested.count(), 1);
    request = requested.takeFirst().at(0).value<ExportProperties>();
    QVERIFY(request.imageSequence && request.viewerCapture);
    QCOMPARE(request.framesMode, 2);
    QCOMPARE(request.imageDirPath, mDir.path());
    QCOMPARE(request.imageBaseName, QString("output"));
    QCOMPARE(request.imagePadding, 4);
    QCOMPARE(request.imageExtension, QString("png"));
    QCOMPARE(request.imageNumberingType, 2);
    // Frames of the same names are written over only with Force overwrite.
    QVERIFY(!request.overwriteExisting);
    Click("forceOverwrite");
    Click("export");
    QCOMPARE(requested.count(), 1);
    QVERIFY(requested.takeFirst().at(0).value<ExportProperties>().overwriteExisting);
}

void TestExportDialog::ExportingDisablesFieldsAndStopAsksFirst()
{
    ExportProperties request;
    QSignalSpy cancelled(mDialog.get(), &ExportDialog::CancelRequested);
    QSignalSpy requested(mDialog.get(), &ExportDialog::ExportRequested);
    mDialog->SetExporting(true, &request);
    QVERIFY(!Child<QLineEdit>("outputDir")->isEnabled() && !Child<QToolButton>("selectPath")->isEnabled());
    QVERIFY(!Child<QSpinBox>("width")->isEnabled() && !Child<QCheckBox>("ignoreRange")->isEnabled());
    QVERIFY(Shown("progress") && !Shown("export"));
    QCOMPARE(Child<QPushButton>("close")->text(), QString("Stop"));
    mDialog->Export(); // ignored while exporting
    QCOMPARE(requested.count(), 0);

    AnswerNextQuestion(QMessageBox::No);
    Click("close");
    QCOMPARE(cancelled.count(), 0);
    AnswerNextQuestion(QMessageBox::Yes);
    Click("close");
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(mDialog->isVisible()); // Stop keeps the dialog open

    // Escape asks too; No keeps it open, Yes cancels and closes.
    AnswerNextQuestion(QMessageBox::No);
    QTest::keyClick(mDialog.get(), Qt::Key_Escape);
    QVERIFY(mDialog->isVisible());
    QCOMPARE(cancelled.count(), 1);
    AnswerNextQuestion(QMessageBox::Yes);
    QTest::keyClick(mDialog.get(), Qt::Key_Escape);
    QCOMPARE(cancelled.count(), 2);
    QVERIFY(!mDialog->isVisible());

    mDialog->SetExporting(false, nullptr);
    QCOMPARE(Child<QPushButton>("close")->text(), QString("Close"));
    QVERIFY(Child<QLineEdit>("outputDir")->isEnabled());
    QVERIFY(Child<QPushButton>("export")->isVisibleTo(mDialog.get()));
    QVERIFY(!Child<QProgressBar>("progress")->isVisibleTo(mDialog.get()));
    QVERIFY(!mDialog->ConfirmStop()); // idle: nothing to stop
}

void TestExportDialog::ProgressIsWeightedAndEndsFull()
{
    auto* bar = Child<QProgressBar>("progress");
    QCOMPARE(bar->maximum(), 1000);
    ExportProperties request;
    // The monitor's weights for audio and video sum to 1.56.
    mDialog->SetProgressBarWeights(0.1f, 0.86f, 0.4f, 0.2f);
    mDialog->SetExporting(true, &request);
    QCOMPARE(bar->value(), 0);
    request.audioProgress = 100.0f;
    request.videoProgress = 50.0f;
    QTRY_COMPARE(bar->value(), 340); // (10 + 43) / 1.56 percent
    request.videoProgress = 100.0f;
    request.stageProgress = 100.0f;
    request.finalProgress = 100.0f;
    mDialog->SetExporting(false, nullptr);
    QCOMPARE(bar->value(), 1000);

    // A video alone.
    ExportProperties video;
    mDialog->SetProgressBarWeights(0.0f, 0.98f, 0.02f, 0.0f);
    mDialog->SetExporting(true, &video);
    video.videoProgress = 100.0f;
    QTRY_COMPARE(bar->value(), 980);
    video.stageProgress = 100.0f;
    mDialog->SetExporting(false, nullptr);
    QCOMPARE(bar->value(), 1000);
}

void TestExportDialog::AMissingEncoderDisablesExport()
{
    // The ffmpeg on the PATH serves when the setting is empty.
    QVERIFY(Child<QPushButton>("export")->isEnabled());
    QCOMPARE(Pane("generalLog"), QString());

    mDialog->hide();
    Settings::ffmpegExePath = mDir.filePath("missing/ffmpeg");
    mDialog->show();
    QVERIFY(!Child<QPushButton>("export")->isEnabled());
    QCOMPARE(Pane("generalLog"), QString("[ERROR] The ffmpeg path does not exist: %1").arg(Settings::ffmpegExePath));

    mDialog->hide();
    Settings::ffmpegExePath.clear();
    QByteArray const path = qgetenv("PATH");
    qputenv("PATH", mDir.path().toUtf8());
    mDialog->show();
    qputenv("PATH", path);
    QVERIFY(!Child<QPushButton>("export")->isEnabled());
    QCOMPARE(Pane("generalLog"), QString("[ERROR] The ffmpeg path is not set (Preferences->Export)"));
    // Closing with the encoder missing clears the panes.
    QTest::keyClick(mDialog.get(), Qt::Key_Escape);
    QCOMPARE(Pane("generalLog"), QString());

    mDialog->show();
    QVERIFY(Child<QPushButton>("export")->isEnabled());
}

void TestExportDialog::LogLinesReachTheirPanes()
{
    auto* selector = Child<QComboBox>("logSelector");
    QVERIFY(Shown("generalLog") && !Shown("audioLog") && !Shown("videoLog"));
    mDialog->AppendToOutput("frame=  10", ExportLoggingMsgType::Video, false);
    mDialog->AppendToOutput("size=1kB", ExportLoggingMsgType::Audio, false);
    selector->setCurrentIndex(2);
    QVERIFY(!Shown("generalLog") && Shown("videoLog"));
    mDialog->AppendToOutput("video broke", ExportLoggingMsgType::Video, true);
    QCOMPARE(selector->currentIndex(), 2); // only general errors switch panes
    mDialog->AppendToOutput("Export failed", ExportLoggingMsgType::General, true);
    QCOMPARE(selector->currentIndex(), 0);
    QVERIFY(Shown("generalLog") && !Shown("videoLog"));
    QCOMPARE(Pane("videoLog"), QString("frame=  10\n[ERROR] video broke"));
    QCOMPARE(Pane("audioLog"), QString("size=1kB"));
    QCOMPARE(Pane("generalLog"), QString("[ERROR] Export failed"));
    Click("clear");
    QCOMPARE(Pane("videoLog") + Pane("audioLog") + Pane("generalLog"), QString());
}

void TestExportDialog::ResolutionButtonsAndShowInFolder()
{
    auto* width = Child<QSpinBox>("width");
    auto* height = Child<QSpinBox>("height");
    QCOMPARE(width->singleStep(), 2);
    mDialog->SetTimelineWidthHeight(1920, 1080);
    Click("matchTimeline");
    QCOMPARE(QSize(width->value(), height->value()), QSize(1920, 1080));
    Click("matchDefault");
    QCOMPARE(QSize(width->value(), height->value()), QSize(Settings::exportGlobalWidth, Settings::exportGlobalHeight));
    mDialog->SetTimelineWidthHeight(-1, -1); // no timeline: the global size
    mDialog->SetWidthHeight(640, 360);
    Click("matchTimeline");
    QCOMPARE(QSize(width->value(), height->value()), QSize(Settings::exportGlobalWidth, Settings::exportGlobalHeight));

    QString const missing = mDir.filePath("not made yet");
    QTest::keyClicks(Child<QLineEdit>("outputDir"), missing);
    Click("showInFolder");
    QCOMPARE(Pane("generalLog"), QString("[ERROR] Output directory does not exist: %1").arg(missing));
}

QTEST_MAIN(TestExportDialog)
#include "tst_exportdialog.moc"
