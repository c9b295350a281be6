#include "app/PrivateIniCopy.h"

#include <QtTest>

#include <utility>

// Where no folder takes a private copy (TMPDIR naming a file, no runtime
// folder, a folder beside the file that takes nothing new), the bytes are
// still parsed, and the copy is never written back.
class TestPrivateIniCopy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        mOldTemp = qgetenv("TMPDIR");
        mOldRuntime = qgetenv("XDG_RUNTIME_DIR");
        QString const notAFolder = mHome.filePath("tmp-is-a-file");
        QFile file(notAFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        qputenv("TMPDIR", QFile::encodeName(notAFolder));
        qunsetenv("XDG_RUNTIME_DIR");
    }

    void cleanupTestCase()
    {
        for (auto const& [name, value] : {std::pair("TMPDIR", mOldTemp), std::pair("XDG_RUNTIME_DIR", mOldRuntime)})
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }

    void bytesAreReadWithNoFolderForACopy()
    {
        // /proc takes no new file, whoever runs the test.
        QString const closed = QStringLiteral("/proc/self");
        QString reason;
        {
            PrivateIniCopy first;
            QVERIFY2(first.Take("[preferences]\nclientApiPort=9123\nlist=a, \"b,c\"\n", reason, closed),
                     qPrintable(reason));
            QVERIFY(first.InMemory());
            QVERIFY2(first.FolderProblems().contains(mHome.filePath("tmp-is-a-file") + ": ")
                         && first.FolderProblems().contains(closed + ": "),
                     qPrintable(first.FolderProblems()));
            QCOMPARE(first.Settings().value("preferences/clientApiPort").toInt(), 9123);
            QCOMPARE(first.Settings().value("preferences/list").toStringList(), QStringList({"a", "b,c"}));
        }

        // The next copy, of the same size and at once, reads its own bytes,
        // not the ones parsed before.
        PrivateIniCopy second;
        QVERIFY(second.Take("[preferences]\nclientApiPort=9124\nlist=a, \"b,c\"\n", reason, closed));
        QCOMPARE(second.Settings().value("preferences/clientApiPort").toInt(), 9124);

        // Never written back: the target is left as it was.
        QString const target = mHome.filePath("settings.ini");
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[preferences]\nclientApiPort=1\n") > 0);
        file.close();
        second.Settings().setValue("preferences/clientApiPort", 2);
        QCOMPARE(second.WriteTo(target, reason), PrivateIniCopy::WriteResult::Failed);
        QVERIFY2(reason.contains(closed + ": "), qPrintable(reason));
        QCOMPARE(QSettings(target, QSettings::IniFormat).value("preferences/clientApiPort").toInt(), 1);
    }

    void aFolderCopyIsPreferred()
    {
        QString reason;
        PrivateIniCopy copy;
        QVERIFY(copy.Take("[main]\nversion=1\n", reason, mHome.path()));
        QVERIFY(!copy.InMemory());
        QCOMPARE(copy.Settings().value("main/version").toInt(), 1);
    }

private:
    QTemporaryDir mHome;
    QByteArray mOldTemp;
    QByteArray mOldRuntime;
};

QTEST_MAIN(TestPrivateIniCopy)
#include "tst_privateinicopy.moc"
