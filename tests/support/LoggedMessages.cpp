#include "LoggedMessages.h"

LoggedMessages::LoggedMessages(void (Logger::*signal)(QString const&))
{
    std::shared_ptr<Record> const record = mRecord;
    mConnection = QObject::connect(
        Logger::GetInstance(), signal, Logger::GetInstance(),
        [record](QString const& message) {
            std::lock_guard<std::mutex> const lock(record->mutex);
            record->messages.append(message);
        },
        Qt::DirectConnection);
}

LoggedMessages::~LoggedMessages()
{
    QObject::disconnect(mConnection);
}

QStringList LoggedMessages::Messages() const
{
    std::lock_guard<std::mutex> const lock(mRecord->mutex);
    return mRecord->messages;
}

int LoggedMessages::Count() const
{
    return static_cast<int>(Messages().size());
}
