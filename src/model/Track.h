#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QUuid>

class Clip;
class Source;
struct FrameBookmark;

// An ordered list of clips laid end to end from time 0. A source track holds
// the one MediaSource clip of a source timeline; an edit track holds Media
// clips that can be inserted, removed and reordered. The track owns its clips.
class Track : public QObject
{
    Q_OBJECT

public:
    explicit Track(QObject* parent = nullptr);
    Track(QString const& mediaPath, QString const& relativeMediaPath, QUuid const& sourceId, QObject* parent = nullptr);
    ~Track() override;

    // A copy of the same kind without a parent; the caller owns it. Safe to
    // call from a decode thread while the owning thread re-times this track.
    Track* Duplicate() const;

    int InsertClipAtIndex(Clip* clip, int index);
    Clip* RemoveClipAtIndex(int index);
    void MoveClip(int from, int to);
    void SetClipOrder(QList<QUuid> const& clipIds);
    QList<QUuid> OrderedClipIds() const;
    void ClearAll();
    void SetUseSourceInOutsEnabled(bool enabled);
    void RefreshClipStartTimes();
    // Re-lays a decode copy so that [rangeStart, rangeEnd] plays from time 0,
    // followed by silence up to endTime. The frame fields then hold clip
    // indices, and the copy no longer follows its sources' cut changes.
    void UpdateClipTimesForAudioOverride(long long rangeStart, long long rangeEnd, long long endTime);

    bool IsSourceTrack() const;
    Clip* SourceClip() const;
    Source* SourcePtr() const;

    int ClipCount() const;
    Clip* ClipAtIndex(int index) const;
    long long ClipStartTimeAtIndex(int index) const;
    int ClipIndex(Clip* clip) const;
    Clip* ClipAtTime(long long time) const;
    int ClipIndexAtTime(long long time) const;
    Clip* ClipAtFrame(int frame) const;
    int ClipIndexAtFrame(int frame) const;
    Clip* FindClipById(QUuid const& clipId) const;
    int ClipIndexWithSource(QUuid const& sourceId) const;
    bool ContainsClipWithSource(QUuid const& sourceId) const;
    QList<int> ClipIndiciesWithSource(QUuid const& sourceId) const;
    bool ContainsClipWithMediaPath(QString const& path) const;

    bool HasErrors() const;
    bool HasAudio() const;
    bool HasVideo() const;

    long long Duration() const;
    long long EndTime() const;
    int FrameCount() const;
    int EndFrame() const;
    QList<int> FramesPerClip() const;
    long long TimeAtFrame(int frame, bool frameEnd) const;
    int FrameAtTime(long long time) const;
    double FrameRateAtFrame(int frame) const;

    FrameBookmark* FrameBookmarkAt(int frame) const;
    int InsertFrameBookmark(int frame, FrameBookmark* bookmark = nullptr);
    FrameBookmark* RemoveFrameBookmark(int frame);
    QList<FrameBookmark*> FrameBookmarkList() const;
    bool IsUndoClean() const;
    void SetUndoClean();

    QString ToString() const;

Q_SIGNALS:
    void TrackUpdated();
    void SourceParsed();
    void SourceUpdated();
    // A clip's bookmark list was replaced, or a clip left the track; emitted
    // synchronously before the old bookmarks can be deleted.
    void FrameBookmarksReplaced();

public Q_SLOTS:
    void OnSourceParsed();
    void OnSourceUpdated();
    void OnSourceCutInOutChanged();

private:
    void DisconnectSourceCuts(Clip* clip);

    QList<Clip*> mClips;
    bool mIsSourceTrack = false;
    // Serialises re-timing against Duplicate, the one operation decode
    // threads run on another thread's track.
    mutable QMutex mClipTimesMutex;
};
