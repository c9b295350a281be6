#include "media/export/FileIdentity.h"

#include <QFile>
#include <QList>

#include <sys/stat.h>

FileIdentity FileIdentity::Of(QString const& path)
{
    FileIdentity identity;
    struct stat status = {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &status) != 0)
    {
        return identity;
    }
    identity.device = static_cast<quint64>(status.st_dev);
    identity.inode = static_cast<quint64>(status.st_ino);
    identity.size = static_cast<qint64>(status.st_size);
    identity.modifiedNs = static_cast<qint64>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    return identity;
}

bool FileIdentity::IsValid() const
{
    return size >= 0;
}

QByteArray FileIdentity::ToText() const
{
    return QByteArray::number(device) + ' ' + QByteArray::number(inode) + ' ' + QByteArray::number(size) + ' ' +
           QByteArray::number(modifiedNs);
}

FileIdentity FileIdentity::FromText(QByteArray const& text)
{
    QList<QByteArray> const parts = text.split(' ');
    FileIdentity identity;
    if (parts.size() != 4)
    {
        return identity;
    }
    bool ok[4] = {};
    identity.device = parts[0].toULongLong(&ok[0]);
    identity.inode = parts[1].toULongLong(&ok[1]);
    identity.size = parts[2].toLongLong(&ok[2]);
    identity.modifiedNs = parts[3].toLongLong(&ok[3]);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || identity.size < 0)
    {
        return FileIdentity();
    }
    return identity;
}
