#pragma once

#include "app/Logger.h"

#include <QMetaObject>
#include <QStringList>

#include <memory>
#include <mutex>

// The messages the logger sends through one of its signals while this lives,
// from whichever thread logs them. (QSignalSpy appends from the logging
// thread without a lock: two threads logging at once, or the test reading
// while one logs, is a race.)
class LoggedMessages
{
public:
    explicit LoggedMessages(void (Logger::*signal)(QString const&));
    ~LoggedMessages();
    LoggedMessages(LoggedMessages const&) = delete;
    LoggedMessages& operator=(LoggedMessages const&) = delete;

    QStringList Messages() const;
    int Count() const;

private:
    struct Record
    {
        std::mutex mutex;
        QStringList messages; // guarded by mutex
    };
    // Shared with the connection: a message on its way while this goes still
    // has somewhere to go.
    std::shared_ptr<Record> mRecord = std::make_shared<Record>();
    QMetaObject::Connection mConnection;
};
