#include "remote/MayaToolsDialog.h"

#include "app/Logger.h"
#include "app/Settings.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTcpSocket>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
QString const MAYA_HOST = QStringLiteral("127.0.0.1");
QColor const SYNCED_COLOR(12, 60, 156);
} // namespace

MayaToolsDialog::MayaToolsDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Maya Tools"));
    setWindowFlags(Qt::Tool);
    setMinimumWidth(280);
    pauseTimer.setSingleShot(true);
    CreateWidgets();
    CreateLayout();
    CreateConnections();
}

MayaToolsDialog::~MayaToolsDialog()
{
    // A socket still held closes as it is destroyed with the children: its
    // disconnected signal must not reach this half-destroyed dialog.
    if (mayaSocket)
    {
        QObject::disconnect(mayaSocket, nullptr, this, nullptr);
    }
}

void MayaToolsDialog::CreateWidgets()
{
    offsetSpinBox = new QSpinBox(this);
    offsetSpinBox->setRange(Settings::MAYA_SYNC_OFFSET_MINIMUM, Settings::MAYA_SYNC_OFFSET_MAXIMUM);
    offsetSpinBox->setValue(Settings::mayaSyncOffset);

    currentButton = new QPushButton(QStringLiteral("Current"), this);
    currentButton->setFixedWidth(50);
    currentButton->setFocusPolicy(Qt::NoFocus);
    resetOffsetButton = new QPushButton(QStringLiteral("Reset"), this);
    resetOffsetButton->setFixedWidth(50);
    resetOffsetButton->setFocusPolicy(Qt::NoFocus);

    fromRangeStartCheckBox = new QCheckBox(QStringLiteral("From Range Start"), this);
    fromRangeStartCheckBox->setChecked(Settings::mayaSyncFromRangeStart);

    multiplierSpinBox = new QDoubleSpinBox(this);
    multiplierSpinBox->setRange(Settings::MAYA_SYNC_MULTIPLIER_MINIMUM, Settings::MAYA_SYNC_MULTIPLIER_MAXIMUM);
    multiplierSpinBox->setSingleStep(0.1);
    multiplierSpinBox->setValue(Settings::mayaSyncMultiplier);

    resetMultiplierButton = new QPushButton(QStringLiteral("Reset"), this);
    resetMultiplierButton->setFixedWidth(50);
    resetMultiplierButton->setFocusPolicy(Qt::NoFocus);

    syncButton = new QPushButton(QStringLiteral("SYNC"), this);
    syncButton->setObjectName(QStringLiteral("mayaSyncButton"));
    syncButton->setStyleSheet(QStringLiteral("#mayaSyncButton {font-weight: bold; color:#ffffff}"));
    syncButton->setFixedHeight(24);
    syncButton->setAutoFillBackground(true);
    syncButton->setAutoDefault(false);
    syncButtonColor = syncButton->palette().color(QPalette::Current, QPalette::Button);
}

void MayaToolsDialog::CreateLayout()
{
    auto* const offsetRow = new QHBoxLayout;
    offsetRow->setContentsMargins(0, 0, 0, 0);
    offsetRow->setSpacing(2);
    offsetRow->addWidget(offsetSpinBox);
    offsetRow->addWidget(currentButton);
    offsetRow->addWidget(resetOffsetButton);
    offsetRow->addStretch();

    auto* const checkBoxRow = new QHBoxLayout;
    checkBoxRow->setContentsMargins(0, 0, 0, 4);
    checkBoxRow->addWidget(fromRangeStartCheckBox);

    auto* const multiplierRow = new QHBoxLayout;
    multiplierRow->setSpacing(2);
    multiplierRow->addWidget(multiplierSpinBox);
    multiplierRow->addWidget(resetMultiplierButton);
    multiplierRow->addStretch();

    auto* const form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(4);
    form->setLabelAlignment(Qt::AlignRight);
    form->addRow(QStringLiteral("Offset:"), offsetRow);
    form->addRow(new QLabel(this), checkBoxRow);
    form->addRow(QStringLiteral("Multiplier:"), multiplierRow);

    auto* const layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(form);
    layout->addSpacing(12);
    layout->addStretch();
    layout->addWidget(syncButton);
}

void MayaToolsDialog::CreateConnections()
{
    connect(offsetSpinBox, &QSpinBox::valueChanged, this, &MayaToolsDialog::SetOffset);
    connect(currentButton, &QPushButton::clicked, this, &MayaToolsDialog::SetOffsetToCurrent);
    connect(resetOffsetButton, &QPushButton::clicked, this, &MayaToolsDialog::ResetOffset);
    connect(fromRangeStartCheckBox, &QCheckBox::clicked, this, &MayaToolsDialog::OnFromRangeStartToggled);
    connect(multiplierSpinBox, &QDoubleSpinBox::valueChanged, this, &MayaToolsDialog::SetMultiplier);
    connect(resetMultiplierButton, &QPushButton::clicked, this, &MayaToolsDialog::ResetMultiplier);
    connect(syncButton, &QPushButton::clicked, this, &MayaToolsDialog::ToggleSync);
}

bool MayaToolsDialog::IsSynced() const
{
    return mayaSocket != nullptr;
}

QString MayaToolsDialog::BuildMelScript(int mayaFrame, bool fromRangeStart)
{
    QString const& node = Settings::mayaToTessarinScriptNodeName;
    QString script = QStringLiteral("if(`objExists %1`) scriptNode -e -st 0 %1;\n").arg(node);
    if (fromRangeStart)
    {
        script += QStringLiteral("$rangeStart = `playbackOptions -q -min`;\n");
        script += QStringLiteral("currentTime ($rangeStart + %1);\n").arg(mayaFrame);
    }
    else
    {
        script += QStringLiteral("currentTime %1;\n").arg(mayaFrame);
    }
    script += QStringLiteral("if(`objExists %1`) scriptNode -e -st 7 %1;\n").arg(node);
    return script;
}

int MayaToolsDialog::MayaFrame() const
{
    // Scaled in single precision and truncated toward zero; the sum is kept
    // within what a frame number can hold.
    float const scaled = float(playbackFrame) * Settings::mayaSyncMultiplier;
    long long frame = std::isfinite(scaled)
                          ? (long long)std::clamp<float>(std::trunc(scaled), float(std::numeric_limits<int>::min()),
                                                         float(std::numeric_limits<int>::max()))
                          : 0;
    if (!Settings::mayaSyncFromRangeStart)
    {
        frame += frameOffset;
    }
    frame += Settings::mayaSyncOffset;
    return int(std::clamp<long long>(frame, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

void MayaToolsDialog::SetPlaybackFrame(int frame, int offset)
{
    playbackFrame = frame;
    frameOffset = offset;
    UpdateCurrentMayaFrame();
}

void MayaToolsDialog::PauseSyncTemporarily()
{
    pauseTimer.start(Settings::mayaSyncPausedDuration);
}

void MayaToolsDialog::ToggleSync()
{
    if (!mayaSocket)
    {
        ConnectToMaya();
        UpdateUi();
        UpdateCurrentMayaFrame();
    }
    else
    {
        ReleaseSocket();
        UpdateUi();
    }
}

void MayaToolsDialog::ReleaseSocket()
{
    if (!mayaSocket)
    {
        return;
    }
    // Its signals go first: a disconnected signal that arrives late, as the
    // socket closes or is destroyed, must never end the next connection.
    QObject::disconnect(mayaSocket, nullptr, this, nullptr);
    mayaSocket->deleteLater();
    mayaSocket = nullptr;
}

void MayaToolsDialog::ConnectToMaya()
{
    if (mayaSocket)
    {
        return;
    }
    mayaSocket = new QTcpSocket(this);
    mayaSocket->connectToHost(MAYA_HOST, Settings::mayaCommandPort, QIODevice::ReadWrite,
                              QAbstractSocket::AnyIPProtocol);
    if (mayaSocket->waitForConnected(Settings::mayaSyncTimeout))
    {
        connect(mayaSocket, &QTcpSocket::disconnected, this, &MayaToolsDialog::DisconnectFromMaya);
    }
    else
    {
        Logger::GetInstance()->Error(
            QStringLiteral("Failed to connect to Maya: %1:%2").arg(MAYA_HOST).arg(Settings::mayaCommandPort));
        Logger::GetInstance()->Error(
            QStringLiteral("A commandport must be open in Maya that matches the port number: %1")
                .arg(Settings::mayaCommandPort));
        ReleaseSocket();
    }
    UpdateUi();
}

void MayaToolsDialog::DisconnectFromMaya()
{
    ReleaseSocket();
    UpdateUi();
}

void MayaToolsDialog::UpdateCurrentMayaFrame()
{
    if (pauseTimer.isActive() || !mayaSocket)
    {
        return;
    }
    QTcpSocket* const socket = mayaSocket;
    // Whatever Maya said earlier is stale, also what is still on its way in
    // the system: only an answer to this script may end the wait below.
    do
    {
        socket->readAll();
    } while (socket->waitForReadyRead(0));
    if (mayaSocket != socket)
    {
        return; // the port closed
    }
    socket->write(BuildMelScript(MayaFrame(), Settings::mayaSyncFromRangeStart).toLocal8Bit());
    socket->flush();
    bool const answered = socket->waitForReadyRead(Settings::mayaSyncTimeout);
    if (mayaSocket != socket)
    {
        return; // the port closed while we waited
    }
    socket->readAll();
    if (!answered)
    {
        ReleaseSocket();
        UpdateUi();
        Logger::GetInstance()->Error(QStringLiteral("Timeout waiting for Maya Sync respose. Sync disconnected."));
    }
}

void MayaToolsDialog::UpdateUi()
{
    QPalette palette = syncButton->palette();
    if (mayaSocket)
    {
        palette.setColor(QPalette::Button, SYNCED_COLOR);
        syncButton->setText(QStringLiteral("SYNCED"));
    }
    else
    {
        palette.setColor(QPalette::Button, syncButtonColor);
        syncButton->setText(QStringLiteral("SYNC"));
    }
    syncButton->setPalette(palette);
}

void MayaToolsDialog::SetOffset(int offset)
{
    {
        QSignalBlocker const blocker(offsetSpinBox);
        offsetSpinBox->setValue(offset);
    }
    Settings::mayaSyncOffset = offsetSpinBox->value();
    UpdateCurrentMayaFrame();
}

void MayaToolsDialog::SetOffsetToCurrent()
{
    SetOffset(playbackFrame);
}

void MayaToolsDialog::ResetOffset()
{
    SetOffset(0);
}

void MayaToolsDialog::OnFromRangeStartToggled(bool checked)
{
    Settings::mayaSyncFromRangeStart = checked;
    UpdateCurrentMayaFrame();
}

void MayaToolsDialog::SetMultiplier(double multiplier)
{
    {
        QSignalBlocker const blocker(multiplierSpinBox);
        multiplierSpinBox->setValue(multiplier);
    }
    Settings::mayaSyncMultiplier = float(multiplierSpinBox->value());
    UpdateCurrentMayaFrame();
}

void MayaToolsDialog::ResetMultiplier()
{
    SetMultiplier(1.0);
}

void MayaToolsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    syncButton->setFocus();
}

void MayaToolsDialog::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    if (isVisible())
    {
        Settings::mayaToolsGeometry = saveGeometry();
    }
}
