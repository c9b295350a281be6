#include <QProcess>
#include <QtTest>

#include <cstdlib>

namespace
{
// What the child run of this program does beyond its test case.
char const* const CHILD_MODE = "TESSARIN_PROCESS_END_CHILD";

// A library's teardown that aborts, registered as Qt registers its global
// objects' destruction: on first use, while the tests run.
struct AbortingTeardown
{
    ~AbortingTeardown()
    {
        std::abort();
    }
};

// Runs this program's ChildCase in a process of its own, in the mode given.
struct ChildRun
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString output;
};

ChildRun RunChild(QByteArray const& mode)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(CHILD_MODE), QString::fromLatin1(mode));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("ChildCase")});
    ChildRun run;
    if (!child.waitForFinished(120000))
    {
        child.kill();
        child.waitForFinished();
        return run;
    }
    run.exitCode = child.exitCode();
    run.exitStatus = child.exitStatus();
    run.output = QString::fromLocal8Bit(child.readAllStandardOutput() + child.readAllStandardError());
    return run;
}
} // namespace

// A test program ends with the status of its tests once its application
// object is gone, without the exit handlers that libraries registered while
// it ran (the sound library's teardown aborted finished runs now and then).
class TestProcessEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ChildCase();
    void PassedRunEndsWithSuccessPastAnAbortingTeardown();
    void FailedRunKeepsItsStatus();
    void LeakIsStillFoundInTheAddressSanitizerBuild();
};

void TestProcessEnd::ChildCase()
{
    QByteArray const mode = qgetenv(CHILD_MODE);
    if (mode == "teardown")
    {
        static AbortingTeardown const teardown;
    }
    else if (mode == "fail")
    {
        QFAIL("failed on purpose");
    }
    else if (mode == "leak")
    {
        // Lost: the one pointer to it is overwritten.
        static int* volatile held = nullptr;
        held = new int[1000];
        held = nullptr;
    }
}

void TestProcessEnd::PassedRunEndsWithSuccessPastAnAbortingTeardown()
{
    ChildRun const run = RunChild("teardown");
    QVERIFY2(run.exitStatus == QProcess::NormalExit && run.exitCode == 0, qPrintable(run.output));
    // What the test framework wrote is all there.
    QVERIFY2(run.output.contains(QStringLiteral("Totals: ")), qPrintable(run.output));
}

void TestProcessEnd::FailedRunKeepsItsStatus()
{
    ChildRun const run = RunChild("fail");
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
}

void TestProcessEnd::LeakIsStillFoundInTheAddressSanitizerBuild()
{
#if defined(__SANITIZE_ADDRESS__)
    if (!qEnvironmentVariable("ASAN_OPTIONS").contains(QStringLiteral("detect_leaks=1")))
    {
        QSKIP("leak detection is off");
    }
    ChildRun const run = RunChild("leak");
    QVERIFY2(run.exitStatus != QProcess::NormalExit || run.exitCode != 0, qPrintable(run.output));
    QVERIFY2(run.output.contains(QStringLiteral("LeakSanitizer")), qPrintable(run.output));
#else
    QSKIP("only the AddressSanitizer build checks for leaks");
#endif
}

QTEST_GUILESS_MAIN(TestProcessEnd)
#include "tst_processend.moc"
