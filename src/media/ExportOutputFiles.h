#pragma once

#include <QString>
#include <QStringList>

struct ExportProperties;

// Where an export's files are rendered and how they reach the output
// location. Everything is rendered in the export's temporary folder first
// and moved into place only once it is complete, so that a failed or
// cancelled export never touches a file it did not make.
class ExportOutputFiles
{
public:
    // The numbered picture at the output location, and where it is rendered.
    static QString ImageFilePath(ExportProperties const* properties, int number);
    static QString RenderedImagePath(ExportProperties const* properties, int number);
    // The ffmpeg output pattern of the rendered pictures.
    static QString RenderedImagePattern(ExportProperties const* properties);
    // Where the last ffmpeg step of a movie or sound file writes before the
    // file is moved into place (the output's suffix selects the container).
    static QString RenderedOutputPath(ExportProperties const* properties);

    // The numbers an image-sequence request can write, from the timeline's
    // range, the numbering and its offset (a viewer capture writes at most
    // as many, numbered from the same first one).
    static bool ImageNumberRange(ExportProperties const* properties, int& first, int& last);
    // Paths of entries at the output location that the request would write
    // over, found by one listing of the folder; at most `limit`.
    static QStringList ExistingImageFiles(ExportProperties const* properties, int limit);

    // Moves a complete file to its place. An existing file there is
    // replaced only when `replace` is set, and then in one step (a rename
    // over it, or a copy beside it renamed over it when the two lie on
    // different devices), so that it is never lost to a failed move.
    static bool MoveIntoPlace(QString const& from, QString const& to, bool replace, QString const& stagingTag);
};
