#include "app/Logger.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QObject::connect(Logger::GetInstance(), &Logger::OutputLogged, [](QString const& line) {
        QTextStream(stdout) << line;
    });
    Logger::GetInstance()->Output(QStringLiteral("Tessarin ORVEL %1\n").arg(QStringLiteral(TESSARIN_VERSION)));
    return 0;
}
