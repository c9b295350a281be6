#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

// Keeps a window from being composed between its first show (or its first
// composition) and the moment the picture it opens with is at hand, so that
// the picture comes with the window's first composition rather than after
// several of the bare window, each of which costs the cores the picture
// needs. Lets go after a limit anyway, and for good once let go. Main thread
// only.
class StartupPaintHold : public QObject
{
    Q_OBJECT

public:
    static constexpr int DEFAULT_LIMIT_MS = 1500;

    // The hold is on the window's repaints (its updates and its children's).
    explicit StartupPaintHold(QWidget* window, QObject* parent = nullptr);

    // The longest the repaints are held, from the first composition on.
    void SetLimit(int milliseconds);
    bool IsHolding() const;
    bool IsReleased() const;

public Q_SLOTS:
    // Holds the repaints from now on, before the window is first shown, so
    // that its first composition already has the picture.
    void Begin();
    // The window was composed for the first time: its repaints are held from
    // now on, unless the picture is at hand already or the hold was let go.
    void OnFirstComposed();
    // The picture is at hand: the window repaints with it.
    void OnPictureReady();
    // Lets the window repaint; later calls do nothing.
    void Release();

Q_SIGNALS:
    // The hold ended: the picture came, the limit passed or it was let go.
    void Released();

private:
    QPointer<QWidget> mWindow;
    QTimer mLimit;
    bool mPictureReady = false;
    bool mHolding = false;
    bool mReleased = false;
};
