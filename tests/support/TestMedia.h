#pragma once

#include <QString>
#include <QStringList>

// Where the generated test media lies (tests/media/make_test_media.sh).
namespace TestMedia
{
QString Dir();
QString Path(QString const& name);
// The one-line-per-frame MD5 list `ffmpeg -f framemd5` prints for a file's
// first video stream as yuv420p, in decode order; empty when ffmpeg failed.
QStringList FrameMd5(QString const& path, QStringList const& inputOptions = {});
}
