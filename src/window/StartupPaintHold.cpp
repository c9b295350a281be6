#include "window/StartupPaintHold.h"

#include <QWidget>

StartupPaintHold::StartupPaintHold(QWidget* window, QObject* parent)
    : QObject(parent)
    , mWindow(window)
{
    mLimit.setSingleShot(true);
    mLimit.setInterval(DEFAULT_LIMIT_MS);
    connect(&mLimit, &QTimer::timeout, this, &StartupPaintHold::Release);
}

void StartupPaintHold::SetLimit(int milliseconds)
{
    mLimit.setInterval(milliseconds);
}

bool StartupPaintHold::IsHolding() const
{
    return mHolding;
}

bool StartupPaintHold::IsReleased() const
{
    return mReleased;
}

void StartupPaintHold::Begin()
{
    if (mReleased || mHolding)
    {
        return;
    }
    if (mPictureReady || !mWindow)
    {
        // The picture is already on its way to the screen.
        Release();
        return;
    }
    mHolding = true;
    mWindow->setUpdatesEnabled(false);
    mLimit.start();
}

void StartupPaintHold::OnFirstComposed()
{
    Begin();
}

void StartupPaintHold::OnPictureReady()
{
    mPictureReady = true;
    if (mHolding)
    {
        Release();
    }
}

void StartupPaintHold::Release()
{
    if (mReleased)
    {
        return;
    }
    mReleased = true;
    mLimit.stop();
    if (mHolding && mWindow)
    {
        // Repaints the whole window, the viewer with its picture included.
        mWindow->setUpdatesEnabled(true);
    }
    mHolding = false;
    emit Released();
}
