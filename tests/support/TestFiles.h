#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace TestFiles
{
// The whole file, or nothing when it cannot be read.
inline QByteArray ReadAll(QString const& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}
