#pragma once

#include "model/ClipType.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

class Source;
struct FrameBookmark;
struct VideoStreamInfo;

// A placement of a source on a track. A source clip builds and owns its source;
// a copy shares the source of the clip it was copied from and must not outlive
// it. The clip owns its frame bookmarks, kept sorted by source frame.
class Clip : public QObject
{
    Q_OBJECT

public:
    Clip(QString const& mediaPath, QString const& relativeMediaPath, QUuid const& sourceId, QObject* parent = nullptr);
    // A copy of another clip (a Media clip sharing its source), or an Empty clip
    // when there is nothing to copy.
    explicit Clip(Clip* other, QObject* parent = nullptr);
    ~Clip() override;

    Clip* Duplicate(QObject* parent, bool keepType);

    QUuid Id() const;
    // A clip that takes another's place (its source read again) keeps that
    // clip's id, so that what names the clip by id still finds it.
    void SetId(QUuid const& id);
    ClipType Type() const;
    QString TypeString() const;
    QString Name() const;
    Source* SourcePtr() const;
    Clip* SourceClip() const;
    void SetSource(Source* source);
    void Reset();

    void SetStartTime(long long time, int frame);
    // The end frame always follows from the start frame and the length.
    void SetEndTime(long long time);
    long long StartTime() const;
    long long EndTime() const;
    int StartFrame() const;
    int EndFrame() const;
    void SetUseSourceInOutsEnabled(bool enabled);
    bool IsUseSourceInOutsEnabled() const;

    bool HasErrors() const;
    int FileCount() const;
    bool FileExists(int fileIndex) const;
    QString FilePath(int fileIndex) const;
    QString FileName(int fileIndex) const;
    bool IsImageSequence() const;
    bool HasAudio() const;
    bool HasVideo() const;
    VideoStreamInfo* VideoStreamInfoAtIndex(int fileIndex) const;
    int AudioStreamIndex() const;
    int VideoStreamIndex() const;

    long long CutIn() const;
    int CutInFrame() const;
    long long CutOut() const;
    int CutOutFrame() const;
    int FrameCount() const;
    long long Duration() const;

    long long TimelineTimeAtFrameStart(int frame) const;
    long long TimelineTimeAtFrameMid(int frame) const;
    long long TimelineTimeAtFrameEnd(int frame) const;
    int FrameAtTimelineTime(long long time) const;
    int FrameAtClipTime(long long time) const;
    int TimelineFrameToSourceFrame(int frame) const;
    int SourceFrameToTimelineFrame(int frame) const;

    // Bookmark operations take timeline frames.
    FrameBookmark* FrameBookmarkAt(int frame) const;
    int InsertFrameBookmark(int frame, FrameBookmark* bookmark = nullptr);
    FrameBookmark* RemoveFrameBookmark(int frame);
    void SetFrameBookmarks(QList<FrameBookmark*> const& bookmarks);
    void RemoveAllFrameBookmarks(QList<FrameBookmark*>& bookmarks);
    void UpdateFrameBookmarks();
    QList<FrameBookmark*> FrameBookmarkList() const;
    bool IsUndoClean() const;
    void SetUndoClean();

    virtual QString ToString() const;

Q_SIGNALS:
    void SourceParsed();
    void SourceUpdated();
    // Emitted synchronously when the list of bookmarks is replaced or handed
    // away, once the new list is in place and before any old bookmark is
    // deleted: holders of bookmark pointers re-read them here.
    void FrameBookmarksReplaced();

private Q_SLOTS:
    void OnSourceParsed();
    void OnSourceUpdated();

private:
    void ConnectSource();
    // The clip trims its source to the source's cut in and out.
    bool AppliesInOuts() const;
    // The clip spans the whole source.
    bool UsesWholeSource() const;
    double FrameStep() const;

    QUuid mId;
    ClipType mType;
    Source* mSource = nullptr;
    int mAudioStreamIndex = 0;
    int mVideoStreamIndex = 0;
    long long mStartTime = 0;
    long long mEndTime = 0;
    int mStartFrame = 0;
    bool mUseSourceInOuts = true;
    QList<FrameBookmark*> mFrameBookmarks;
};
