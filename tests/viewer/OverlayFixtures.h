#pragma once

// Shared by the overlay tests: a shown host widget with a black background
// and an annotation overlay over it, on a source timeline that looks parsed,
// and small helpers to make strokes and read pixels.

#include "../model/ModelFixtures.h"

#include "app/Settings.h"
#include "model/Clip.h"
#include "model/FrameBookmark.h"
#include "model/ProjectManager.h"
#include "model/StrokeData.h"
#include "model/Timeline.h"
#include "viewer/AnnotationsOverlay.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPalette>
#include <QTest>
#include <QUuid>
#include <QWidget>

#include <memory>

namespace OverlayFixtures
{

constexpr int HOST_WIDTH = 400;
constexpr int HOST_HEIGHT = 300;
constexpr int IMAGE_WIDTH = 400;  // displayed image: 16:9 in the host
constexpr int IMAGE_HEIGHT = 225;

inline void UseSoftwareRendering()
{
    Settings::hardwareRenderingEnabled = false;
    Settings::LatchHardwareRendering();
}

inline void ResetAnnotationSettings()
{
    Settings::annotationToolSize = 10.0f;
    Settings::annotationToolOpacity = 1.0f;
    Settings::annotationToolColor = QColor(255, 0, 0);
    Settings::annotationDrawArrowTipToBase = false;
    Settings::annotationBackgroundColor = QColor(255, 255, 255, 0);
    Settings::annotationBackgroundFillsViewport = false;
    Settings::annotationUndoLimit = 0;
    Settings::numGhostedFramesPrev = 5;
    Settings::numGhostedFramesNext = 5;
    Settings::byAnnotationGhosting = false;
    Settings::ghostedFramesPrevTintColor = QColor(255, 0, 0);
    Settings::ghostedFramesNextTintColor = QColor(0, 255, 0);
    Settings::ghostedFramesTintFactor = 0.5f;
}

// A source timeline of a 100-frame movie at 25 fps, shown in output 0.
inline std::unique_ptr<Timeline> MovieTimeline(int frames = 100)
{
    auto timeline = std::make_unique<Timeline>(ModelFixtures::MissingMoviePath(QStringLiteral("overlay")), QString(),
                                               QUuid::createUuid());
    ModelFixtures::FakeParsedMovie(timeline->SourcePtr(), 25.0, frames);
    timeline->OnTrackUpdated();
    timeline->SetOutputId(0);
    return timeline;
}

// A black host widget with the overlay over all of it, shown.
struct Scene
{
    explicit Scene(Timeline* timeline, ProjectManager* projectManager = nullptr, bool show = true)
    {
        host.resize(HOST_WIDTH, HOST_HEIGHT);
        QPalette palette = host.palette();
        palette.setColor(QPalette::Window, Qt::black);
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        overlay = new AnnotationsOverlay(projectManager, 0, &host);
        overlay->setGeometry(0, 0, HOST_WIDTH, HOST_HEIGHT);
        if (show)
        {
            host.show();
        }
        overlay->SetImageDisplayWidth(IMAGE_WIDTH, IMAGE_HEIGHT, 0);
        overlay->SetPrimaryTimeline(timeline);
        if (timeline)
        {
            overlay->SetBackgroundFrameBookmark(timeline->BackgroundFrameBookmark());
            overlay->UpdateForegroundBookmark();
        }
    }

    QImage Grab()
    {
        return host.grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // Overlay pixels of a normalised image point, without rotation or flips.
    static QPoint Screen(QPointF const& normalised)
    {
        return QPoint(qRound(HOST_WIDTH / 2 + normalised.x() * IMAGE_WIDTH),
                      qRound(HOST_HEIGHT / 2 + normalised.y() * IMAGE_WIDTH));
    }

    QWidget host;
    AnnotationsOverlay* overlay = nullptr;
};

// A stroke as a project file holds it: a square outline of half-size h
// around the normalised point, wide enough to cover its centre.
inline StrokeData SquareStroke(QPointF const& centre, QColor const& color, double half = 0.01, float width = 30.0f)
{
    StrokeData stroke;
    stroke.type = 7;
    stroke.width = width;
    stroke.color = color;
    stroke.points = {centre - QPointF(half, half), centre + QPointF(half, half)};
    stroke.path.addRect(QRectF(stroke.points.at(0), stroke.points.at(1)));
    return stroke;
}

// A round dot of the given width (thousandths of the image width).
inline StrokeData DotStroke(QPointF const& centre, QColor const& color, float width = 60.0f)
{
    StrokeData stroke;
    stroke.type = 0;
    stroke.width = width;
    stroke.color = color;
    stroke.points = {centre, centre};
    stroke.path.moveTo(centre);
    stroke.path.lineTo(centre + QPointF(0.000001, 0.0));
    return stroke;
}

inline bool Near(QColor const& actual, QColor const& expected, int tolerance)
{
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

inline bool IsRed(QColor const& color)
{
    return color.red() > 200 && color.green() < 60 && color.blue() < 60;
}

inline bool IsBlack(QColor const& color)
{
    return color.red() < 20 && color.green() < 20 && color.blue() < 20;
}

} // namespace OverlayFixtures
