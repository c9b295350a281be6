#include "app/Logger.h"
#include "app/Settings.h"
#include "remote/MayaToolsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>

namespace
{
QString const NODE_LINE = QStringLiteral("if(`objExists MayaToTessarinORVELScriptNode`) scriptNode -e -st %1 "
                                         "MayaToTessarinORVELScriptNode;\n");
QString const LAST_LINE = NODE_LINE.arg(7);

QString Script(QString const& timeLines)
{
    return NODE_LINE.arg(0) + timeLines + LAST_LINE;
}

QString At(int frame)
{
    return Script(QStringLiteral("currentTime %1;\n").arg(frame));
}

QString FromRangeStart(int frame)
{
    return Script(QStringLiteral("$rangeStart = `playbackOptions -q -min`;\ncurrentTime ($rangeStart + %1);\n").arg(frame));
}
} // namespace

// Maya's command port, on a thread of its own (the dialog blocks the main
// thread while it waits for an answer). It keeps every script it receives
// and answers each one as its mode says. A new connection closes the older
// ones, as a late close of a released socket would look to the dialog.
class FakeMaya : public QObject
{
    Q_OBJECT

public:
    enum Mode
    {
        Answer,       // one answer per script
        Silent,       // never answers
        AnswerTwice,  // an answer at once and a second one 150 ms later
    };

    FakeMaya()
    {
        mThread.start();
        moveToThread(&mThread);
        QMetaObject::invokeMethod(this, [this] { Listen(); }, Qt::BlockingQueuedConnection);
    }

    ~FakeMaya() override
    {
        QMetaObject::invokeMethod(this, [this] { delete mServer; }, Qt::BlockingQueuedConnection);
        mThread.quit();
        mThread.wait();
    }

    quint16 Port() const { return mPort; }
    void SetMode(Mode mode) { mMode = mode; }
    int Connections() const { return mConnections; }
    int LateAnswers() const { return mLateAnswers; }
    // Blocks the calling thread, running none of its events, until a late
    // answer has been sent or the time is up.
    bool WaitForLateAnswer(int timeoutMs) { return mLateAnswerSent.tryAcquire(1, timeoutMs); }

    QStringList Scripts() const
    {
        QMutexLocker const lock(&mMutex);
        return mScripts;
    }

    void ClearScripts()
    {
        QMutexLocker const lock(&mMutex);
        mScripts.clear();
    }

    void CloseAll()
    {
        QMetaObject::invokeMethod(
            this,
            [this] {
                for (QTcpSocket* socket : mServer->findChildren<QTcpSocket*>())
                    socket->disconnectFromHost();
            },
            Qt::BlockingQueuedConnection);
    }

private:
    void Listen()
    {
        mServer = new QTcpServer;
        mServer->listen(QHostAddress::LocalHost, 0);
        mPort = mServer->serverPort();
        connect(mServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = mServer->nextPendingConnection())
            {
                for (QTcpSocket* older : mServer->findChildren<QTcpSocket*>())
                    if (older != socket)
                        older->disconnectFromHost();
                ++mConnections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Receive(socket); });
            }
        });
    }

    void Receive(QTcpSocket* socket)
    {
        QByteArray& pending = mPending[socket];
        pending += socket->readAll();
        QByteArray const end = LAST_LINE.toLocal8Bit();
        for (qsizetype at = pending.indexOf(end); at >= 0; at = pending.indexOf(end))
        {
            {
                QMutexLocker const lock(&mMutex);
                mScripts << QString::fromLocal8Bit(pending.left(at + end.size()));
            }
            pending.remove(0, at + end.size());
            if (mMode != Silent)
                socket->write("\n");
            if (mMode == AnswerTwice)
                QTimer::singleShot(150, socket, [this, socket] {
                    socket->write("\n");
                    socket->flush();
                    ++mLateAnswers;
                    mLateAnswerSent.release();
                });
        }
    }

    QThread mThread;
    QTcpServer* mServer = nullptr;
    quint16 mPort = 0;
    std::atomic<Mode> mMode{Answer};
    std::atomic<int> mConnections{0};
    std::atomic<int> mLateAnswers{0};
    QSemaphore mLateAnswerSent;
    QHash<QTcpSocket*, QByteArray> mPending;
    mutable QMutex mMutex;
    QStringList mScripts; // guarded by mMutex
};

class TestMayaToolsDialog : public QObject
{
    Q_OBJECT

private:
    void Sync(MayaToolsDialog& dialog)
    {
        QTest::mouseClick(dialog.findChild<QPushButton*>("mayaSyncButton"), Qt::LeftButton);
    }

    QString SyncText(MayaToolsDialog& dialog)
    {
        return dialog.findChild<QPushButton*>("mayaSyncButton")->text();
    }

private Q_SLOTS:
    void init()
    {
        Settings::mayaSyncOffset = 0;
        Settings::mayaSyncMultiplier = 1.0f;
        Settings::mayaSyncFromRangeStart = false;
        Settings::mayaSyncTimeout = 500;
        Settings::mayaSyncPausedDuration = 300;
    }

    // One script per frame change, with the default settings: the first frame
    // is Maya frame 1; the multiplier truncates toward zero.
    void scriptsForFrameChanges()
    {
        FakeMaya maya;
        Settings::mayaCommandPort = maya.Port();
        MayaToolsDialog dialog;
        dialog.SetPlaybackFrame(0, 1); // not synced: nothing to send
        Sync(dialog);
        QVERIFY(dialog.IsSynced());
        QCOMPARE(SyncText(dialog), QStringLiteral("SYNCED"));
        dialog.SetPlaybackFrame(41, 1);
        QCOMPARE(maya.Scripts(), (QStringList{At(1), At(42)}));

        maya.ClearScripts();
        auto* const multiplier = dialog.findChild<QDoubleSpinBox*>();
        dialog.SetPlaybackFrame(3, 0);
        multiplier->setValue(0.5); // a change of multiplier is sent at once
        QCOMPARE(Settings::mayaSyncMultiplier, 0.5f);
        for (int frame = 0; frame <= 3; ++frame)
            dialog.SetPlaybackFrame(frame, 0);
        multiplier->setValue(1.5);
        QCOMPARE(maya.Scripts(), (QStringList{At(3), At(1), At(0), At(0), At(1), At(1), At(4)}));

        // The offset, "Current" and "From Range Start" (frame offset not added).
        maya.ClearScripts();
        multiplier->setValue(1.0);
        dialog.SetPlaybackFrame(37, 1);
        auto* const offset = dialog.findChild<QSpinBox*>();
        offset->setValue(-5);
        QCOMPARE(Settings::mayaSyncOffset, -5);
        QPushButton* const current = dialog.findChildren<QPushButton*>().at(0);
        QCOMPARE(current->text(), QStringLiteral("Current"));
        QTest::mouseClick(current, Qt::LeftButton);
        QCOMPARE(offset->value(), 37);
        QCOMPARE(Settings::mayaSyncOffset, 37);
        QTest::mouseClick(dialog.findChild<QCheckBox*>(), Qt::LeftButton);
        QVERIFY(Settings::mayaSyncFromRangeStart);
        QCOMPARE(maya.Scripts(),
                 (QStringList{At(3), At(38), At(33), At(75), FromRangeStart(74)}));

        Sync(dialog); // unsync: nothing more is sent
        QVERIFY(!dialog.IsSynced());
        QCOMPARE(SyncText(dialog), QStringLiteral("SYNC"));
        dialog.SetPlaybackFrame(1, 1);
        QCOMPARE(maya.Scripts().size(), 5);
    }

    // A client's frame change pauses the sync; the next change after the
    // pause is sent again.
    void pausedSyncSendsNothing()
    {
        FakeMaya maya;
        Settings::mayaCommandPort = maya.Port();
        MayaToolsDialog dialog;
        Sync(dialog);
        dialog.PauseSyncTemporarily();
        dialog.SetPlaybackFrame(9, 1);
        QCOMPARE(maya.Scripts().size(), 1);
        // Frame changes keep coming, as in playback: the first one after the
        // pause is sent, and only that one.
        QVERIFY(QTest::qWaitFor(
            [&] {
                dialog.SetPlaybackFrame(10, 1);
                return maya.Scripts().size() > 1;
            },
            Settings::mayaSyncPausedDuration + 5000));
        QCOMPARE(maya.Scripts().size(), 2);
        QCOMPARE(maya.Scripts().last(), At(11));
    }

    void failuresEndTheSync()
    {
        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        {
            // Nothing listens.
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            Settings::mayaCommandPort = probe.serverPort();
        }
        MayaToolsDialog dialog;
        Sync(dialog);
        QVERIFY(!dialog.IsSynced());
        QCOMPARE(errors.size(), 2);
        QCOMPARE(errors.at(0).first().toString(),
                 QStringLiteral("Failed to connect to Maya: 127.0.0.1:%1").arg(Settings::mayaCommandPort));
        QCOMPARE(errors.at(1).first().toString(),
                 QStringLiteral("A commandport must be open in Maya that matches the port number: %1")
                     .arg(Settings::mayaCommandPort));

        // Maya closes its port: the sync ends without a message.
        errors.clear();
        FakeMaya maya;
        Settings::mayaCommandPort = maya.Port();
        Sync(dialog);
        QVERIFY(dialog.IsSynced());
        maya.CloseAll();
        QTRY_VERIFY(!dialog.IsSynced());
        QCOMPARE(SyncText(dialog), QStringLiteral("SYNC"));
        QVERIFY(errors.isEmpty());
    }

    // A silent Maya ends the sync after the time-out; a new sync survives the
    // late close of the released connection.
    void silentMayaThenResync()
    {
        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        FakeMaya maya;
        Settings::mayaCommandPort = maya.Port();
        maya.SetMode(FakeMaya::Silent);
        MayaToolsDialog dialog;
        dialog.SetPlaybackFrame(4, 1);
        Sync(dialog);
        QVERIFY(!dialog.IsSynced());
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).first().toString(),
                 QStringLiteral("Timeout waiting for Maya Sync respose. Sync disconnected."));

        maya.SetMode(FakeMaya::Answer);
        Sync(dialog);
        QVERIFY(dialog.IsSynced());
        // The released socket closes and is destroyed, late.
        QTRY_COMPARE(dialog.findChildren<QTcpSocket*>().size(), 1);
        QVERIFY(dialog.IsSynced());
        dialog.SetPlaybackFrame(5, 1);
        QVERIFY(dialog.IsSynced());
        QCOMPARE(maya.Scripts(), (QStringList{At(5), At(5), At(6)}));
        QCOMPARE(maya.Connections(), 2);
        QCOMPARE(errors.size(), 1);
    }

    // An extra answer that comes late is not taken for the answer to the next
    // script.
    void lateAnswerIsNotTheNextAnswer()
    {
        QSignalSpy errors(Logger::GetInstance(), &Logger::ErrorLogged);
        FakeMaya maya;
        Settings::mayaCommandPort = maya.Port();
        maya.SetMode(FakeMaya::AnswerTwice);
        MayaToolsDialog dialog;
        Sync(dialog);
        QVERIFY(dialog.IsSynced());
        // The second answer is sent while the main thread runs no events: it
        // waits in the system, not yet read by the socket.
        QVERIFY(maya.WaitForLateAnswer(5000));
        QCOMPARE(maya.LateAnswers(), 1);
        maya.SetMode(FakeMaya::Silent);
        dialog.SetPlaybackFrame(2, 1);
        QVERIFY(!dialog.IsSynced());
        QCOMPARE(errors.size(), 1);
    }
};

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TestMayaToolsDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mayatoolsdialog.moc"
