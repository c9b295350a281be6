#include "viewer/ViewerBase.h"

#include "app/Settings.h"
#include "media/VideoFrame.h"
#include "panels/UiHelpers.h"
#include "viewer/ViewportOutput.h"

#include <algorithm>

ViewerBase::ViewerBase()
{
    qRegisterMetaType<ViewerLayoutType>();
    qRegisterMetaType<ViewerBackgroundType>();
}

ViewerBase::~ViewerBase()
{
    qDeleteAll(mOutputs);
    mOutputs.clear();
}

bool ViewerBase::CanPaintAnnotations() const
{
    return true;
}

int ViewerBase::RowCount() const
{
    return mRows;
}

int ViewerBase::ColumnCount() const
{
    return mColumns;
}

int ViewerBase::StackHeight() const
{
    return mStackHeight;
}

int ViewerBase::ViewportCount() const
{
    return mRows * mColumns * mStackHeight;
}

int ViewerBase::MaxViewportCount()
{
    return Settings::MAXIMUM_VIEWPORT_ROWS * Settings::MAXIMUM_VIEWPORT_COLUMNS;
}

ViewerLayoutType ViewerBase::LayoutTypeOf(int rows, int columns, int stackHeight)
{
    if (rows == 1 && columns == 2)
    {
        return ViewerLayoutType::HorizontalSplit;
    }
    if (rows == 2 && columns == 1)
    {
        return ViewerLayoutType::VerticalSplit;
    }
    if (rows == 1 && columns == 1)
    {
        return stackHeight >= 2 ? ViewerLayoutType::AOverB : ViewerLayoutType::Single;
    }
    return ViewerLayoutType::Grid;
}

ViewerLayoutType ViewerBase::ViewerLayout() const
{
    return LayoutTypeOf(mRows, mColumns, mStackHeight);
}

ViewportOutput* ViewerBase::ViewportOutputByIndex(int index) const
{
    return index >= 0 && index < mOutputs.size() ? mOutputs.at(index) : nullptr;
}

void ViewerBase::SetImageAlpha(int index, float alpha)
{
    ViewportOutput* output = ViewportOutputByIndex(index);
    if (!output || output->alpha == alpha)
    {
        return;
    }
    output->alpha = alpha;
    DoUpdate();
}

bool ViewerBase::WipeEnabled() const
{
    return mWipeEnabled;
}

void ViewerBase::SetWipeEnabled(bool enabled)
{
    mWipeEnabled = enabled;
    DoUpdate();
}

ViewerBackgroundType ViewerBase::BackgroundType() const
{
    return mBackgroundType;
}

QColor ViewerBase::BackgroundColor() const
{
    return mBackgroundColor;
}

QColor ViewerBase::BackgroundColorForType(ViewerBackgroundType type)
{
    switch (type)
    {
    case ViewerBackgroundType::MediumGrey:
        return QColor(118, 118, 118);
    case ViewerBackgroundType::LightGrey:
        return QColor(180, 180, 180);
    case ViewerBackgroundType::White:
        return QColor(Qt::white);
    default:
        return QColor(Qt::black);
    }
}

void ViewerBase::SetBackgroundByType(ViewerBackgroundType type)
{
    mBackgroundType = type;
    mBackgroundColor = BackgroundColorForType(type);
    DoUpdate();
}

void ViewerBase::RememberMultiViewLayout()
{
    ViewerLayoutType const leaving = ViewerLayout();
    if (leaving != ViewerLayoutType::Single && leaving != ViewerLayoutType::AOverB)
    {
        mLastMultiViewLayout = leaving;
    }
}

void ViewerBase::ApplyLayout(int rows, int columns, int stackHeight)
{
    mRows = rows;
    mColumns = columns;
    mStackHeight = stackHeight;
    Settings::currentViewerLayout = static_cast<int>(ViewerLayout());
    UpdateViewerLayout();
}

void ViewerBase::SetViewerLayout(int rows, int columns, int stackHeight)
{
    if (rows < 1 || columns < 1 || stackHeight < 1)
    {
        rows = 1;
        columns = 1;
        stackHeight = 1;
    }
    rows = std::min(rows, Settings::MAXIMUM_VIEWPORT_ROWS);
    columns = std::min(columns, Settings::MAXIMUM_VIEWPORT_COLUMNS);
    RememberMultiViewLayout();
    stackHeight = rows == 1 && columns == 1 ? std::min(stackHeight, 2) : 1;
    ApplyLayout(rows, columns, stackHeight);
}

void ViewerBase::SetViewerLayout(ViewerLayoutType type)
{
    RememberMultiViewLayout();
    switch (type)
    {
    case ViewerLayoutType::AOverB:
        ApplyLayout(1, 1, 2);
        break;
    case ViewerLayoutType::HorizontalSplit:
        ApplyLayout(1, 2, 1);
        break;
    case ViewerLayoutType::VerticalSplit:
        ApplyLayout(2, 1, 1);
        break;
    case ViewerLayoutType::Grid:
        ApplyLayout(2, 2, 1);
        break;
    default:
        ApplyLayout(1, 1, 1);
        break;
    }
}

void ViewerBase::ToggleViewerLayout(ViewerLayoutType type)
{
    ViewerLayoutType const current = ViewerLayout();
    bool const requestsMultiView = type == ViewerLayoutType::HorizontalSplit ||
                                   type == ViewerLayoutType::VerticalSplit || type == ViewerLayoutType::Grid;
    if (requestsMultiView)
    {
        if (type == current)
        {
            mLastMultiViewLayout = current;
            ApplyLayout(1, 1, 2);
        }
        else
        {
            SetViewerLayout(type);
        }
        return;
    }
    if (current == ViewerLayoutType::Single || current == ViewerLayoutType::AOverB)
    {
        SetViewerLayout(mLastMultiViewLayout);
    }
    else
    {
        SetViewerLayout(type);
    }
}

ViewerLayoutType ViewerBase::LastMultiViewLayout() const
{
    return mLastMultiViewLayout;
}

int ViewerBase::ViewportIndexAtPosition(QPoint const& position) const
{
    QPoint const local = position - ViewerPosition();
    int const count = std::min<int>(ViewportCount(), mOutputs.size());
    for (int i = 0; i < count; ++i)
    {
        if (mOutputs.at(i)->rect.contains(local))
        {
            return i;
        }
    }
    return -1;
}

QRect ViewerBase::ViewportRectAtPosition(QPoint const& position) const
{
    int const index = ViewportIndexAtPosition(position);
    return index < 0 ? QRect() : mOutputs.at(index)->rect.translated(ViewerPosition());
}

QRect ViewerBase::ViewportRectAtIndex(int index) const
{
    ViewportOutput const* output = ViewportOutputByIndex(index);
    return output ? output->rect.translated(ViewerPosition()) : QRect();
}

void ViewerBase::RotateClockwise()
{
    mRotation = mRotation >= 270 ? 0 : mRotation + 90;
    UpdateOrientation();
}

void ViewerBase::RotateCounterClockwise()
{
    mRotation = mRotation < 90 ? 270 : mRotation - 90;
    UpdateOrientation();
}

int ViewerBase::ViewportRotation() const
{
    return mRotation;
}

void ViewerBase::SetHorizontalFlipEnabled(bool enabled)
{
    mHorizontalFlip = enabled;
    UpdateOrientation();
}

bool ViewerBase::HorizontalFlipEnabled() const
{
    return mHorizontalFlip;
}

void ViewerBase::SetVerticalFlipEnabled(bool enabled)
{
    mVerticalFlip = enabled;
    UpdateOrientation();
}

bool ViewerBase::VerticalFlipEnabled() const
{
    return mVerticalFlip;
}

void ViewerBase::ResetFlipAndRotate()
{
    mRotation = 0;
    mHorizontalFlip = false;
    mVerticalFlip = false;
    UpdateOrientation();
}

int ViewerBase::PrimaryVideoDisplayWidth() const
{
    return mPrimaryVideoDisplayWidth;
}

int ViewerBase::PrimaryVideoDisplayHeight() const
{
    return mPrimaryVideoDisplayHeight;
}

void ViewerBase::VideoWidthHeight(int index, int& width, int& height) const
{
    ViewportOutput const* output = ViewportOutputByIndex(index);
    if (!output || !output->frame || !output->picture.hasStreamProperties)
    {
        width = UiHelpers::DEFAULT_VIEWER_WIDTH;
        height = UiHelpers::DEFAULT_VIEWER_HEIGHT;
        return;
    }
    bool const quarterTurn = output->picture.rotation == 90 || output->picture.rotation == 270;
    width = quarterTurn ? output->picture.codedHeight : output->picture.codedWidth;
    height = quarterTurn ? output->picture.codedWidth : output->picture.codedHeight;
}

void ViewerBase::UpdateViewportGeometry(int width, int height, int top)
{
    int const columnWidth = width / mColumns;
    int const rowHeight = height / mRows;
    int const count = std::min<int>(ViewportCount(), mOutputs.size());
    if (mStackHeight > 1)
    {
        for (int i = 0; i < count; ++i)
        {
            mOutputs.at(i)->rect = QRect(0, top, columnWidth, rowHeight);
        }
        return;
    }
    for (int row = 0; row < mRows; ++row)
    {
        for (int column = 0; column < mColumns; ++column)
        {
            int const index = row * mColumns + column;
            if (index < count)
            {
                mOutputs.at(index)->rect = QRect(column * columnWidth, top + row * rowHeight, columnWidth, rowHeight);
            }
        }
    }
}

int ViewerBase::RelativeRotation(int viewportRotation, int streamRotation)
{
    return FramePicture::NormalizedRotation(viewportRotation - streamRotation);
}

bool ViewerBase::TakeFrame(int index, std::shared_ptr<VideoFrame> const& frame)
{
    ViewportOutput* output = ViewportOutputByIndex(index);
    if (!output)
    {
        return false;
    }
    if (FramePicture::HasPicture(frame))
    {
        output->picture = FramePicture::FromFrame(*frame);
        output->frame = output->picture.valid ? frame : nullptr;
    }
    else
    {
        output->frame = nullptr;
    }
    if (!output->frame)
    {
        output->picture = FramePicture();
    }
    return true;
}
