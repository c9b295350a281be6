#include "app/Logger.h"
#include "app/SingleApplication.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileOpenEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <array>

#include <unistd.h>

namespace
{
using Segment = std::array<uchar, SingleApplication::SEGMENT_SIZE>;

QString const JOINER = QStringLiteral("-_???_-");

// The length byte of every record, in order, walking like the receiver does.
QList<int> RecordLengths(Segment const& segment)
{
    QList<int> lengths;
    for (size_t position = 0; position < segment.size() && segment[position] != 0; position += segment[position] + 1)
        lengths.append(segment[position]);
    return lengths;
}
} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private:
    SingleApplication* App() { return static_cast<SingleApplication*>(qApp); }

private Q_SLOTS:
    void keyIsPerUser()
    {
        QString const key = SingleApplication::PerUserKey("ZephUniqueIdentifier");
        QVERIFY(key.startsWith("ZephUniqueIdentifier"));
        QVERIFY(key.endsWith(QString::number(::getuid())));
    }

    void messageTextSkipsProgramPathAndResolvesRelativePaths()
    {
        QTemporaryDir folder;
        QString const previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(folder.path()));
        QString const here = QDir::current().absolutePath();

        QCOMPARE(SingleApplication::EncodeMessage({"/usr/bin/player"}), QByteArray("noargs"));
        QCOMPARE(SingleApplication::EncodeMessage({"/usr/bin/player", "", ""}), QByteArray("noargs"));
        QCOMPARE(SingleApplication::EncodeMessage({"/usr/bin/player", "/clips/a.mov", "", "/clips/b.mov"}),
                 QString("/clips/a.mov" + JOINER + "/clips/b.mov").toUtf8());
        QCOMPARE(SingleApplication::EncodeMessage({"player", "clip.mov", "../up/ä.mov", "sub/./x.mp4"}),
                 QString(here + "/clip.mov" + JOINER + QDir::cleanPath(here + "/../up/ä.mov") + JOINER + here +
                         "/sub/x.mp4")
                     .toUtf8());
        QVERIFY(QDir::setCurrent(previous));

        QCOMPARE(SingleApplication::DecodeMessage(QString("/a.mov" + JOINER + JOINER + "/b ä.mov").toUtf8()),
                 (QList<QString>{"/a.mov", "/b ä.mov"}));
        QCOMPARE(SingleApplication::DecodeMessage("noargs"), QList<QString>{"noargs"});
        QVERIFY(SingleApplication::DecodeMessage(QByteArray()).isEmpty());
    }

    void recordsAreWholeOrNotAtAll()
    {
        Segment segment{};
        QVERIFY(SingleApplication::AppendRecord(segment.data(), int(segment.size()), "first"));
        QVERIFY(SingleApplication::AppendRecord(segment.data(), int(segment.size()), QByteArray(255, 'x')));
        QCOMPARE(RecordLengths(segment), (QList<int>{5, 255}));

        // Longer than a length byte can say: refused, nothing written.
        Segment const before = segment;
        QVERIFY(!SingleApplication::AppendRecord(segment.data(), int(segment.size()), QByteArray(256, 'y')));
        QVERIFY(!SingleApplication::AppendRecord(segment.data(), int(segment.size()), QByteArray()));
        QVERIFY(segment == before);

        // Only the last record of a poll is delivered, and the segment is emptied.
        QCOMPARE(SingleApplication::TakeLastRecord(segment.data(), int(segment.size())), QByteArray(255, 'x'));
        QCOMPARE(segment[0], uchar(0));
        QVERIFY(SingleApplication::TakeLastRecord(segment.data(), int(segment.size())).isEmpty());
    }

    void fullSegmentRefusesInsteadOfCutting()
    {
        Segment segment{};
        // 15 records of 255 bytes take 3840 bytes; 256 are left for the 16th.
        for (int i = 0; i < 15; ++i)
            QVERIFY(SingleApplication::AppendRecord(segment.data(), int(segment.size()), QByteArray(255, 'a' + i)));
        // The record and its end mark need 1 + 255 + 1 bytes: one too many.
        Segment const before = segment;
        QVERIFY(!SingleApplication::AppendRecord(segment.data(), int(segment.size()), QByteArray(255, 'z')));
        QVERIFY(segment == before);
        QVERIFY(SingleApplication::AppendRecord(segment.data(), int(segment.size()), QByteArray(254, 'z')));
        QCOMPARE(segment.back(), uchar(0));
        QCOMPARE(SingleApplication::TakeLastRecord(segment.data(), int(segment.size())), QByteArray(254, 'z'));
    }

    void corruptLengthIsNotDelivered()
    {
        Segment segment{};
        QVERIFY(SingleApplication::AppendRecord(segment.data(), int(segment.size()), "ok"));
        // A length that would run past the end of the segment.
        segment[3] = 200;
        std::fill(segment.begin() + 4, segment.end(), uchar('q'));
        QCOMPARE(SingleApplication::TakeLastRecord(segment.data() , 100), QByteArray("ok"));
    }

    void ownerReceivesWhatIsSent()
    {
        SingleApplication* const app = App();
        QVERIFY(!app->IsRunning()); // this process made the segment
        QSignalSpy received(app, &SingleApplication::MessageAvailable);
        QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);

        // Only a forwarding process writes unless forced.
        QVERIFY(!app->SendMessage({"player", "/clips/a.mov"}, false));
        app->CheckForMessage();
        QCOMPARE(received.size(), 0);

        QVERIFY(app->SendMessage({"player", "/clips/a.mov"}, true));
        QVERIFY(app->SendMessage({"player", "/clips/b.mov", "/clips/c.mov"}, true));
        app->CheckForMessage();
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.takeFirst().first().value<QList<QString>>(), (QList<QString>{"/clips/b.mov", "/clips/c.mov"}));

        // An overlong path is refused whole, with a warning; nothing arrives.
        QString const longPath = "/clips/" + QString(300, QChar(0x00e4)) + ".mov";
        QVERIFY(!app->SendMessage({"player", longPath}, true));
        QCOMPARE(warnings.size(), 1);
        app->CheckForMessage();
        QCOMPARE(received.size(), 0);

        // A file the system asks us to open arrives like a launch's argument.
        QFileOpenEvent openEvent(QStringLiteral("/clips/opened.mov"));
        QVERIFY(QCoreApplication::sendEvent(app, &openEvent));
        app->StartMessageTimer();
        QVERIFY(received.wait(2000));
        QCOMPARE(received.takeFirst().first().value<QList<QString>>(), QList<QString>{"/clips/opened.mov"});
    }

    // A closed segment takes no record and delivers none: a launch that
    // attached to it before it went runs on its own.
    void closedSegmentRefusesRecords()
    {
        Segment segment{};
        QVERIFY(SingleApplication::AppendRecord(segment.data(), int(segment.size()), "pending"));
        QCOMPARE(SingleApplication::TakeLastRecord(segment.data(), int(segment.size())), QByteArray("pending"));
        SingleApplication::MarkClosed(segment.data(), int(segment.size()));
        QVERIFY(SingleApplication::IsClosed(segment.data(), int(segment.size())));
        QVERIFY(!SingleApplication::AppendRecord(segment.data(), int(segment.size()), "late"));
        QVERIFY(SingleApplication::TakeLastRecord(segment.data(), int(segment.size())).isEmpty());
        QVERIFY(SingleApplication::IsClosed(segment.data(), int(segment.size())));
        // No message text reads as the mark.
        Segment other{};
        QVERIFY(SingleApplication::AppendRecord(other.data(), int(other.size()),
                                                SingleApplication::EncodeMessage({"player", "\xff"})));
        QVERIFY(!SingleApplication::IsClosed(other.data(), int(other.size())));
    }

    // Last: the owner closes its channel once it begins to quit. What was
    // handed over and not read yet comes back; nothing more is taken.
    void closingReturnsTheUnreadMessage()
    {
        SingleApplication* const app = App();
        QSignalSpy received(app, &SingleApplication::MessageAvailable);
        QVERIFY(app->SendMessage({"player", "/clips/late.mov"}, true));
        QCOMPARE(app->CloseChannel(), QList<QString>{"/clips/late.mov"});
        QVERIFY(!app->SendMessage({"player", "/clips/later.mov"}, true));
        app->CheckForMessage();
        QVERIFY(received.isEmpty());
        QVERIFY(app->CloseChannel().isEmpty());
    }
};

int main(int argc, char* argv[])
{
    // A key of its own, so that a running player or a parallel test is never touched.
    SingleApplication app(argc, argv, QStringLiteral("TessarinSingleApplicationTest%1").arg(::getpid()));
    TestSingleApplication test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_singleapplication.moc"
