#pragma once

#include <QObject>
#include <QPointer>

// Holds back the input of the player while a viewer capture is exported:
// once blocked, a filter on the application drops the keys, shortcuts,
// mouse, touch and drops meant for the player's windows, and lets through
// those of the export dialog, whose Cancel stays live. Main thread only.
class CaptureInputBlocker : public QObject
{
    Q_OBJECT

public:
    explicit CaptureInputBlocker(QObject* parent = nullptr);
    ~CaptureInputBlocker() override;

    // The dialog whose input stays live (null for none).
    void SetExportDialog(QObject* exportDialog);
    void SetCaptureInputBlocked(bool blocked);
    bool IsCaptureInputBlocked() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsInsideExportDialog(QObject* object) const;

    QPointer<QObject> mExportDialog;
    bool mCaptureInputBlocked = false;
};
