#include "media/ExportJournal.h"

#include "app/UserFileGuard.h"

#include <QFile>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

namespace
{
// Each step takes a line of a few hundred bytes: room for a million steps.
qint64 const MAXIMUM_JOURNAL_SIZE = 256LL * 1024 * 1024;

QByteArray Encode(QString const& text)
{
    return QUrl::toPercentEncoding(text);
}

QString Decode(QByteArray const& field)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field));
}
} // namespace

QString ExportJournal::PathFor(QString const& tempDirPath, QString const& exportName)
{
    return QStringLiteral("%1/%2_journal.txt").arg(tempDirPath, exportName);
}

ExportJournal::ExportJournal(QString const& path)
    : mPath(path)
{
}

ExportJournal::~ExportJournal()
{
    if (mFd >= 0)
    {
        ::close(mFd);
    }
}

bool ExportJournal::Begin(QString const& exportName, QString const& tempDirPath, QString const& lockPath)
{
    if (mFd >= 0)
    {
        return true;
    }
    mFd = ::open(QFile::encodeName(mPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (mFd < 0)
    {
        return false;
    }
    ProcessIdentity const owner = ProcessIdentity::Current();
    return Append({"owner", QByteArray::number(owner.pid), QByteArray::number(owner.startTicks),
                   QUrl::toPercentEncoding(QString::fromUtf8(owner.bootId)),
                   QUrl::toPercentEncoding(QString::fromUtf8(owner.host))}) &&
           Append({"export", Encode(exportName), Encode(tempDirPath), Encode(lockPath)});
}

bool ExportJournal::RecordSetAside(QString const& path, FileIdentity const& identity, QStringList const& keptPaths)
{
    QList<QByteArray> fields = {"aside", Encode(path), identity.ToText()};
    for (QString const& kept : keptPaths)
    {
        fields.append(Encode(kept));
    }
    return Append(fields);
}

bool ExportJournal::RecordMove(QString const& path)
{
    return Append({"move", Encode(path)});
}

bool ExportJournal::RecordPlaced(QString const& path, FileIdentity const& identity)
{
    return Append({"placed", Encode(path), identity.ToText()});
}

bool ExportJournal::Append(QList<QByteArray> const& fields)
{
    if (mFd < 0)
    {
        return false;
    }
    // Fields are percent-encoded or numbers: neither holds a tab or a line end.
    QByteArray const line = fields.join('\t') + '\n';
    return ::write(mFd, line.constData(), static_cast<size_t>(line.size())) == line.size();
}

bool ExportJournal::Read(QString const& path, Contents& contents)
{
    contents = Contents();
    QByteArray bytes;
    QString reason;
    if (!UserFileGuard::ReadAll(path, MAXIMUM_JOURNAL_SIZE, bytes, reason))
    {
        return false;
    }
    for (QByteArray const& line : bytes.split('\n'))
    {
        QList<QByteArray> const fields = line.split('\t');
        QByteArray const& kind = fields.first();
        if (kind == "owner" && fields.size() == 5)
        {
            contents.owner.pid = fields[1].toLongLong();
            contents.owner.startTicks = fields[2].toULongLong();
            contents.owner.bootId = QByteArray::fromPercentEncoding(fields[3]);
            contents.owner.host = QByteArray::fromPercentEncoding(fields[4]);
        }
        else if (kind == "export" && fields.size() == 4)
        {
            contents.exportName = Decode(fields[1]);
            contents.tempDirPath = Decode(fields[2]);
            contents.lockPath = Decode(fields[3]);
        }
        else if (kind == "aside" && fields.size() >= 3)
        {
            Entry entry;
            entry.kind = Kind::SetAside;
            entry.path = Decode(fields[1]);
            entry.identity = FileIdentity::FromText(fields[2]);
            for (qsizetype i = 3; i < fields.size(); ++i)
            {
                entry.keptPaths.append(Decode(fields[i]));
            }
            contents.entries.append(entry);
        }
        else if (kind == "move" && fields.size() == 2)
        {
            Entry entry;
            entry.kind = Kind::Move;
            entry.path = Decode(fields[1]);
            contents.entries.append(entry);
        }
        else if (kind == "placed" && fields.size() == 3)
        {
            Entry entry;
            entry.kind = Kind::Placed;
            entry.path = Decode(fields[1]);
            entry.identity = FileIdentity::FromText(fields[2]);
            contents.entries.append(entry);
        }
        // Anything else (a line cut short) is skipped.
    }
    return contents.owner.IsValid() && !contents.exportName.isEmpty();
}
