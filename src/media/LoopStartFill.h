#pragma once

#include <memory>

class Clip;
class Timeline;
class Track;
struct AudioOutputFormat;
struct VideoFrame;

// The state of a loop start fill: while the clock loops a range whose start
// the cache lacks, what lies between the range start and the cache start is
// decoded and put in front of the cache, so that the first wrap finds it
// there. A fill has a kind, pictures or sound, and its direction comes from
// its kind: pictures are decoded forward up to the cache, sound backward from
// it. The decode loop (DecodeManager) drives the decoders; this holds what
// the fill is at and the decisions on it.
//
// Owned by one DecodeManager and used only on its decode thread.
class LoopStartFill
{
public:
    // A fill down to target (timeline time) is under way.
    bool Active() const { return mTarget >= 0; }
    long long Target() const { return mTarget; }
    // Which way the decoder runs while the fill under way is: pictures
    // forward, sound backward.
    bool DecodesForward() const { return !mSound; }

    // The clip a fill of pictures (video) or else of sound would decode in,
    // when the timeline's cache plan wants one now and it was not tried from
    // here before, with target the timeline time it would fill down to; null
    // otherwise. The caller has made sure the clock plays forward with no
    // seek under way. The sound's room is weighed here (format: what it is
    // played as); the pictures' as their fill starts (PicturesFit).
    Clip* WantedClip(Timeline const& timeline, Track const& track, bool video, AudioOutputFormat const& format,
                     long long& target) const;
    // Whether frames pictures of the fill fit the timeline's picture budget
    // beside what the cache keeps of the range and the codec's own pictures
    // (codecBytes).
    static bool PicturesFit(Timeline const& timeline, long long frames, long long codecBytes);
    // The clock still loops within the range and the cache (or, for
    // pictures, what the fill brings) still holds its time.
    bool GoesOn(Timeline const& timeline, bool video) const;

    // Starts a fill of sound (else of pictures) down to target: nothing
    // brought yet.
    void Begin(bool sound, long long target)
    {
        mSound = sound;
        mTarget = target;
        mReached = false;
        mHeld.reset();
    }
    // Ends or abandons the fill under way, if any.
    void End()
    {
        mTarget = -1;
        mHeld.reset();
    }

    // The pictures brought reach the cache (or the file ends before it):
    // nothing more is placed.
    bool Reached() const { return mReached; }
    void MarkReached() { mReached = true; }
    // Whether a playhead at time is one the fill under way brings: between
    // its target and the cache start.
    bool Brings(long long time, long long cacheStart) const
    {
        return Active() && time >= mTarget && time < cacheStart;
    }

    // A fill to target from a cache starting at from that ran its course or
    // could not be had (no room) is not planned again from there.
    void MarkTried(long long target, long long from)
    {
        mTriedTarget = target;
        mTriedFrom = from;
    }
    // Started: tried again after a turn or a seek cut it short.
    void ForgetTried() { MarkTried(-1, -1); }
    bool WasTried(long long target, long long from) const { return target == mTriedTarget && from == mTriedFrom; }

    // The clip loop was entered only for a fill (the cache already reached
    // the end of the timeline): it ends with the fill.
    bool ClipOnlyForFill() const { return mClipOnlyForFill; }
    void SetClipOnlyForFill(bool only) { mClipOnlyForFill = only; }

    // The latest picture before the target's frame, held: it covers the
    // range start unless a picture starts there. Its frame index is the
    // target's.
    void Hold(std::shared_ptr<VideoFrame> picture, int index)
    {
        mHeld = std::move(picture);
        mHeldIndex = index;
    }
    bool HasHeld() const { return mHeld != nullptr; }
    int HeldIndex() const { return mHeldIndex; }
    std::shared_ptr<VideoFrame> TakeHeld() { return std::move(mHeld); }
    void DropHeld() { mHeld.reset(); }

private:
    long long mTarget = -1;
    bool mSound = false;
    bool mReached = false;
    bool mClipOnlyForFill = false;
    long long mTriedTarget = -1;
    long long mTriedFrom = -1;
    std::shared_ptr<VideoFrame> mHeld;
    int mHeldIndex = 0;
};
