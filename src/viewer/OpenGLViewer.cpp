#include "viewer/OpenGLViewer.h"

#include "app/Logger.h"
#include "app/Settings.h"
#include "media/VideoFrame.h"
#include "viewer/AnnotationsOverlay.h"
#include "viewer/OpenGLViewportOutput.h"
#include "viewer/ViewerOverlay.h"
#include "window/TimeControlBaseWidget.h"

#include <QFile>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QPainter>

#include <algorithm>
#include <utility>

// Compiled-in resources of a static library are registered by hand.
static void InitShaderResources()
{
    Q_INIT_RESOURCE(shaders);
}

namespace
{

constexpr int FLOATS_PER_VERTEX = 5; // x, y, z, u, v
constexpr int VERTEX_BYTES = FLOATS_PER_VERTEX * sizeof(float);
constexpr int VERTICES_PER_QUAD = 4;
constexpr int INDICES_PER_QUAD = 6;

char const* const UNIFORM_NAMES[] = {"panZoomOffset", "zoomFactor", "texSampler0", "texSampler1",
                                     "texSampler2",   "solidColor", "solidColorRGB", "linear",
                                     "yuv",           "rec709",     "alpha"};

QString ReadShaderSource(QString const& path, char const* failure)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
    {
        Logger::GetInstance()->Error(failure);
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

struct TextureLayout
{
    GLenum internalFormat;
    GLenum format;
    int bytesPerPixel;
};

TextureLayout LayoutOf(VideoFramePixelFormat pixelFormat)
{
    switch (pixelFormat)
    {
    case VideoFramePixelFormat::RGBA:
        return {GL_RGBA8, GL_RGBA, 4};
    case VideoFramePixelFormat::YUV420P:
        return {GL_R8, GL_RED, 1};
    case VideoFramePixelFormat::RGB24:
        break;
    }
    return {GL_RGB8, GL_RGB, 3};
}

} // namespace

OpenGLViewer::OpenGLViewer(ViewerOverlay* viewerOverlay, AnnotationsOverlay* annotationsOverlay,
                           TimeControlBaseWidget* globalTimeControl, TimeControlBaseWidget* rangeTimeControl,
                           QWidget* parent)
    : QOpenGLWidget(parent)
    , mViewerOverlay(viewerOverlay)
    , mAnnotationsOverlay(annotationsOverlay)
    , mGlobalTimeControl(globalTimeControl)
    , mRangeTimeControl(rangeTimeControl)
{
    InitShaderResources();
    setFormat(SurfaceFormat());
    // A picture is on screen once the window that holds it has been swapped.
    connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
        if (mPictureDrawn)
        {
            emit PicturePainted();
        }
    });
    // The outputs exist from the start so that a frame handed over before the
    // first show is kept and uploaded once the context exists.
    for (int i = 0; i < MaxViewportCount(); ++i)
    {
        mOutputs.append(new OpenGLViewportOutput());
    }
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    ConnectOverlays();
}

QSurfaceFormat OpenGLViewer::SurfaceFormat()
{
    QSurfaceFormat format = WindowSurfaceFormat();
    format.setSamples(10);
    return format;
}

QSurfaceFormat OpenGLViewer::WindowSurfaceFormat()
{
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setSwapInterval(Settings::vSyncEnabled ? 1 : 0);
    if (Settings::useSurfaceDefaults || Settings::surfaceBufferCountOverride == 2)
    {
        format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    }
    else
    {
        format.setSwapBehavior(Settings::surfaceBufferCountOverride == 1 ? QSurfaceFormat::SingleBuffer
                                                                         : QSurfaceFormat::TripleBuffer);
    }
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(8);
    return format;
}

OpenGLViewer::~OpenGLViewer()
{
    if (context())
    {
        disconnect(context(), nullptr, this, nullptr);
    }
    makeCurrent();
    ReleaseGL();
    doneCurrent();
}

OpenGLViewportOutput* OpenGLViewer::Output(int index) const
{
    return static_cast<OpenGLViewportOutput*>(ViewportOutputByIndex(index));
}

bool OpenGLViewer::IsInitialized() const
{
    return mInitialized;
}

// ---- OpenGL set-up -------------------------------------------------------

void OpenGLViewer::initializeGL()
{
    Logger* logger = Logger::GetInstance();
    QOpenGLContext* current = context();
    if (!current || !current->isValid() || QOpenGLContext::currentContext() != current)
    {
        logger->Error("Failed to get a valid OpenGL context");
        return;
    }
    connect(current, &QOpenGLContext::aboutToBeDestroyed, this, &OpenGLViewer::OnContextAboutToBeDestroyed,
            Qt::UniqueConnection);

    QOpenGLFunctions* basic = current->functions();
    QString const renderer = QString::fromLatin1(reinterpret_cast<char const*>(basic->glGetString(GL_RENDERER)));
    Settings::rendererInfo = QStringLiteral("OpenGL Renderer: %1\n").arg(renderer);
    logger->Output(QStringLiteral("%1\n\n").arg(renderer));

    QSurfaceFormat const format = current->format();
    bool const versionOk = format.majorVersion() > 3 || (format.majorVersion() == 3 && format.minorVersion() >= 3);
    if (!versionOk || !initializeOpenGLFunctions())
    {
        logger->Error(QStringLiteral("OpenGL verison is too old (%1.%2). Minimum required version is 3.3.")
                          .arg(format.majorVersion())
                          .arg(format.minorVersion()));
        return;
    }
    mFunctionsReady = true;

    if (!BuildProgram())
    {
        ReleaseGL();
        return;
    }

    glGenVertexArrays(1, &mVertexArray);
    glBindVertexArray(mVertexArray);
    glGenBuffers(1, &mVertexBuffer);
    glGenBuffers(1, &mIndexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, mVertexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mIndexBuffer);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, VERTEX_BYTES, reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, VERTEX_BYTES, reinterpret_cast<void*>(3 * sizeof(float)));
    for (int i = 0; i < UniformCount; ++i)
    {
        mUniforms[i] = mProgram->uniformLocation(UNIFORM_NAMES[i]);
    }
    CreateViewports();
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // A 1 x 1 texture bound while a solid colour is drawn.
    static uchar const green[4] = {0, 255, 0, 255};
    glGenTextures(1, &mSolidColorTexture);
    glBindTexture(GL_TEXTURE_2D, mSolidColorTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, green);
    glBindTexture(GL_TEXTURE_2D, 0);

    mInitialized = true;
    // Frames handed over before the context existed (or before it was made
    // anew) are uploaded now.
    for (int i = 0; i < mOutputs.size(); ++i)
    {
        OpenGLViewportOutput* output = Output(i);
        if (output->frame)
        {
            UploadFrame(output);
        }
    }
    mGeometryDirty = true;
}

bool OpenGLViewer::BuildProgram()
{
    Logger* logger = Logger::GetInstance();
    QString const vertexSource = ReadShaderSource(QStringLiteral(":/shaders/vertex.glsl"), "Failed to load vertex shader");
    QString const fragmentSource =
        ReadShaderSource(QStringLiteral(":/shaders/fragment.glsl"), "Failed to load fragment shader");

    mProgram = std::make_unique<QOpenGLShaderProgram>();
    bool ok = true;
    if (!mProgram->addShaderFromSourceCode(QOpenGLShader::Vertex, vertexSource))
    {
        logger->Error(QStringLiteral("Failed to compile vertex shader: %1").arg(mProgram->log().trimmed()));
        ok = false;
    }
    if (!mProgram->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentSource))
    {
        logger->Error(QStringLiteral("Failed to compile fragment shader: %1").arg(mProgram->log().trimmed()));
        ok = false;
    }
    if (ok && !mProgram->link())
    {
        logger->Error(QStringLiteral("Failed to link shader program: %1").arg(mProgram->log().trimmed()));
        ok = false;
    }
    // Some drivers accept an empty stage; a missing source never makes a viewer.
    if (vertexSource.isEmpty() || fragmentSource.isEmpty())
    {
        ok = false;
    }
    if (!ok)
    {
        mProgram.reset();
    }
    return ok;
}

void OpenGLViewer::CreateViewports()
{
    mIndexData.clear();
    for (int quad = 0; quad < MaxViewportCount(); ++quad)
    {
        quint32 const base = static_cast<quint32>(quad * VERTICES_PER_QUAD);
        for (quint32 corner : {0u, 1u, 3u, 1u, 2u, 3u})
        {
            mIndexData.append(base + corner);
        }
    }
    // Room for every viewport and the wipe quad.
    glBufferData(GL_ARRAY_BUFFER, (MaxViewportCount() + 1) * VERTICES_PER_QUAD * VERTEX_BYTES, nullptr,
                 GL_DYNAMIC_DRAW);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, mIndexData.size() * sizeof(quint32), mIndexData.constData(),
                 GL_STATIC_DRAW);
    mGeometryDirty = true;
}

void OpenGLViewer::OnContextAboutToBeDestroyed()
{
    // The widget moved to another window: its context goes, the frames stay
    // and are uploaded again into the next one.
    makeCurrent();
    ReleaseGL();
    doneCurrent();
}

void OpenGLViewer::ReleaseGL()
{
    mInitialized = false;
    if (!mFunctionsReady || !context() || QOpenGLContext::currentContext() != context())
    {
        // Without the context the names die with it.
        for (ViewportOutput* base : std::as_const(mOutputs))
        {
            auto* output = static_cast<OpenGLViewportOutput*>(base);
            std::fill(std::begin(output->textures), std::end(output->textures), 0u);
            std::fill(std::begin(output->textureFormats), std::end(output->textureFormats), -1);
        }
        mVertexArray = mVertexBuffer = mIndexBuffer = mSolidColorTexture = 0;
        mProgram.reset();
        return;
    }
    for (ViewportOutput* base : std::as_const(mOutputs))
    {
        auto* output = static_cast<OpenGLViewportOutput*>(base);
        for (int i = 0; i < 3; ++i)
        {
            if (output->textures[i])
            {
                glDeleteTextures(1, &output->textures[i]);
                output->textures[i] = 0;
            }
            output->textureSizes[i] = QSize();
            output->textureFormats[i] = -1;
        }
    }
    if (mSolidColorTexture)
    {
        glDeleteTextures(1, &mSolidColorTexture);
    }
    if (mVertexBuffer)
    {
        glDeleteBuffers(1, &mVertexBuffer);
    }
    if (mIndexBuffer)
    {
        glDeleteBuffers(1, &mIndexBuffer);
    }
    if (mVertexArray)
    {
        glDeleteVertexArrays(1, &mVertexArray);
    }
    mVertexArray = mVertexBuffer = mIndexBuffer = mSolidColorTexture = 0;
    mProgram.reset();
}

// ---- Frames ---------------------------------------------------------------

void OpenGLViewer::SetVideoFrame(int index, std::shared_ptr<VideoFrame> frame)
{
    // Frames never change once decoded: the one already uploaded is not sent again.
    OpenGLViewportOutput const* shown = Output(index);
    if (shown && frame && shown->frame == frame && shown->textures[0])
    {
        update();
        return;
    }
    if (!TakeFrame(index, frame))
    {
        return;
    }
    OpenGLViewportOutput* output = Output(index);
    ApplyFrameProperties(output);
    if (output->frame && mInitialized)
    {
        makeCurrent();
        UploadFrame(output);
        doneCurrent();
    }
    update();
}

void OpenGLViewer::ApplyFrameProperties(OpenGLViewportOutput* output)
{
    // The quads are fitted again only when what fits them changes: the next
    // frame of the same stream keeps them (and reports no new display size).
    QSize size(-1, -1);
    int rotation = 0;
    float displayAspectRatio = 0.0f;
    if (output->frame)
    {
        size = output->picture.planeSizes[0];
        rotation = output->picture.rotation;
        displayAspectRatio = output->picture.displayAspectRatio;
    }
    if (output->imageSize != size || output->rotation != rotation ||
        output->displayAspectRatio != displayAspectRatio)
    {
        output->imageSize = size;
        output->rotation = rotation;
        output->displayAspectRatio = displayAspectRatio;
        mGeometryDirty = true;
    }
}

void OpenGLViewer::UploadFrame(OpenGLViewportOutput* output)
{
    for (int plane = 0; plane < output->picture.planeCount; ++plane)
    {
        UpdateTexture(output, plane);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
}

void OpenGLViewer::UpdateTexture(OpenGLViewportOutput* output, int plane)
{
    FramePicture const& picture = output->picture;
    TextureLayout const layout = LayoutOf(picture.pixelFormat);
    QSize const size = picture.planeSizes[plane];
    int const pixelFormat = static_cast<int>(picture.pixelFormat);
    GLuint& texture = output->textures[plane];

    if (texture && (output->textureSizes[plane] != size || output->textureFormats[plane] != pixelFormat))
    {
        glDeleteTextures(1, &texture);
        texture = 0;
    }
    if (!texture)
    {
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, layout.internalFormat, size.width(), size.height(), 0, layout.format,
                     GL_UNSIGNED_BYTE, nullptr);
        output->textureSizes[plane] = size;
        output->textureFormats[plane] = pixelFormat;
    }
    else
    {
        glBindTexture(GL_TEXTURE_2D, texture);
    }

    // The texture holds the picture's own columns: rows are read at the
    // plane's bytes per line, so padding never reaches the GPU and every
    // plane lines up with the others whatever its own padding.
    int const bytesPerLine = picture.bytesPerLine[plane];
    uchar const* bits = picture.planeBits[plane];
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (bytesPerLine % layout.bytesPerPixel == 0)
    {
        glPixelStorei(GL_UNPACK_ROW_LENGTH, bytesPerLine / layout.bytesPerPixel);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size.width(), size.height(), layout.format, GL_UNSIGNED_BYTE, bits);
    }
    else
    {
        // A stride that is no whole number of pixels: repack the rows.
        int const rowBytes = size.width() * layout.bytesPerPixel;
        QByteArray packed(static_cast<qsizetype>(rowBytes) * size.height(), Qt::Uninitialized);
        for (int row = 0; row < size.height(); ++row)
        {
            std::copy_n(bits + static_cast<qsizetype>(row) * bytesPerLine, rowBytes,
                        reinterpret_cast<uchar*>(packed.data()) + static_cast<qsizetype>(row) * rowBytes);
        }
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size.width(), size.height(), layout.format, GL_UNSIGNED_BYTE,
                        packed.constData());
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

// ---- ViewerBase -------------------------------------------------------------

void OpenGLViewer::DoUpdate()
{
    update();
}

QImage OpenGLViewer::CaptureImage()
{
    QImage image = grabFramebuffer();
    int const bands = TimeControlHeight();
    if (bands == 0)
    {
        return image;
    }
    double const ratio = DevicePixelRatio();
    int const top = static_cast<int>(TimeControlOffset() * ratio);
    int const height = static_cast<int>((this->height() - bands) * ratio);
    return image.copy(0, top, image.width(), height);
}

QImage OpenGLViewer::CaptureFullImage()
{
    return grabFramebuffer();
}

double OpenGLViewer::DevicePixelRatio() const
{
    return devicePixelRatioF();
}

void OpenGLViewer::SetViewerSize(QSize const& size)
{
    setFixedSize(size);
}

QSize OpenGLViewer::ViewerSize() const
{
    return QSize(width(), height() - TimeControlHeight());
}

void OpenGLViewer::SetViewerPosition(QPoint const&)
{
    // The OpenGL viewer always fills the viewer widget; pan and zoom are its own.
}

QPoint OpenGLViewer::ViewerPosition() const
{
    return pos();
}

void OpenGLViewer::UpdateViewerLayout()
{
    if (mInitialized)
    {
        UpdateViewportGeometry(width(), height() - TimeControlHeight(), TimeControlOffset());
        mGlViewportOrigins.clear();
        for (ViewportOutput const* output : std::as_const(mOutputs))
        {
            mGlViewportOrigins.append(QPoint(output->rect.left(), height() - 1 - output->rect.bottom()));
        }
        UpdateTimeControlGeometry();
        UpdateOverlayGeometry();
        emit PanZoomUpdateRequested();
        mGeometryDirty = true;
        update();
    }
    emit ViewerLayoutChanged();
}

void OpenGLViewer::UpdateOrientation()
{
    UpdateViewerLayout();
}

bool OpenGLViewer::CanPaintAnnotations() const
{
    if (mZoomFactor == 1.0f)
    {
        return true;
    }
    ViewerLayoutType const layout = ViewerLayout();
    return layout == ViewerLayoutType::Single || layout == ViewerLayoutType::AOverB;
}

void OpenGLViewer::SetWipeMask(QPolygonF const& mask)
{
    mWipeMask = mask;
    mGeometryDirty = true;
    update();
}

void OpenGLViewer::SetPanAndZoom(QPointF const& pan, float zoom)
{
    mZoomFactor = zoom;
    mPanZoomOffset = pan * (zoom - 1.0f);
    update();
}

void OpenGLViewer::SetAnnotationsOverlayVisible(bool visible)
{
    mAnnotationsOverlayVisible = visible;
    update();
}

bool OpenGLViewer::WipeMaskEnabled() const
{
    return mWipeMask.size() >= 4;
}

// ---- Geometry ----------------------------------------------------------------

void OpenGLViewer::resizeGL(int, int)
{
    UpdateViewerLayout();
}

std::array<QPointF, 4> OpenGLViewer::CalculateUVs(float uMax, int relativeRotation, int streamRotation,
                                                  bool horizontalFlip, bool verticalFlip)
{
    enum Corner
    {
        TopLeft = 0,
        TopRight = 1,
        BottomRight = 2,
        BottomLeft = 3
    };
    std::array<QPointF, 4> uv = {QPointF(0.0, 0.0), QPointF(uMax, 0.0), QPointF(uMax, 1.0), QPointF(0.0, 1.0)};
    // A quarter turn clockwise: each corner shows what the corner before it
    // (in the order above) showed.
    auto const turn = [&uv] {
        std::array<QPointF, 4> const old = uv;
        for (int corner = 0; corner < 4; ++corner)
        {
            uv[corner] = old[(corner + 3) % 4];
        }
    };
    int const turns = relativeRotation == 90 ? 1 : relativeRotation == 180 ? 2 : relativeRotation == 270 ? 3 : 0;
    for (int i = 0; i < turns; ++i)
    {
        turn();
    }

    bool const quarter = relativeRotation == 90 || relativeRotation == 270;
    // The flips act on the picture as the stream stores it: on a stream
    // turned by a quarter they exchange roles.
    if (streamRotation == 90 || streamRotation == 270)
    {
        std::swap(horizontalFlip, verticalFlip);
    }
    auto const swapU = [&uv](int a, int b) {
        qreal const u = uv[a].x();
        uv[a].setX(uv[b].x());
        uv[b].setX(u);
    };
    auto const swapV = [&uv](int a, int b) {
        qreal const v = uv[a].y();
        uv[a].setY(uv[b].y());
        uv[b].setY(v);
    };
    if (horizontalFlip)
    {
        if (quarter)
        {
            swapU(TopLeft, BottomRight);
            swapU(TopRight, BottomLeft);
        }
        else
        {
            swapU(TopLeft, TopRight);
            swapU(BottomRight, BottomLeft);
        }
    }
    if (verticalFlip)
    {
        if (quarter)
        {
            swapV(TopLeft, TopRight);
            swapV(BottomRight, BottomLeft);
        }
        else
        {
            swapV(TopLeft, BottomLeft);
            swapV(TopRight, BottomRight);
        }
    }
    return uv;
}

void OpenGLViewer::UpdateViewportVertexAttributes()
{
    float const widgetWidth = static_cast<float>(std::max(width(), 1));
    float const widgetHeight = static_cast<float>(std::max(height(), 1));
    int const cellWidth = width() / mColumns;
    int const cellHeight = (height() - TimeControlHeight()) / mRows;
    int const count = std::min<int>(ViewportCount(), mOutputs.size());

    mVertexData.clear();
    auto const append = [this, widgetWidth, widgetHeight](float x, float y, QPointF const& uv) {
        mVertexData << x / widgetWidth * 2.0f - 1.0f << y / widgetHeight * 2.0f - 1.0f << 0.0f
                    << static_cast<float>(uv.x()) << static_cast<float>(uv.y());
    };
    for (int i = 0; i < count; ++i)
    {
        OpenGLViewportOutput const* output = Output(i);
        QPoint const origin = mGlViewportOrigins.value(i);
        float x = static_cast<float>(origin.x());
        float y = static_cast<float>(origin.y());
        float quadWidth = static_cast<float>(cellWidth);
        float quadHeight = static_cast<float>(cellHeight);
        int relativeRotation = 0;
        if (output->frame && cellWidth > 0 && cellHeight > 0)
        {
            relativeRotation = RelativeRotation(mRotation, output->rotation);
            float aspect = output->picture.displayAspectRatio;
            if (relativeRotation == 90 || relativeRotation == 270)
            {
                aspect = 1.0f / aspect;
            }
            if (static_cast<float>(cellWidth) / static_cast<float>(cellHeight) > aspect)
            {
                quadWidth = aspect * cellHeight;
                x += (cellWidth - quadWidth) / 2.0f;
            }
            else
            {
                quadHeight = cellWidth / aspect;
                y += (cellHeight - quadHeight) / 2.0f;
            }
        }
        std::array<QPointF, 4> const uv =
            CalculateUVs(1.0f, relativeRotation, output->frame ? output->rotation : 0, mHorizontalFlip, mVerticalFlip);
        append(x, y + quadHeight, uv[0]);
        append(x + quadWidth, y + quadHeight, uv[1]);
        append(x + quadWidth, y, uv[2]);
        append(x, y, uv[3]);
        if (i == 0)
        {
            mPrimaryVideoDisplayWidth = static_cast<int>(quadWidth * mZoomFactor);
            mPrimaryVideoDisplayHeight = static_cast<int>(quadHeight * mZoomFactor);
        }
        emit ViewportImageDisplaySizeChanged(quadWidth * mZoomFactor, quadHeight * mZoomFactor, i);
    }

    // The wipe quad: the whole widget, or the mask's first four points.
    std::array<QPointF, 4> const corners = {QPointF(0.0, 0.0), QPointF(1.0, 0.0), QPointF(1.0, 1.0),
                                            QPointF(0.0, 1.0)};
    for (int corner = 0; corner < 4; ++corner)
    {
        if (WipeMaskEnabled())
        {
            QPointF const& point = mWipeMask.at(corner);
            append(static_cast<float>(point.x()), widgetHeight - static_cast<float>(point.y()), corners[corner]);
        }
        else
        {
            append(corner == 1 || corner == 2 ? widgetWidth : 0.0f, corner < 2 ? widgetHeight : 0.0f,
                   corners[corner]);
        }
    }

    glBindBuffer(GL_ARRAY_BUFFER, mVertexBuffer);
    glBufferSubData(GL_ARRAY_BUFFER, 0, mVertexData.size() * sizeof(float), mVertexData.constData());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    mGeometryDirty = false;
}

// ---- Painting ---------------------------------------------------------------

void OpenGLViewer::DrawQuad(int quad)
{
    glDrawElementsBaseVertex(GL_TRIANGLES, INDICES_PER_QUAD, GL_UNSIGNED_INT, nullptr, quad * VERTICES_PER_QUAD);
}

void OpenGLViewer::DrawWipeStencil(float alpha)
{
    glUniform1i(mUniforms[SolidColorUniform], 1);
    glUniform4f(mUniforms[SolidColorRgbUniform], mBackgroundColor.redF(), mBackgroundColor.greenF(),
                mBackgroundColor.blueF(), 1.0f);
    glUniform1f(mUniforms[AlphaUniform], alpha);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, mSolidColorTexture);
    glUniform1i(mUniforms[TexSampler0Uniform], 0);
    glUniform1i(mUniforms[TexSampler1Uniform], 0);
    glUniform1i(mUniforms[TexSampler2Uniform], 0);

    glEnable(GL_STENCIL_TEST);
    glStencilMask(0xff);
    glStencilFunc(GL_ALWAYS, 1, 0xff);
    glStencilOp(GL_REPLACE, GL_REPLACE, GL_REPLACE);
    DrawQuad(ViewportCount());
    glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    glStencilFunc(GL_EQUAL, 1, 0xff);
    glUniform1i(mUniforms[SolidColorUniform], 0);
}

void OpenGLViewer::paintGL()
{
    if (!mInitialized)
    {
        return;
    }
    QPainter painter(this);
    painter.beginNativePainting();
    mProgram->bind();
    glBindVertexArray(mVertexArray);
    if (mGeometryDirty)
    {
        UpdateViewportVertexAttributes();
    }

    double const ratio = DevicePixelRatio();
    glViewport(0, 0, static_cast<GLsizei>(width() * ratio), static_cast<GLsizei>(height() * ratio));
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glStencilMask(0xff);
    glClearColor(mBackgroundColor.redF(), mBackgroundColor.greenF(), mBackgroundColor.blueF(), 1.0f);
    glClearStencil(0);
    glClear(GL_COLOR_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glEnable(GL_BLEND);
    // Colour blends by the source's opacity; the framebuffer itself stays opaque.
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_STENCIL_TEST);
    glUniform2f(mUniforms[PanZoomOffsetUniform], static_cast<float>(mPanZoomOffset.x()),
                static_cast<float>(mPanZoomOffset.y()));
    glUniform1f(mUniforms[ZoomFactorUniform], mZoomFactor);
    glUniform1i(mUniforms[SolidColorUniform], 0);

    int const count = std::min<int>(ViewportCount(), mOutputs.size());
    mPictureDrawn = false;
    for (int i = count - 1; i >= 0; --i)
    {
        OpenGLViewportOutput const* output = Output(i);
        if (i == 0 && mStackHeight >= 2 && WipeMaskEnabled())
        {
            DrawWipeStencil(output->alpha);
        }
        if (!output->frame || !output->textures[0])
        {
            continue;
        }
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, output->textures[0]);
        glUniform1i(mUniforms[TexSampler0Uniform], 0);
        bool const planar = output->picture.planeCount == 3 && output->textures[1] && output->textures[2];
        if (planar)
        {
            glActiveTexture(GL_TEXTURE1);
            glBindTexture(GL_TEXTURE_2D, output->textures[1]);
            glActiveTexture(GL_TEXTURE2);
            glBindTexture(GL_TEXTURE_2D, output->textures[2]);
        }
        glUniform1i(mUniforms[TexSampler1Uniform], planar ? 1 : 0);
        glUniform1i(mUniforms[TexSampler2Uniform], planar ? 2 : 0);
        FramePicture const& picture = output->picture;
        glUniform1i(mUniforms[YuvUniform], picture.yuv && planar ? 1 : 0);
        glUniform1i(mUniforms[Rec709Uniform], picture.rec709 ? 1 : 0);
        glUniform1i(mUniforms[LinearUniform], picture.linear && !picture.yuv ? 1 : 0);
        glUniform1f(mUniforms[AlphaUniform], output->alpha);
        DrawQuad(i);
        mPictureDrawn = true;
    }

    for (GLenum unit : {GL_TEXTURE2, GL_TEXTURE1, GL_TEXTURE0})
    {
        glActiveTexture(unit);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glDisable(GL_STENCIL_TEST);
    glBindVertexArray(0);
    mProgram->release();
    painter.endNativePainting();

    if (mAnnotationsOverlayVisible && CanPaintAnnotations())
    {
        PaintAnnotationsOverlay(painter);
    }
    PaintViewerOverlay(painter);
    PaintTimeControls(painter);
    painter.end();
    emit PaintingFinished();
}

// ---- Time-control bands ------------------------------------------------------

bool OpenGLViewer::GlobalTimeControlShown() const
{
    return Settings::globalTimeControlVisible && GlobalTimeControlBarHeight() > 0;
}

bool OpenGLViewer::RangeTimeControlShown() const
{
    return Settings::rangeTimeControlVisible && RangeTimeControlBarHeight() > 0;
}

int OpenGLViewer::TimeControlHeight() const
{
    return (GlobalTimeControlShown() ? GlobalTimeControlBarHeight() : 0) +
           (RangeTimeControlShown() ? RangeTimeControlBarHeight() : 0);
}

int OpenGLViewer::TimeControlOffset() const
{
    int offset = 0;
    if (GlobalTimeControlShown() && Settings::globalTimeControlPositionTop)
    {
        offset += GlobalTimeControlBarHeight();
    }
    if (RangeTimeControlShown() && Settings::rangeTimeControlPositionTop)
    {
        offset += RangeTimeControlBarHeight();
    }
    return offset;
}

int OpenGLViewer::GlobalTimeControlY() const
{
    return Settings::globalTimeControlPositionTop ? 0 : height() - GlobalTimeControlBarHeight();
}

int OpenGLViewer::RangeTimeControlY() const
{
    bool const globalShown = GlobalTimeControlShown();
    if (Settings::rangeTimeControlPositionTop)
    {
        return globalShown && Settings::globalTimeControlPositionTop ? GlobalTimeControlBarHeight() : 0;
    }
    int y = height() - RangeTimeControlBarHeight();
    if (globalShown && !Settings::globalTimeControlPositionTop)
    {
        y -= GlobalTimeControlBarHeight();
    }
    return y;
}

QTransform OpenGLViewer::RangeTimeControlTransform() const
{
    return QTransform::fromTranslate(0.0, RangeTimeControlY());
}

bool OpenGLViewer::GlobalTimeControlContains(QPoint const& position) const
{
    return mGlobalTimeControlRect.contains(position);
}

bool OpenGLViewer::RangeTimeControlContains(QPoint const& position) const
{
    return mRangeTimeControlRect.contains(position);
}

void OpenGLViewer::UpdateTimeControlGeometry()
{
    mGlobalTimeControlRect = GlobalTimeControlShown()
                                 ? QRect(0, GlobalTimeControlY(), width(), GlobalTimeControlBarHeight())
                                 : QRect();
    mRangeTimeControlRect =
        RangeTimeControlShown() ? QRect(0, RangeTimeControlY(), width(), RangeTimeControlBarHeight()) : QRect();
    // The bars read their input in the viewer's coordinates: their y moves
    // events into the bar, and the viewer widget's place in its parent maps
    // the cursor and the context menu.
    QWidget const* const viewerWidget = parentWidget();
    QPoint const viewerPosition = viewerWidget ? viewerWidget->pos() : QPoint(0, 0);
    if (GlobalTimeControlShown())
    {
        mGlobalTimeControl->SetViewerMousePosOffsetY(mGlobalTimeControlRect.y());
        mGlobalTimeControl->UpdateGeometryGL(width(), viewerPosition);
    }
    if (RangeTimeControlShown())
    {
        mRangeTimeControl->SetViewerMousePosOffsetY(mRangeTimeControlRect.y());
        mRangeTimeControl->UpdateGeometryGL(width(), viewerPosition);
    }
}

// ---- Overlay and time-bar hooks ---------------------------------------------------
// The overlays and bars are met only here.

void OpenGLViewer::ConnectOverlays()
{
    if (!mViewerOverlay && !mAnnotationsOverlay && !mGlobalTimeControl && !mRangeTimeControl)
    {
        return;
    }
    if (mViewerOverlay)
    {
        connect(mViewerOverlay, &ViewerOverlay::UpdateRequested, this, [this] { update(); });
    }
    if (mAnnotationsOverlay)
    {
        connect(mAnnotationsOverlay, &AnnotationsOverlay::UpdateRequested, this, [this] { update(); });
    }
    for (TimeControlBaseWidget* const bar : {mGlobalTimeControl, mRangeTimeControl})
    {
        if (bar)
        {
            connect(bar, &TimeControlBaseWidget::UpdateRequested, this, [this] { update(); });
        }
    }
}

int OpenGLViewer::GlobalTimeControlBarHeight() const
{
    if (!mGlobalTimeControl)
    {
        return 0;
    }
    return mGlobalTimeControl->height();
}

int OpenGLViewer::RangeTimeControlBarHeight() const
{
    if (!mRangeTimeControl)
    {
        return 0;
    }
    return mRangeTimeControl->height();
}

void OpenGLViewer::UpdateOverlayGeometry()
{
    if (!mViewerOverlay && !mAnnotationsOverlay)
    {
        return;
    }
    int const viewportHeight = height() - TimeControlHeight();
    if (mViewerOverlay)
    {
        mViewerOverlay->UpdateGeometryGL(width(), height(), viewportHeight, TimeControlOffset());
    }
    if (mAnnotationsOverlay)
    {
        mAnnotationsOverlay->UpdateGeometryGL(width(), viewportHeight, TimeControlOffset());
    }
}

void OpenGLViewer::PaintAnnotationsOverlay(QPainter& painter)
{
    if (!mAnnotationsOverlay)
    {
        return;
    }
    painter.save();
    mAnnotationsOverlay->PaintGL(painter);
    painter.restore();
}

void OpenGLViewer::PaintViewerOverlay(QPainter& painter)
{
    if (!mViewerOverlay)
    {
        return;
    }
    // The overlay is centred on the viewport area: each shown bar moves it by
    // half its height, down for a bar at the top, up for one at the bottom.
    float dy = 0.0f;
    if (GlobalTimeControlShown())
    {
        float const half = GlobalTimeControlBarHeight() / 2.0f;
        dy = static_cast<int>(dy + (Settings::globalTimeControlPositionTop ? half : -half));
    }
    if (RangeTimeControlShown())
    {
        float const half = RangeTimeControlBarHeight() / 2.0f;
        dy = static_cast<int>(dy + (Settings::rangeTimeControlPositionTop ? half : -half));
    }
    painter.save();
    painter.translate(0.0, dy);
    mViewerOverlay->PaintGL(painter);
    painter.restore();
}

void OpenGLViewer::PaintTimeControls(QPainter& painter)
{
    if (GlobalTimeControlShown())
    {
        painter.save();
        painter.translate(0, GlobalTimeControlY());
        mGlobalTimeControl->PaintGL(painter);
        painter.restore();
    }
    if (RangeTimeControlShown())
    {
        painter.save();
        painter.translate(0, RangeTimeControlY());
        mRangeTimeControl->PaintGL(painter);
        painter.restore();
    }
}

bool OpenGLViewer::InRangeTimeControlRangeEditZone(QPoint const& position) const
{
    if (!mRangeTimeControl)
    {
        return false;
    }
    if (!RangeTimeControlShown())
    {
        return false;
    }
    int const y = RangeTimeControlY();
    return mRangeTimeControl->EditRangeStartRect().translated(0, y).contains(position) ||
           mRangeTimeControl->EditRangeEndRect().translated(0, y).contains(position);
}

void OpenGLViewer::GlobalTimeControlMousePressEvent(QMouseEvent* event)
{
    if (!mGlobalTimeControl || !event)
    {
        return;
    }
    mGlobalTimeControl->ViewerMousePressEvent(event);
}

void OpenGLViewer::GlobalTimeControlMouseReleaseEvent(QMouseEvent* event)
{
    if (!mGlobalTimeControl || !event)
    {
        return;
    }
    mGlobalTimeControl->ViewerMouseReleaseEvent(event);
}

void OpenGLViewer::GlobalTimeControlMouseMoveEvent(QMouseEvent* event)
{
    if (!mGlobalTimeControl || !event)
    {
        return;
    }
    mGlobalTimeControl->ViewerMouseMoveEvent(event);
}

void OpenGLViewer::GlobalTimeControlSetUnderMouse(bool underMouse)
{
    if (!mGlobalTimeControl)
    {
        return;
    }
    mGlobalTimeControl->SetUnderMouseFromViewer(underMouse);
}

void OpenGLViewer::GlobalTimeControlShowContextMenu(QPoint const& position)
{
    if (!mGlobalTimeControl)
    {
        return;
    }
    mGlobalTimeControl->ShowContextMenu(position);
}

void OpenGLViewer::RangeTimeControlMousePressEvent(QMouseEvent* event)
{
    if (!mRangeTimeControl || !event)
    {
        return;
    }
    mRangeTimeControl->ViewerMousePressEvent(event);
}

void OpenGLViewer::RangeTimeControlMouseReleaseEvent(QMouseEvent* event)
{
    if (!mRangeTimeControl || !event)
    {
        return;
    }
    mRangeTimeControl->ViewerMouseReleaseEvent(event);
}

void OpenGLViewer::RangeTimeControlMouseMoveEvent(QMouseEvent* event)
{
    if (!mRangeTimeControl || !event)
    {
        return;
    }
    mRangeTimeControl->ViewerMouseMoveEvent(event);
}

void OpenGLViewer::RangeTimeControlSetUnderMouse(bool underMouse)
{
    if (!mRangeTimeControl)
    {
        return;
    }
    mRangeTimeControl->SetUnderMouseFromViewer(underMouse);
}

void OpenGLViewer::RangeTimeControlShowContextMenu(QPoint const& position)
{
    if (!mRangeTimeControl)
    {
        return;
    }
    mRangeTimeControl->ShowContextMenu(position);
}
