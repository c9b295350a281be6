#include "panels/UiHelpers.h"

#include <QApplication>
#include <QDataStream>
#include <QDrag>
#include <QFrame>
#include <QIODevice>
#include <QMainWindow>

namespace UiHelpers
{
namespace
{
constexpr QDataStream::Version ID_LIST_STREAM_VERSION = QDataStream::Qt_6_4;
constexpr quint32 EXTENDED_SIZE_MARKER = 0xFFFFFFFEu;
constexpr qint64 UUID_BYTES = 16;

QFrame* CreateLine(QFrame::Shape shape)
{
    auto* const line = new QFrame();
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    line->setLineWidth(1);
    line->setStyleSheet(QStringLiteral("background-color:rgb(100, 100, 100)"));
    return line;
}
} // namespace

QMainWindow* MainWindow()
{
    for (QWidget* const widget : QApplication::topLevelWidgets())
    {
        if (auto* const window = qobject_cast<QMainWindow*>(widget))
        {
            return window;
        }
    }
    return nullptr;
}

QFrame* CreateHorizontalLine()
{
    QFrame* const line = CreateLine(QFrame::HLine);
    line->setFixedHeight(1);
    return line;
}

QFrame* CreateVerticalLine()
{
    QFrame* const line = CreateLine(QFrame::VLine);
    line->setFixedWidth(1);
    line->setFixedHeight(20);
    return line;
}

void ExecMoveDrag(QWidget* source, QMimeData* data, std::function<void(bool)> const& inProgress)
{
    auto* drag = new QDrag(source);
    drag->setMimeData(data);
    inProgress(true);
    drag->exec(Qt::MoveAction);
    inProgress(false);
    if (source->hasFocus())
    {
        source->clearFocus();
        source->setFocus(Qt::OtherFocusReason);
    }
}

QByteArray WriteIdList(QList<QUuid> const& ids)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    stream.setVersion(ID_LIST_STREAM_VERSION);
    stream.setByteOrder(QDataStream::BigEndian);
    stream << ids;
    return payload;
}

QList<QUuid> ReadIdList(QByteArray const& payload)
{
    QDataStream stream(payload);
    stream.setVersion(ID_LIST_STREAM_VERSION);
    stream.setByteOrder(QDataStream::BigEndian);
    quint32 shortCount = 0;
    stream >> shortCount;
    if (stream.status() != QDataStream::Ok)
    {
        return {};
    }
    qint64 count = shortCount;
    if (shortCount == EXTENDED_SIZE_MARKER)
    {
        stream >> count;
        if (stream.status() != QDataStream::Ok || count < 0)
        {
            return {};
        }
    }
    else if (shortCount > EXTENDED_SIZE_MARKER)
    {
        return {};
    }
    qint64 const bytesLeft = payload.size() - stream.device()->pos();
    if (count > bytesLeft / UUID_BYTES || count * UUID_BYTES != bytesLeft)
    {
        return {};
    }
    QList<QUuid> ids;
    ids.reserve(count);
    for (qint64 i = 0; i < count; ++i)
    {
        QUuid id;
        stream >> id;
        ids.append(id);
    }
    return stream.status() == QDataStream::Ok ? ids : QList<QUuid>{};
}
} // namespace UiHelpers
