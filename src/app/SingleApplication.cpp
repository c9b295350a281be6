#include "app/SingleApplication.h"

#include "app/Logger.h"

#include <QDir>
#include <QFileOpenEvent>
#include <QTimer>

#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace
{
QString const ARGUMENT_JOINER = QStringLiteral("-_???_-");
QString const NO_ARGUMENTS = QStringLiteral("noargs");
constexpr int MESSAGE_POLL_INTERVAL_MS = 200;
constexpr uchar CLOSED_MARK = 0xFF;
} // namespace

SingleApplication::SingleApplication(int& argc, char** argv, QString const& key)
    : QApplication(argc, argv)
{
    mSharedMemory.setKey(PerUserKey(key));
    if (CreateSharedMemory())
    {
        return;
    }
    // A segment left behind by a process that ended without detaching goes away
    // with its last attachment: attach and detach once, then try again.
    if (mSharedMemory.attach())
    {
        mSharedMemory.detach();
    }
    if (CreateSharedMemory())
    {
        return;
    }
    mIsRunning = true;
    // Whether this worked is checked by SendMessage; without it this process runs
    // as an instance of its own.
    mSharedMemory.attach();
}

SingleApplication::~SingleApplication()
{
    if (mSharedMemory.isAttached())
    {
        mSharedMemory.detach();
    }
}

bool SingleApplication::CreateSharedMemory()
{
    if (!mSharedMemory.create(SEGMENT_SIZE))
    {
        return false;
    }
    mSharedMemory.lock();
    static_cast<uchar*>(mSharedMemory.data())[0] = 0;
    mSharedMemory.unlock();
    mIsRunning = false;
    return true;
}

bool SingleApplication::IsRunning() const
{
    return mIsRunning;
}

QString SingleApplication::PerUserKey(QString const& key)
{
    // The segment and its lock are private to the user who made them: a key
    // shared by all users would lock every other user out of the player.
#ifdef Q_OS_UNIX
    return QStringLiteral("%1_%2").arg(key).arg(::getuid());
#else
    return QStringLiteral("%1_%2").arg(key, qEnvironmentVariable("USERNAME"));
#endif
}

QByteArray SingleApplication::EncodeMessage(QList<QString> const& arguments)
{
    // The receiver runs in another folder: relative paths are resolved here.
    QDir const current = QDir::current();
    QList<QString> parts;
    for (qsizetype i = 1; i < arguments.size(); ++i)
    {
        QString const& argument = arguments.at(i);
        if (argument.isEmpty())
        {
            continue;
        }
        parts.append(QDir::isRelativePath(argument) ? QDir::cleanPath(current.absoluteFilePath(argument)) : argument);
    }
    return parts.isEmpty() ? NO_ARGUMENTS.toUtf8() : parts.join(ARGUMENT_JOINER).toUtf8();
}

QList<QString> SingleApplication::DecodeMessage(QByteArray const& text)
{
    return QString::fromUtf8(text).split(ARGUMENT_JOINER, Qt::SkipEmptyParts);
}

void SingleApplication::MarkClosed(uchar* segment, int size)
{
    if (size >= 3)
    {
        segment[0] = 1;
        segment[1] = CLOSED_MARK;
        segment[2] = 0;
    }
}

bool SingleApplication::IsClosed(uchar const* segment, int size)
{
    return size >= 3 && segment[0] == 1 && segment[1] == CLOSED_MARK;
}

bool SingleApplication::AppendRecord(uchar* segment, int size, QByteArray const& text)
{
    if (text.isEmpty() || text.size() > MAXIMUM_MESSAGE_SIZE || IsClosed(segment, size))
    {
        return false;
    }
    int position = 0;
    while (position < size && segment[position] != 0)
    {
        position += segment[position] + 1;
    }
    // The record and the end mark after it must fit whole.
    int const length = int(text.size());
    if (position + 1 + length + 1 > size)
    {
        return false;
    }
    segment[position] = uchar(length);
    std::memcpy(segment + position + 1, text.constData(), size_t(length));
    segment[position + 1 + length] = 0;
    return true;
}

QByteArray SingleApplication::TakeLastRecord(uchar* segment, int size)
{
    QByteArray last;
    if (IsClosed(segment, size))
    {
        return last;
    }
    int position = 0;
    while (position < size && segment[position] != 0)
    {
        int const length = segment[position];
        if (position + 1 + length > size)
        {
            break; // never written whole: not a message
        }
        last = QByteArray(reinterpret_cast<char const*>(segment + position + 1), length);
        position += length + 1;
    }
    if (size > 0)
    {
        segment[0] = 0;
    }
    return last;
}

bool SingleApplication::SendMessage(QList<QString> arguments, bool force)
{
    if (!mIsRunning && !force)
    {
        return false;
    }
    if (!mSharedMemory.isAttached())
    {
        Logger::GetInstance()->Warning("Shared memory is not accessible.");
        return false;
    }
    QByteArray const text = EncodeMessage(arguments);
    if (text.size() > MAXIMUM_MESSAGE_SIZE)
    {
        Logger::GetInstance()->Warning(
            QStringLiteral("Arguments too long to hand over to the running instance (%1 bytes, at most %2).")
                .arg(text.size())
                .arg(MAXIMUM_MESSAGE_SIZE));
        return false;
    }
    if (!mSharedMemory.lock())
    {
        Logger::GetInstance()->Warning("Shared memory is not accessible.");
        return false;
    }
    auto* const segment = static_cast<uchar*>(mSharedMemory.data());
    int const size = int(mSharedMemory.size());
    bool const closed = IsClosed(segment, size);
    bool const written = !closed && AppendRecord(segment, size, text);
    mSharedMemory.unlock();
    if (closed)
    {
        Logger::GetInstance()->Info("The running player is quitting: this launch opens a window of its own.");
    }
    else if (!written)
    {
        Logger::GetInstance()->Warning("Shared memory is full: the arguments could not be handed over.");
    }
    return written;
}

void SingleApplication::StartMessageTimer()
{
    if (!mSharedMemory.isAttached())
    {
        return;
    }
    if (!mMessageTimer)
    {
        mMessageTimer = new QTimer(this);
        connect(mMessageTimer, &QTimer::timeout, this, &SingleApplication::CheckForMessage);
    }
    mMessageTimer->start(MESSAGE_POLL_INTERVAL_MS);
}

QList<QString> SingleApplication::CloseChannel()
{
    if (mMessageTimer)
    {
        mMessageTimer->stop();
    }
    if (mIsRunning || !mSharedMemory.isAttached())
    {
        return {}; // not the owner: nobody hands over to this process
    }
    QByteArray pending;
    if (mSharedMemory.lock())
    {
        auto* const segment = static_cast<uchar*>(mSharedMemory.data());
        int const size = int(mSharedMemory.size());
        pending = TakeLastRecord(segment, size);
        // A launch that attached before the segment goes finds it closed.
        MarkClosed(segment, size);
        mSharedMemory.unlock();
    }
    mSharedMemory.detach();
    return DecodeMessage(pending);
}

void SingleApplication::CheckForMessage()
{
    if (!mSharedMemory.isAttached() || !mSharedMemory.lock())
    {
        return;
    }
    QByteArray const text = TakeLastRecord(static_cast<uchar*>(mSharedMemory.data()), int(mSharedMemory.size()));
    mSharedMemory.unlock();
    QList<QString> const arguments = DecodeMessage(text);
    if (!arguments.isEmpty())
    {
        Q_EMIT MessageAvailable(arguments);
    }
}

bool SingleApplication::event(QEvent* event)
{
    if (event->type() == QEvent::FileOpen)
    {
        // Goes through the segment like a later launch's arguments, so the owner's
        // poll delivers it (to this instance too when it is the owner).
        SendMessage({QString(), static_cast<QFileOpenEvent*>(event)->file()}, true);
        return true;
    }
    return QApplication::event(event);
}
