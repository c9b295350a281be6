#include "app/UserFileGuard.h"

#include <QFile>
#include <QFileInfo>

bool UserFileGuard::IsReadable(QString const& path, QString& reason)
{
    QFileInfo const info(path);
    if (!info.exists() && !info.isSymLink())
    {
        return true;
    }
    if (!info.isFile())
    {
        reason = QStringLiteral("not a regular file");
        return false;
    }
    if (info.size() > MAXIMUM_USER_FILE_SIZE)
    {
        reason = QStringLiteral("%1 bytes, more than %2").arg(info.size()).arg(MAXIMUM_USER_FILE_SIZE);
        return false;
    }
    return true;
}

bool UserFileGuard::PrepareForWrite(QString const& path)
{
    QString reason;
    if (IsReadable(path, reason) || QFileInfo(path).isDir())
    {
        return true;
    }
    return QFile::remove(path);
}
