#include "media/DecodeCommandInbox.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <thread>

class TestDecodeCommandInbox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void WaitEndsAtAPostNotAtTheTimeout();
    void NoPostIsLost();
    void CommandsWaitUntilTakenOnce();
};

void TestDecodeCommandInbox::WaitEndsAtAPostNotAtTheTimeout()
{
    DecodeCommandInbox inbox;
    unsigned long long const seen = inbox.Generation();
    // Nothing posted: the wait lasts its time and reports no change.
    QCOMPARE(inbox.WaitForPost(seen, 20), seen);

    std::atomic<bool> waiting {false};
    unsigned long long woke = seen;
    qint64 waitedMs = 0;
    std::thread loop([&] {
        QElapsedTimer timer;
        timer.start();
        waiting = true;
        woke = inbox.WaitForPost(seen, 30000);
        waitedMs = timer.elapsed();
    });
    QTRY_VERIFY(waiting.load());
    inbox.Post();
    loop.join();
    QCOMPARE(woke, seen + 1);
    QVERIFY2(waitedMs < 15000, "the post did not wake the waiting loop");
    // A post made before the wait began is seen at once.
    inbox.Post();
    QCOMPARE(inbox.WaitForPost(seen + 1, 30000), seen + 2);
}

void TestDecodeCommandInbox::NoPostIsLost()
{
    // A loop that only looks at the generation between its waits never
    // misses a post made while it was busy.
    DecodeCommandInbox inbox;
    int const posts = 2000;
    std::thread front([&] {
        for (int i = 0; i < posts; ++i)
        {
            inbox.Post();
        }
    });
    unsigned long long seen = 0;
    while (seen < static_cast<unsigned long long>(posts))
    {
        seen = inbox.WaitForPost(seen, 30000);
    }
    front.join();
    QCOMPARE(inbox.Generation(), static_cast<unsigned long long>(posts));
}

void TestDecodeCommandInbox::CommandsWaitUntilTakenOnce()
{
    DecodeCommandInbox inbox;
    inbox.Post(); // a wake carries no command
    QVERIFY(!inbox.CommandPending());
    inbox.Post(DecodeCommand::Seek);
    // A seek may turn out to need nothing: what the decoder holds stays.
    QVERIFY(inbox.CommandPending() && !inbox.DiscardPending() && !inbox.StopPending());
    inbox.Post(DecodeCommand::Seek);
    inbox.Post(DecodeCommand::UpdateTrack);
    QVERIFY(inbox.DiscardPending());

    DecodeCommandInbox::Taken const taken = inbox.Take();
    QCOMPARE(taken.generation, inbox.Generation());
    QVERIFY(DecodeCommandInbox::Has(taken.commands, DecodeCommand::Seek));
    QVERIFY(DecodeCommandInbox::Has(taken.commands, DecodeCommand::UpdateTrack));
    QVERIFY(!DecodeCommandInbox::Has(taken.commands, DecodeCommand::Stop));
    QVERIFY(!inbox.CommandPending());
    QCOMPARE(inbox.Take().commands, 0u);

    inbox.Post(DecodeCommand::Stop);
    QVERIFY(inbox.StopPending() && inbox.DiscardPending());
    QVERIFY(inbox.WaitForPost(taken.generation, 30000) > taken.generation);
}

QTEST_GUILESS_MAIN(TestDecodeCommandInbox)
#include "tst_decodecommandinbox.moc"
