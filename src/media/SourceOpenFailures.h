#pragma once

#include <QHash>
#include <QString>

class AvDecoderBase;
class Source;

// The files a decode loop failed to open, each with what told it apart then
// (its inode, size and change time; "missing" when none): a failing file is
// reported once, not on every pass, and tried again once it changes.
//
// Owned by one DecodeManager and used only on its decode thread.
class SourceOpenFailures
{
public:
    // Opens the stream streamIndex of the source's first file with decoder,
    // unless it failed before and has not changed since.
    bool Open(AvDecoderBase* decoder, Source* source, int streamIndex);

private:
    static QString FileState(QString const& path);

    // By path, the FileState when it failed.
    QHash<QString, QString> mFailed;
};
