#include "app/ConsoleOutput.h"
#include "app/ConsoleWindow.h"
#include "app/Logger.h"
#include "app/Settings.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>

#include <memory>

class TestConsoleWindow : public QObject
{
    Q_OBJECT

private:
    static QString Text(ConsoleWindow& console) { return console.findChild<ConsoleOutput*>()->toPlainText(); }

    static std::unique_ptr<ConsoleWindow> Make(int showOnType)
    {
        Settings::consoleShowOnType = showOnType;
        return std::make_unique<ConsoleWindow>();
    }

private Q_SLOTS:
    void storedChoiceOutOfRangeShowsErrorsOnly()
    {
        for (int const stored : {-1, 7})
        {
            auto const console = Make(stored);
            QCOMPARE(console->findChild<QComboBox*>()->currentIndex(), 1);
            QCOMPARE(Settings::consoleShowOnType, stored); // written back only on a user's change
        }
        auto const console = Make(3);
        QCOMPARE(console->findChild<QComboBox*>()->currentIndex(), 3);
        console->findChild<QComboBox*>()->setCurrentIndex(4);
        QCOMPARE(Settings::consoleShowOnType, 4);
    }

    void linesPopTheWindowUpByLevel()
    {
        auto const console = Make(2); // errors and warnings
        Logger* const logger = Logger::GetInstance();
        logger->Info("an info line");
        QVERIFY(console->isHidden());
        QCOMPARE(Text(*console), QString("an info line\n"));
        logger->Warning("a warning");
        QVERIFY(console->isVisible());
        console->hide();
        logger->Error("an error");
        QVERIFY(console->isVisible());

        auto const silent = Make(0);
        logger->Error("unseen");
        QVERIFY(silent->isHidden());
        QVERIFY(Text(*silent).endsWith("[ERROR] unseen\n"));
    }

    void outputBuildsLinesAndOnlyMarkersAreColoured()
    {
        auto const console = Make(0);
        Logger* const logger = Logger::GetInstance();
        logger->Output("Cache: ");
        logger->Output("512\n");
        logger->Error("failed");
        logger->Warning("mind the [ERROR] inside");
        QCOMPARE(Text(*console), QString("Cache: 512\n[ERROR] failed\n[WARNING] mind the [ERROR] inside\n"));

        QTextDocument* const document = console->findChild<ConsoleOutput*>()->document();
        auto const formats = [&](int block) { return document->findBlockByNumber(block).layout()->formats(); };
        QVERIFY(formats(0).isEmpty());
        QCOMPARE(formats(1).size(), 1);
        QCOMPARE(formats(1).first().start, 0);
        QCOMPARE(formats(1).first().length, 7);
        QCOMPARE(formats(1).first().format.foreground().color(), QColor(Qt::red));
        QCOMPARE(formats(2).size(), 2); // the warning marker and the error marker after it
    }

    void commandLineEmitsTheTextUnchanged()
    {
        auto const console = Make(0);
        QSignalSpy executed(console.get(), &ConsoleWindow::CommandExecuted);
        auto* const line = console->findChild<QLineEdit*>();
        for (QString const text : {" Clear ", ""})
        {
            line->setText(text);
            QMetaObject::invokeMethod(line, "returnPressed");
            QCOMPARE(executed.takeFirst().first().toString(), text);
            QVERIFY(line->text().isEmpty());
        }
        console->findChild<ConsoleOutput*>()->appendPlainText("x");
        console->ClearOutput();
        QCOMPARE(Text(*console), QString());
    }
};

QTEST_MAIN(TestConsoleWindow)
#include "tst_consolewindow.moc"
