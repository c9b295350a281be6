#pragma once

#include "viewer/ViewerBase.h"

#include <QList>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLWidget>
#include <QPointF>
#include <QPolygonF>
#include <QRect>
#include <QSurfaceFormat>
#include <QTransform>

#include <array>
#include <memory>

class AnnotationsOverlay;
class OpenGLViewportOutput;
class QMouseEvent;
class QOpenGLShaderProgram;
class QPainter;
class TimeControlBaseWidget;
class ViewerOverlay;

// The hardware viewer (OpenGL 3.3 core). Each viewport's frame is uploaded as
// one texture per plane, YUV is turned into RGB in the fragment shader, and the
// viewports are drawn as textured quads fitted to their cells, with rotation and
// flips in the texture coordinates; A over B blends with A's opacity and the
// wipe cuts A through the stencil buffer. The annotation overlay, the viewer
// overlay and both time bars are painted over the pictures in the same frame,
// so under hardware rendering they are not widgets on screen of their own.
class OpenGLViewer : public QOpenGLWidget, public ViewerBase, protected QOpenGLFunctions_3_3_Core
{
    Q_OBJECT

public:
    // The overlays and bars are not owned and may be null: nothing is then
    // painted for them and no band is reserved for a bar.
    OpenGLViewer(ViewerOverlay* viewerOverlay, AnnotationsOverlay* annotationsOverlay,
                 TimeControlBaseWidget* globalTimeControl, TimeControlBaseWidget* rangeTimeControl,
                 QWidget* parent = nullptr);
    ~OpenGLViewer() override;

    // The format of the viewer's own context: OpenGL 3.3 core, multisampled,
    // with the stencil the wipe cuts through, and the user's swap settings.
    static QSurfaceFormat SurfaceFormat();
    // The default format, which the windows' own surfaces take: the viewer's
    // without samples. A window surface only composes its widgets' pictures,
    // and a multisampled one makes every composition (the first show above
    // all) several times slower on a software rasteriser.
    static QSurfaceFormat WindowSurfaceFormat();

    void SetVideoFrame(int index, std::shared_ptr<VideoFrame> frame) override;
    void DoUpdate() override;
    QImage CaptureImage() override;
    QImage CaptureFullImage() override;
    double DevicePixelRatio() const override;
    void SetViewerSize(QSize const& size) override;
    QSize ViewerSize() const override;
    void SetViewerPosition(QPoint const& position) override;
    QPoint ViewerPosition() const override;
    void UpdateViewerLayout() override;
    void UpdateOrientation() override;
    bool CanPaintAnnotations() const override;

    // True once initializeGL has built the program, buffers and textures.
    bool IsInitialized() const;

    void SetPanAndZoom(QPointF const& pan, float zoom);
    void SetAnnotationsOverlayVisible(bool visible);

    // Heights of the visible time-control bands, all of them and those at the top.
    int TimeControlHeight() const;
    int TimeControlOffset() const;
    QTransform RangeTimeControlTransform() const;

    // The time bars are painted, not shown: the viewer widget hands their
    // mouse input on through these.
    bool GlobalTimeControlContains(QPoint const& position) const;
    bool RangeTimeControlContains(QPoint const& position) const;
    bool InRangeTimeControlRangeEditZone(QPoint const& position) const;
    void GlobalTimeControlMousePressEvent(QMouseEvent* event);
    void GlobalTimeControlMouseReleaseEvent(QMouseEvent* event);
    void GlobalTimeControlMouseMoveEvent(QMouseEvent* event);
    void GlobalTimeControlSetUnderMouse(bool underMouse);
    void GlobalTimeControlShowContextMenu(QPoint const& position);
    void RangeTimeControlMousePressEvent(QMouseEvent* event);
    void RangeTimeControlMouseReleaseEvent(QMouseEvent* event);
    void RangeTimeControlMouseMoveEvent(QMouseEvent* event);
    void RangeTimeControlSetUnderMouse(bool underMouse);
    void RangeTimeControlShowContextMenu(QPoint const& position);

    // Texture coordinates (u, v) of a quad's corners, top-left, top-right,
    // bottom-right, bottom-left: the picture turned by the relative rotation
    // and flipped in the stream's own orientation.
    static std::array<QPointF, 4> CalculateUVs(float uMax, int relativeRotation, int streamRotation,
                                               bool horizontalFlip, bool verticalFlip);

public Q_SLOTS:
    void SetWipeMask(QPolygonF const& mask);

Q_SIGNALS:
    void ViewerLayoutChanged();
    void ViewportImageDisplaySizeChanged(float width, float height, int index);
    void PanZoomUpdateRequested();
    void PaintingFinished();
    // A picture of at least one output reached the screen (the window was
    // swapped after a paint that drew it).
    void PicturePainted();

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private Q_SLOTS:
    void OnContextAboutToBeDestroyed();

private:
    enum Uniform
    {
        PanZoomOffsetUniform,
        ZoomFactorUniform,
        TexSampler0Uniform,
        TexSampler1Uniform,
        TexSampler2Uniform,
        SolidColorUniform,
        SolidColorRgbUniform,
        LinearUniform,
        YuvUniform,
        Rec709Uniform,
        AlphaUniform,
        UniformCount
    };

    OpenGLViewportOutput* Output(int index) const;
    bool BuildProgram();
    void CreateViewports();
    void ReleaseGL();
    void ApplyFrameProperties(OpenGLViewportOutput* output);
    void UploadFrame(OpenGLViewportOutput* output);
    void UpdateTexture(OpenGLViewportOutput* output, int plane);
    void UpdateViewportVertexAttributes();
    void DrawQuad(int quad);
    void DrawWipeStencil(float alpha);
    bool WipeMaskEnabled() const;
    int GlobalTimeControlY() const;
    int RangeTimeControlY() const;

    // Where the overlays and time bars are met. Each does nothing while its
    // object is absent.
    void ConnectOverlays();
    int GlobalTimeControlBarHeight() const;
    int RangeTimeControlBarHeight() const;
    bool GlobalTimeControlShown() const;
    bool RangeTimeControlShown() const;
    void UpdateTimeControlGeometry();
    void UpdateOverlayGeometry();
    void PaintAnnotationsOverlay(QPainter& painter);
    void PaintViewerOverlay(QPainter& painter);
    void PaintTimeControls(QPainter& painter);

    ViewerOverlay* mViewerOverlay;
    AnnotationsOverlay* mAnnotationsOverlay;
    TimeControlBaseWidget* mGlobalTimeControl;
    TimeControlBaseWidget* mRangeTimeControl;

    bool mInitialized = false;
    // The last paint drew a picture (main thread).
    bool mPictureDrawn = false;
    bool mFunctionsReady = false;
    bool mGeometryDirty = true;
    std::unique_ptr<QOpenGLShaderProgram> mProgram;
    GLuint mVertexArray = 0;
    GLuint mVertexBuffer = 0;
    GLuint mIndexBuffer = 0;
    GLuint mSolidColorTexture = 0;
    GLint mUniforms[UniformCount] = {};
    QList<QPoint> mGlViewportOrigins; // left and bottom edge of each viewport, y from the bottom
    QList<float> mVertexData;
    QList<quint32> mIndexData;
    QPolygonF mWipeMask; // widget coordinates; a wipe needs at least four points
    QRect mGlobalTimeControlRect;
    QRect mRangeTimeControlRect;
    QPointF mPanZoomOffset;
    float mZoomFactor = 1.0f;
    bool mAnnotationsOverlayVisible = false;
};
