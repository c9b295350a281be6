#include "../media/EngineTestRig.h"

#include "app/Settings.h"
#include "media/AvManager.h"
#include "model/Project.h"
#include "model/ProjectManager.h"
#include "remote/CmdServer.h"

#include "support/PathFlipper.h"
#include "support/TaskHold.h"
#include "support/TimingBounds.h"
#include "support/Watchdog.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUndoCommand>
#include <QUndoStack>
#include <QtTest>


using namespace EngineTestRig;

// The client commands through the real command server and the project
// manager's engine, on a parsed numbered clip opened in the first output.
class TestClientApi : public QObject
{
    Q_OBJECT

private:
    static int FreePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : -1;
    }

    // Adds what has come in to `received`; true once it holds a whole reply.
    bool ReadReply(QByteArray& received)
    {
        received += mClient.readAll();
        return received.size() >= 10 && received.size() >= 10 + received.left(10).toLongLong();
    }

    // Sends one framed request; returns the reply text, empty when none came.
    QByteArray Send(QByteArray const& payload, int timeoutMs = 5000)
    {
        mClient.write(QByteArray::number(payload.size()).rightJustified(10, '0') + payload);
        mClient.flush();
        QByteArray received;
        if (!QTest::qWaitFor([&] { return ReadReply(received); }, timeoutMs))
        {
            return {};
        }
        return received.mid(10);
    }

    QJsonObject Command(QJsonObject const& request)
    {
        return QJsonDocument::fromJson(Send(QJsonDocument(request).toJson(QJsonDocument::Compact))).object();
    }

    int Frame(QJsonObject const& request)
    {
        return Command(request).value("frame").toInt(-100);
    }

    std::unique_ptr<ProjectManager> mManager;
    std::unique_ptr<Timeline> mTimeline;
    QTcpSocket mClient;

private Q_SLOTS:
    void initTestCase()
    {
        Settings::loopState = 0;
        Settings::pausePlaybackOnSeek = true;
        mManager = std::make_unique<ProjectManager>();
        mManager->NewProject(false);
        int const port = FreePort();
        mManager->InitializeCmdServer(port);
        mClient.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(mClient.waitForConnected(3000));
        QCOMPARE(Send(R"({"cmd":"initialize","api_version":"1.0.0"})"), QByteArray(R"({"msg":"","success":true})"));
    }

    void withoutTimelineEveryFrameIsMinusOne()
    {
        QCOMPARE(Send(R"({"cmd":"get_frame"})"), QByteArray(R"({"frame":-1,"msg":"","success":true})"));
        QCOMPARE(Send(R"({"cmd":"set_range","start_frame":2})"),
                 QByteArray(R"({"end_frame":-1,"msg":"","start_frame":-1,"success":true})"));
    }

    void openTimeline()
    {
        mTimeline = SourceTimeline("numbered_av.mp4");
        QVERIFY(mTimeline->SourcePtr()->IsParsed());
        QVERIFY(mTimeline->EndFrame() > 40);
        AvManager* const av = mManager->AvManagerPtr();
        av->DecodeTimeline(mTimeline.get(), 0, false, true, false);
        QCOMPARE(av->PrimaryTimeline(), mTimeline.get());
    }

    void framesCarryTheOffset()
    {
        QSignalSpy frameChanges(mManager.get(), &ProjectManager::ClientApiFrameChangeRequested);
        int const last = mTimeline->EndFrame();
        QCOMPARE(Frame({{"cmd", "set_frame"}, {"frame", 1}}), 1);
        QCOMPARE(mTimeline->PlaybackFrame(), 0);
        QCOMPARE(Frame({{"cmd", "get_frame"}}), 1);
        QCOMPARE(Frame({{"cmd", "set_frame"}, {"frame", 10}}), 10);
        QCOMPARE(mTimeline->FrameAtTime(mManager->AvManagerPtr()->PlaybackTime()), 9);
        QCOMPARE(frameChanges.size(), 2);

        // Far outside the timeline: the first or last frame, never a wrapped number.
        QCOMPARE(Frame({{"cmd", "set_frame"}, {"frame", 2147483647}}), last + 1);
        QCOMPARE(Frame({{"cmd", "set_frame"}, {"frame", -2147483647.0 - 1}}), 1);
        QCOMPARE(Frame({{"cmd", "set_frame"}, {"frame", 1e12}}), -100); // not a 32-bit number: refused
        QCOMPARE(Frame({{"cmd", "get_frame"}}), 1);

        // Playback time itself stays within the timeline.
        AvManager* const av = mManager->AvManagerPtr();
        av->SetPlaybackTime(-5000000, false, false, true, true);
        QCOMPARE(av->PlaybackTime(), 0LL);
        av->SetPlaybackTime(mTimeline->Duration() * 10, false, false, true, true);
        QVERIFY(av->PlaybackTime() <= mTimeline->Duration());
        // The frame told is the picture's: the last one once it is shown.
        QTRY_COMPARE_WITH_TIMEOUT(Frame({{"cmd", "get_frame"}}), last + 1, TimingBounds::CONDITION_WAIT_MS);
    }

    // Members of another type than asked for take their defaults; extreme
    // values are clamped, never wrapped.
    void rangeDefaultsAndExtremes()
    {
        int const last = mTimeline->EndFrame();
        QJsonObject range = Command({{"cmd", "set_range"}, {"start_frame", 11}, {"end_frame", 20}});
        QCOMPARE(range.value("start_frame").toInt(), 11);
        QCOMPARE(mTimeline->PlaybackRangeStartFrame(), 10);
        QCOMPARE(Frame({{"cmd", "set_frame"}, {"frame", 3}, {"from_range_start", "yes"}}), 3); // not a bool
        QCOMPARE(Frame({{"cmd", "set_frame"}, {"frame", 3}, {"from_range_start", true}}), 13);

        range = Command({{"cmd", "set_range"}, {"start_frame", -2147483647.0 - 1}, {"end_frame", 2147483647}});
        QCOMPARE(range.value("start_frame").toInt(), 1);
        QCOMPARE(range.value("end_frame").toInt(), last + 1);
        range = Command({{"cmd", "set_range"}, {"start_frame", "5"}});
        QCOMPARE(range.value("start_frame").toInt(), 1); // -1 - offset, clamped to the first frame
        QCOMPARE(range.value("end_frame").toInt(), last + 1);
    }

    // Every reply empties the undo stack; only a command that changed the
    // project, or unsaved edits that the emptied stack held, leave it unsaved.
    void everyReplyEmptiesTheUndoStack()
    {
        ProjectManager manager; // a project with no client connected
        QUndoStack* const stack = manager.UndoStackPtr();
        stack->push(new QUndoCommand(QStringLiteral("edit")));
        stack->setClean();
        QVERIFY(manager.IsUndoClean());
        manager.OnExecuteCmd(QStringLiteral("not json"));
        QCOMPARE(stack->count(), 0);
        QVERIFY(manager.IsUndoClean());

        stack->push(new QUndoCommand(QStringLiteral("unsaved edit")));
        QSignalSpy cleanChanges(&manager, &ProjectManager::UndoCleanChanged);
        manager.OnExecuteCmd(QStringLiteral(R"({"cmd":"echo"})"));
        QCOMPARE(stack->count(), 0);
        QVERIFY(!manager.IsUndoClean());
        QVERIFY(manager.HasUnsavedUserEdits()); // the user's edit, though off the stack
        QVERIFY(!cleanChanges.isEmpty());
        // A new project starts clean.
        manager.NewProject(false);
        QVERIFY(manager.IsUndoClean());
        manager.AvManagerPtr()->Shutdown();
    }

    void setRangeMarksTheProjectChanged()
    {
        mManager->SetUndoClean();
        QVERIFY(Command({{"cmd", "get_range"}}).value("success").toBool());
        QVERIFY(mManager->IsUndoClean());
        QVERIFY(Command({{"cmd", "set_range"}, {"start_frame", 2}}).value("success").toBool());
        QVERIFY(!mManager->IsUndoClean());
        // What the port changed is not the user's work.
        QVERIFY(!mManager->HasUnsavedUserEdits());
    }

    // A frame that is missing or not a number, or a range that starts after
    // its end, fails naming the argument, and neither moves nor marks.
    void invalidArgumentsChangeAndMarkNothing()
    {
        QVERIFY(Command({{"cmd", "set_range"}, {"start_frame", 5}, {"end_frame", 20}}).value("success").toBool());
        QCOMPARE(Frame({{"cmd", "set_frame"}, {"frame", 7}}), 7);
        mManager->SetUndoClean();
        QSignalSpy frameChanges(mManager.get(), &ProjectManager::ClientApiFrameChangeRequested);
        QCOMPARE(Command({{"cmd", "set_frame"}, {"frame", "abc"}}),
                 (QJsonObject{{"cmd", "set_frame"}, {"msg", "Invalid argument (frame)"}, {"success", false}}));
        QCOMPARE(Command({{"cmd", "set_frame"}, {"audio", true}}),
                 (QJsonObject{{"cmd", "set_frame"}, {"msg", "Invalid argument (frame)"}, {"success", false}}));
        QCOMPARE(Command({{"cmd", "set_range"}, {"start_frame", 30}, {"end_frame", 10}}),
                 (QJsonObject{{"cmd", "set_range"},
                              {"msg", "Invalid argument (start_frame after end_frame)"},
                              {"success", false}}));
        QVERIFY(frameChanges.isEmpty());
        QCOMPARE(Frame({{"cmd", "get_frame"}}), 7);
        QCOMPARE(Command({{"cmd", "get_range"}}),
                 (QJsonObject{{"end_frame", 20}, {"msg", ""}, {"start_frame", 5}, {"success", true}}));
        QVERIFY(mManager->IsUndoClean());
        // A start on the end is a range of one frame.
        QCOMPARE(Command({{"cmd", "set_range"}, {"start_frame", 9}, {"end_frame", 9}}).value("end_frame").toInt(), 9);
    }

    void noReplyDuringAnExport()
    {
        QUndoStack* const stack = mManager->UndoStackPtr();
        stack->push(new QUndoCommand(QStringLiteral("edit")));
        Settings::exportInProgress = true;
        QCOMPARE(Send(R"({"cmd":"echo","text":"x"})", 300), QByteArray());
        QCOMPARE(stack->count(), 1);
        Settings::exportInProgress = false;
        // Only the new command is answered; nothing of the ignored one follows.
        QCOMPARE(Send(R"({"cmd":"echo","text":"y"})"), QByteArray(R"({"msg":"","result":"y","success":true})"));
        QVERIFY(!mClient.waitForReadyRead(200));
    }

    // A parse that never ends (a read that never returns) fails the import
    // after the project's parse time-out, with a reply that says why; what
    // was open stays open.
    void stuckParseFailsTheImport()
    {
        // Without a window to ask, unsaved work is never replaced.
        QVERIFY(!mManager->IsUndoClean());
        QCOMPARE(Command({{"cmd", "import_file"}, {"file_path", TestMedia::Path("h264_cfr25.mp4")}}),
                 (QJsonObject{{"cmd", "import_file"}, {"msg", "Project has unsaved changes"}, {"success", false}}));
        QVERIFY(Frame({{"cmd", "get_frame"}}) >= 1); // the timeline is still open
        mManager->SetUndoClean();

        TaskHold hold(mManager->AvManagerPtr(), AvWorkerTaskType::ParseSource);
        QString const path = TestMedia::Path("h264_cfr25.mp4");
        Project::SetParseTimeout(500);
        QJsonObject const reply = Command({{"cmd", "import_file"}, {"file_path", path}});
        QCOMPARE(reply, (QJsonObject{{"cmd", "import_file"},
                                     {"msg", QStringLiteral("Failed to create source for file (%1): its parse did "
                                                            "not end in time")
                                                 .arg(path)},
                                     {"success", false}}));
        QVERIFY(!hold.Released()); // the reply did not wait for the parse
        QVERIFY(Frame({{"cmd", "get_frame"}}) >= 1);
        Project::SetParseTimeout(Project::DEFAULT_PARSE_TIMEOUT_MS);
    }

    // A command that comes while the user's import waits for its parse runs
    // once the parse has ended, and is answered to its client then.
    void commandDuringAParseWaitsForIt()
    {
        TaskHold hold(mManager->AvManagerPtr(), AvWorkerTaskType::ParseSource);
        Project::SetParseTimeout(500);
        QByteArray received;
        bool sent = false;
        bool arrived = false;
        bool heldBack = false;
        QMetaObject::Connection const connection =
            connect(mManager.get(), &ProjectManager::BlockUserInputChanged, this, [&](bool blocked) {
                if (blocked && !sent)
                {
                    sent = true;
                    QByteArray const payload = R"({"cmd":"echo","text":"z"})";
                    QByteArray const frame = QByteArray::number(payload.size()).rightJustified(10, '0') + payload;
                    QSignalSpy executed(mManager->CmdServerPtr(), &CmdServer::ExecuteCmd);
                    mClient.write(frame);
                    mClient.flush();
                    // The command arrives while the parse runs; the manager has
                    // taken it once the spy sees it. A reply written then would
                    // already be readable here.
                    arrived = executed.wait(5000);
                    // Further requests are not taken while that one waits: they
                    // stay in the connection, not in the player's memory.
                    mClient.write(frame + frame);
                    mClient.flush();
                    QPointer<QTcpSocket> const served = mManager->CmdServerPtr()->CommandSender();
                    heldBack = served && QTest::qWaitFor([&] { return served->bytesAvailable() >= 2 * frame.size(); }, 5000);
                    heldBack = heldBack && executed.size() == 1;
                    QCoreApplication::processEvents();
                    received += mClient.readAll();
                }
            });
        mManager->ImportFilesByPath({TestMedia::Path("h264_cfr25.mp4")}, QUuid(), -1, 0, 1, false, QUuid(), -1, -1,
                                    false);
        disconnect(connection);
        Project::SetParseTimeout(Project::DEFAULT_PARSE_TIMEOUT_MS);
        QVERIFY(sent);
        QVERIFY(arrived);
        QVERIFY(heldBack);
        QVERIFY(received.isEmpty()); // not answered inside the parse wait
        QByteArray const reply = R"({"msg":"","result":"z","success":true})";
        QByteArray const framed = QByteArray::number(reply.size()).rightJustified(10, '0') + reply;
        QVERIFY(QTest::qWaitFor([&] { received += mClient.readAll(); return received.size() >= 3 * framed.size(); }, 5000));
        QCOMPARE(received, framed + framed + framed);
    }

    // What a request may hold is bounded before it is parsed: deep nesting or
    // a flood of values is refused as malformed; a usual request is not.
    void requestJsonIsBounded()
    {
        QByteArray const refused = R"({"cmd":"???","msg":"Invalid JSON formatting","success":false})";
        QByteArray const deep = R"({"cmd":"echo","text":"d","x":)" + QByteArray(40, '[') + QByteArray(40, ']') + "}";
        QCOMPARE(Send(deep), refused);
        QByteArray many = R"({"cmd":"echo","text":"m","x":[0)";
        for (int i = 0; i < 20000; ++i)
            many += ",[]";
        QCOMPARE(Send(many + "]}"), refused);
        // A string holding brackets, commas and an escaped quote is one value.
        QByteArray const usual = "{\"cmd\":\"echo\",\"text\":\"a [[[, \\\" b\",\"c\":[1,2,3,4],\"n\":[[[[{\"k\":[]}]]]]}";
        QByteArray const echoed = "{\"msg\":\"\",\"result\":\"a [[[, \\\" b\",\"success\":true}";
        QCOMPARE(Send(usual), echoed);
    }

    // An import of a path that flips between a clip and a FIFO: the media is
    // probed off the main thread through the guarded open, every import is
    // answered and the player goes on answering.
    void importOfAPathFlippedToAFifoIsAnswered()
    {
        QFile media(TestMedia::Path("h264_cfr25.mp4"));
        QVERIFY(media.open(QIODevice::ReadOnly));
        QTemporaryDir folder;
        PathFlipper flipper(folder.path(), "flipped.mp4", media.readAll());
        QVERIFY(flipper.IsValid());
        constexpr int ROUNDS = 20;
        int answered = 0;
        {
            Watchdog watchdog("importing a media path flipped to a FIFO", std::chrono::seconds(60),
                              [&flipper] { flipper.ReleaseReaders(); });
            flipper.Start();
            for (int round = 0; round < ROUNDS; ++round)
            {
                mManager->SetUndoClean();
                QJsonObject const reply =
                    QJsonDocument::fromJson(Send(QJsonDocument(QJsonObject{{"cmd", "import_file"},
                                                                           {"file_path", flipper.Path()}})
                                                     .toJson(QJsonDocument::Compact),
                                                 30000))
                        .object();
                answered += reply.contains("success") ? 1 : 0;
            }
            QVERIFY(flipper.Stop() > 0);
            QVERIFY2(!watchdog.Disarm(), "an import blocked on the FIFO");
        }
        QCOMPARE(answered, ROUNDS);
        QCOMPARE(Send(R"({"cmd":"echo","text":"after"})"), QByteArray(R"({"msg":"","result":"after","success":true})"));
    }

    void cleanupTestCase()
    {
        mClient.disconnectFromHost();
        // The player's own shutdown leaves a task running after a second; on
        // a loaded machine a parse may take longer, and nothing here should
        // outlive the test.
        mManager->AvManagerPtr()->ClearAll(true, 30000);
        mManager.reset();
        mTimeline.reset();
    }
};

int main(int argc, char* argv[])
{
    qputenv("PULSE_SERVER", "unix:/nonexistent/tessarin-no-audio-server");
    QApplication app(argc, argv);
    TestClientApi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clientapi.moc"
