#pragma once

#include "viewer/ViewerBackgroundType.h"
#include "viewer/ViewerLayoutType.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <memory>

class ViewportOutput;
struct VideoFrame;

// The abstract viewer: the viewport outputs with their frames, the layout of
// rows, columns and stack, the viewport geometry, background, rotation and
// flips. The two viewers derive from a widget first and from this second; the
// viewer widget talks to them only through this interface.
class ViewerBase
{
public:
    ViewerBase();
    virtual ~ViewerBase();

    ViewerBase(ViewerBase const&) = delete;
    ViewerBase& operator=(ViewerBase const&) = delete;

    virtual void SetVideoFrame(int index, std::shared_ptr<VideoFrame> frame) = 0;
    virtual void DoUpdate() = 0;
    virtual QImage CaptureImage() = 0;
    virtual QImage CaptureFullImage() = 0;
    virtual double DevicePixelRatio() const = 0;
    virtual void SetViewerSize(QSize const& size) = 0;
    virtual QSize ViewerSize() const = 0;
    virtual void SetViewerPosition(QPoint const& position) = 0;
    virtual QPoint ViewerPosition() const = 0;
    virtual void UpdateViewerLayout() = 0;
    virtual void UpdateOrientation() = 0;
    virtual bool CanPaintAnnotations() const;

    int RowCount() const;
    int ColumnCount() const;
    int StackHeight() const;
    int ViewportCount() const;
    static int MaxViewportCount();
    ViewerLayoutType ViewerLayout() const;
    ViewportOutput* ViewportOutputByIndex(int index) const;

    void SetImageAlpha(int index, float alpha);
    bool WipeEnabled() const;
    void SetWipeEnabled(bool enabled);
    ViewerBackgroundType BackgroundType() const;
    QColor BackgroundColor() const;
    void SetBackgroundByType(ViewerBackgroundType type);

    void SetViewerLayout(int rows, int columns, int stackHeight);
    void SetViewerLayout(ViewerLayoutType type);
    void ToggleViewerLayout(ViewerLayoutType type);
    ViewerLayoutType LastMultiViewLayout() const;

    int ViewportIndexAtPosition(QPoint const& position) const;
    QRect ViewportRectAtPosition(QPoint const& position) const;
    QRect ViewportRectAtIndex(int index) const;

    void RotateClockwise();
    void RotateCounterClockwise();
    int ViewportRotation() const;
    void SetHorizontalFlipEnabled(bool enabled);
    bool HorizontalFlipEnabled() const;
    void SetVerticalFlipEnabled(bool enabled);
    bool VerticalFlipEnabled() const;
    void ResetFlipAndRotate();

    int PrimaryVideoDisplayWidth() const;
    int PrimaryVideoDisplayHeight() const;
    // The video size in an output: the stream's coded size, turned by the
    // stream's rotation; the default viewer size when the output shows nothing.
    void VideoWidthHeight(int index, int& width, int& height) const;

    // Divides an area of width x height whose first row lies at top among
    // the viewports; remainder pixels at the right and bottom stay unused.
    void UpdateViewportGeometry(int width, int height, int top);

    // The colour of a background type: black for anything unknown.
    static QColor BackgroundColorForType(ViewerBackgroundType type);
    // The layout type of rows x columns with a stack height.
    static ViewerLayoutType LayoutTypeOf(int rows, int columns, int stackHeight);
    // Relative rotation of a picture on screen: the viewer's turn less the
    // stream's own, in 0..270.
    static int RelativeRotation(int viewportRotation, int streamRotation);

protected:
    // Stores the frame (null for none or a frame without a picture) and what
    // the viewers read of it. False for an index without an output.
    bool TakeFrame(int index, std::shared_ptr<VideoFrame> const& frame);

    QList<ViewportOutput*> mOutputs;
    int mPrimaryVideoDisplayWidth = 0;
    int mPrimaryVideoDisplayHeight = 0;
    bool mWipeEnabled = false;
    ViewerBackgroundType mBackgroundType = ViewerBackgroundType::Black;
    QColor mBackgroundColor = Qt::black;
    int mRows = 1;
    int mColumns = 1;
    int mStackHeight = 1;
    int mRotation = 0;
    bool mHorizontalFlip = false;
    bool mVerticalFlip = false;
    ViewerLayoutType mLastMultiViewLayout = ViewerLayoutType::HorizontalSplit;

private:
    void RememberMultiViewLayout();
    void ApplyLayout(int rows, int columns, int stackHeight);
};
