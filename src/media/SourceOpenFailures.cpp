#include "media/SourceOpenFailures.h"

#include "media/AvDecoderBase.h"
#include "model/Source.h"

#include <QFile>
#include <qplatformdefs.h>

bool SourceOpenFailures::Open(AvDecoderBase* decoder, Source* source, int streamIndex)
{
    QString const path = source ? source->FilePath(0) : QString();
    QString const state = FileState(path);
    auto const failed = mFailed.constFind(path);
    if (failed != mFailed.cend() && failed.value() == state)
    {
        return false; // reported when it failed, and unchanged since
    }
    if (decoder->OpenSource(source, 0, streamIndex))
    {
        mFailed.remove(path);
        return true;
    }
    mFailed.insert(path, state);
    return false;
}

QString SourceOpenFailures::FileState(QString const& path)
{
    QT_STATBUF info;
    if (QT_STAT(QFile::encodeName(path).constData(), &info) != 0)
    {
        return QStringLiteral("missing");
    }
    return QStringLiteral("%1 %2 %3 %4")
        .arg(info.st_ino)
        .arg(info.st_size)
        .arg(info.st_mtim.tv_sec)
        .arg(info.st_mtim.tv_nsec);
}
