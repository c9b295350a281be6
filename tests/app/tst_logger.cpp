#include "app/Logger.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

class TestLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void OneInstance();
    void EachLevelEmitsItsSignalUnchanged();
    void CodedErrorAppendsTheCode();
    void LinesFromAWorkerArriveInOrder();
};

void TestLogger::OneInstance()
{
    QCOMPARE(Logger::GetInstance(), Logger::GetInstance());
}

void TestLogger::EachLevelEmitsItsSignalUnchanged()
{
    Logger* logger = Logger::GetInstance();
    QSignalSpy output(logger, &Logger::OutputLogged);
    QSignalSpy info(logger, &Logger::InfoLogged);
    QSignalSpy warning(logger, &Logger::WarningLogged);
    QSignalSpy error(logger, &Logger::ErrorLogged);

    logger->Output("line\n");
    logger->Info(std::string("Überblick"));
    logger->Warning(static_cast<char const*>(nullptr));
    logger->Error(QString());

    QCOMPARE(output.takeFirst().at(0).toString(), QString("line\n"));
    QCOMPARE(info.takeFirst().at(0).toString(), QString::fromUtf8("Überblick"));
    QCOMPARE(warning.takeFirst().at(0).toString(), QString());
    QCOMPARE(error.takeFirst().at(0).toString(), QString());
}

void TestLogger::CodedErrorAppendsTheCode()
{
    QSignalSpy error(Logger::GetInstance(), &Logger::ErrorLogged);
    Logger::GetInstance()->Error("Video Seek Failed", -22);
    Logger::GetInstance()->Error(std::string("x"), 0);
    QCOMPARE(error.at(0).at(0).toString(), QString("Video Seek Failed (-22)"));
    QCOMPARE(error.at(1).at(0).toString(), QString("x (0)"));
}

void TestLogger::LinesFromAWorkerArriveInOrder()
{
    QStringList received;
    QObject receiver;
    connect(Logger::GetInstance(), &Logger::InfoLogged, &receiver,
            [&](QString const& line) { received << line; });
    QThread* worker = QThread::create([] {
        for (int i = 0; i < 100; ++i)
        {
            Logger::GetInstance()->Info(QString::number(i));
        }
    });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;
    QTRY_COMPARE(received.size(), 100);
    for (int i = 0; i < 100; ++i)
    {
        QCOMPARE(received.at(i), QString::number(i));
    }
}

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
