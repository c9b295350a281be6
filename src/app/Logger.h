#pragma once

#include <QObject>
#include <QString>

#include <string>

// The one channel every part of the player reports through. It only emits one
// signal per level; the console window shows the lines. Any thread may log.
class Logger : public QObject
{
    Q_OBJECT

public:
    static Logger* GetInstance();

    void Output(QString const& message);
    void Output(char const* message);
    void Output(std::string const& message);

    void Info(QString const& message);
    void Info(char const* message);
    void Info(std::string const& message);

    void Warning(QString const& message);
    void Warning(char const* message);
    void Warning(std::string const& message);

    void Error(QString const& message);
    void Error(char const* message);
    void Error(std::string const& message);
    void Error(QString const& message, int code);
    void Error(char const* message, int code);
    void Error(std::string const& message, int code);

Q_SIGNALS:
    void OutputLogged(QString const& message);
    void InfoLogged(QString const& message);
    void WarningLogged(QString const& message);
    void ErrorLogged(QString const& message);

private:
    explicit Logger(QObject* parent = nullptr);

    static QString FromUtf8(char const* message);

    static Logger* mInstance;
};
