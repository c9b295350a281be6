#pragma once

#include <QColor>
#include <QDialog>
#include <QString>
#include <QTimer>

class QCheckBox;
class QDoubleSpinBox;
class QMoveEvent;
class QPushButton;
class QShowEvent;
class QSpinBox;
class QTcpSocket;

// Keeps Maya's current time on the player's frame: while synced it holds a TCP
// connection to a command port opened in Maya on this machine and, on every
// frame change, sends a short MEL script that sets Maya's current time, then
// waits (blocking, up to Settings::mayaSyncTimeout ms) for Maya's answer.
// Main thread only.
class MayaToolsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MayaToolsDialog(QWidget* parent = nullptr);
    ~MayaToolsDialog() override;

    bool IsSynced() const;
    // The MEL script that sets Maya to the given frame, one line feed after each line.
    static QString BuildMelScript(int mayaFrame, bool fromRangeStart);
    // The Maya frame of a playback frame under the current settings.
    int MayaFrame() const;

public Q_SLOTS:
    void SetPlaybackFrame(int frame, int frameOffset);
    void PauseSyncTemporarily();
    void ToggleSync();
    void DisconnectFromMaya();

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private Q_SLOTS:
    void SetOffset(int offset);
    void SetOffsetToCurrent();
    void ResetOffset();
    void OnFromRangeStartToggled(bool checked);
    void SetMultiplier(double multiplier);
    void ResetMultiplier();

private:
    void CreateWidgets();
    void CreateLayout();
    void CreateConnections();
    void ConnectToMaya();
    void ReleaseSocket();
    void UpdateCurrentMayaFrame();
    void UpdateUi();

    QTcpSocket* mayaSocket = nullptr;
    int playbackFrame = 0;
    int frameOffset = 0;
    QSpinBox* offsetSpinBox = nullptr;
    QPushButton* currentButton = nullptr;
    QPushButton* resetOffsetButton = nullptr;
    QCheckBox* fromRangeStartCheckBox = nullptr;
    QDoubleSpinBox* multiplierSpinBox = nullptr;
    QPushButton* resetMultiplierButton = nullptr;
    QPushButton* syncButton = nullptr;
    QColor syncButtonColor;
    QTimer pauseTimer;
};
