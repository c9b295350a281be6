#include "media/export/ExportJournal.h"

#include "app/UserFileGuard.h"

#include <QFile>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Longer than any line but the path of a placed file: its kind, its
// identity's four numbers and the separators.
qint64 const PLACED_LINE_OVERHEAD = 128;

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

bool ExportJournal::Begin(QString const& exportName, QString const& lockPath)
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
    struct stat status = {};
    mSize = ::fstat(mFd, &status) == 0 ? static_cast<qint64>(status.st_size) : 0;
    ProcessIdentity const owner = ProcessIdentity::Current();
    return Append({"owner", QByteArray::number(owner.pid), QByteArray::number(owner.startTicks),
                   QUrl::toPercentEncoding(QString::fromUtf8(owner.bootId)),
                   QUrl::toPercentEncoding(QString::fromUtf8(owner.host))}) &&
           Append({"export", Encode(exportName), Encode(lockPath)});
}

bool ExportJournal::RecordSetAside(QString const& path, FileIdentity const& identity)
{
    return Append({"aside", Encode(path), identity.ToText()});
}

bool ExportJournal::RecordMove(QString const& path)
{
    // A move is noted only with room for its placed line after it, which
    // comes too late to stop the move.
    QByteArray const encoded = Encode(path);
    return Append({"move", encoded}, encoded.size() + PLACED_LINE_OVERHEAD);
}

bool ExportJournal::RecordPlaced(QString const& path, FileIdentity const& identity)
{
    return Append({"placed", Encode(path), identity.ToText()});
}

bool ExportJournal::Append(QList<QByteArray> const& fields, qint64 reserve)
{
    if (mFd < 0)
    {
        return false;
    }
    // Fields are percent-encoded or numbers: neither holds a tab or a line end.
    QByteArray const line = fields.join('\t') + '\n';
    if (mSize + line.size() + reserve > MAXIMUM_SIZE)
    {
        return false;
    }
    ssize_t const written = ::write(mFd, line.constData(), static_cast<size_t>(line.size()));
    mSize += qMax<ssize_t>(written, 0);
    return written == line.size();
}

bool ExportJournal::Read(QString const& path, Contents& contents, QString* reason)
{
    contents = Contents();
    QByteArray bytes;
    QString why;
    if (!UserFileGuard::ReadAll(path, MAXIMUM_SIZE, bytes, why))
    {
        if (reason)
        {
            *reason = why;
        }
        return false;
    }
    for (qsizetype start = 0; start < bytes.size();)
    {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
        {
            end = bytes.size();
        }
        QList<QByteArray> const fields = bytes.sliced(start, end - start).split('\t');
        start = end + 1;
        QByteArray const& kind = fields.first();
        if (kind == "owner" && fields.size() == 5)
        {
            contents.owner.pid = fields[1].toLongLong();
            contents.owner.startTicks = fields[2].toULongLong();
            contents.owner.bootId = QByteArray::fromPercentEncoding(fields[3]);
            contents.owner.host = QByteArray::fromPercentEncoding(fields[4]);
        }
        else if (kind == "export" && (fields.size() == 3 || fields.size() == 4))
        {
            // Older builds wrote the temporary folder between the two; the
            // folder is the one the journal lies in, whatever the line says.
            contents.exportName = Decode(fields[1]);
            contents.lockPath = Decode(fields.last());
        }
        else if (kind == "aside" && fields.size() >= 3)
        {
            // Older builds wrote where the file may be kept after these; the
            // recovery looks only where this export keeps files.
            Entry entry;
            entry.kind = Kind::SetAside;
            entry.path = Decode(fields[1]);
            entry.identity = FileIdentity::FromText(fields[2]);
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
    bool const named = contents.owner.IsValid() && !contents.exportName.isEmpty();
    if (!named && reason)
    {
        *reason = QStringLiteral("no export named");
    }
    return named;
}
