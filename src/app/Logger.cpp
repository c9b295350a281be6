#include "app/Logger.h"

#include <mutex>

Logger* Logger::mInstance = nullptr;

Logger::Logger(QObject* parent)
    : QObject(parent)
{
}

Logger* Logger::GetInstance()
{
    // Decoder threads may log before the main thread ever has: make the first
    // creation race-free. The instance lives until the process ends.
    static std::once_flag once;
    std::call_once(once, [] { mInstance = new Logger(); });
    return mInstance;
}

QString Logger::FromUtf8(char const* message)
{
    return message ? QString::fromUtf8(message) : QString();
}

void Logger::Output(QString const& message) { Q_EMIT OutputLogged(message); }
void Logger::Output(char const* message) { Output(FromUtf8(message)); }
void Logger::Output(std::string const& message) { Output(QString::fromStdString(message)); }

void Logger::Info(QString const& message) { Q_EMIT InfoLogged(message); }
void Logger::Info(char const* message) { Info(FromUtf8(message)); }
void Logger::Info(std::string const& message) { Info(QString::fromStdString(message)); }

void Logger::Warning(QString const& message) { Q_EMIT WarningLogged(message); }
void Logger::Warning(char const* message) { Warning(FromUtf8(message)); }
void Logger::Warning(std::string const& message) { Warning(QString::fromStdString(message)); }

void Logger::Error(QString const& message) { Q_EMIT ErrorLogged(message); }
void Logger::Error(char const* message) { Error(FromUtf8(message)); }
void Logger::Error(std::string const& message) { Error(QString::fromStdString(message)); }

void Logger::Error(QString const& message, int code)
{
    Error(message + QStringLiteral(" (%1)").arg(code));
}
void Logger::Error(char const* message, int code) { Error(FromUtf8(message), code); }
void Logger::Error(std::string const& message, int code) { Error(QString::fromStdString(message), code); }
