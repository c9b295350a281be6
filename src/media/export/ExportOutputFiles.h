#pragma once

#include <QString>
#include <QStringList>

#include <functional>

struct ExportProperties;

// Where an export's files are rendered and how they reach the output
// location. Everything is rendered in the export's temporary folder first
// and moved into place only once it is complete, so that a failed or
// cancelled export leaves the output location as it found it.
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
    // over, found by one listing of the folder: the `limit` lowest-numbered.
    static QStringList ExistingImageFiles(ExportProperties const* properties, int limit);

    // Moves a complete file to its place. An existing file there is
    // replaced only when `replace` is set, and then in one step (a rename
    // over it), so that it is never lost to a failed move. Across file
    // systems the file is copied under a staged name beside its place
    // (`stagingTag` makes the name) and renamed into place only once the
    // copy is complete; a failed copy leaves nothing at the target.
    // `beforePlacing` is called with the file about to be renamed to `to`
    // (`from`, or its staged copy) just before that rename: a journal notes
    // its identity, so that it is known again as the one moved in.
    static bool MoveIntoPlace(QString const& from, QString const& to, bool replace, QString const& stagingTag,
                              std::function<void(QString const&)> const& beforePlacing = {});
    // Where a copy across file systems is staged, and where SetAside keeps
    // an entry beside its place.
    static QString StagedPath(QString const& to, QString const& stagingTag);
    static QString KeptBesidePath(QString const& path, QString const& tag);
    static QString KeptInFolderPath(QString const& path, QString const& keepDirPath);

    // Moves an existing entry out of the way of its replacement, by rename
    // only: into `keepDirPath` (made when missing) under its own name, or,
    // when that folder lies on another file system, beside it under a name
    // made with `tag`. Returns where it is kept, empty when it could not be
    // moved (it is then where it was).
    static QString SetAside(QString const& path, QString const& keepDirPath, QString const& tag);
    // Puts an entry set aside back at `path`, which must be free again
    // (what the export put there removed first); never replaces anything.
    static bool PutBack(QString const& keptPath, QString const& path);
};
