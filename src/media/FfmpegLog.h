#pragma once

struct AVCodecContext;

// What the media libraries say about their own work goes to standard error
// from warnings up; their notes below that level are dropped, and so are
// the notes of a demuxer's parsers, which report a stream read from other
// than its very start (every seek) as if it were broken.
//
// A decoder that is sent data known to fail (pictures that refer to pictures
// or parameters from before the first key picture after the start or a seek)
// holds a Quiet meanwhile: while it is held, the messages of that decoder
// below the fatal level are dropped; every other decoder, demuxer or encoder
// still reports. A decoder's frame threads work on copies of its context
// that report from their own threads; they count as the decoder itself.
class FfmpegLog
{
public:
    FfmpegLog() = delete;

    // Sets the libraries' log callback; once per process, before any decoder
    // runs (later calls do nothing more).
    static void Install();

    // How many errors (and worse) the libraries reported on the calling
    // thread so far, dropped ones included: a decoder that stops partway
    // through damaged data says so here. Counts once Install has run.
    static unsigned int ThreadErrorCount();

    // While held, the messages of every codec context that works on this
    // thread (decoders and parsers) below the fatal level are dropped, and
    // the warnings of anything else on it: finding a stream's information
    // decodes its first packets, from wherever the file starts, on the
    // thread that asks, and so does the parse's timing pass.
    class ThreadQuiet
    {
    public:
        ThreadQuiet();
        ~ThreadQuiet();
        ThreadQuiet(ThreadQuiet const&) = delete;
        ThreadQuiet& operator=(ThreadQuiet const&) = delete;
    };

    class Quiet
    {
    public:
        // On the thread that sends the decoder its packets. A context whose
        // `opaque` is unset is given its own address there, which its frame
        // threads' copies take with the next packet: that is how their
        // messages are known as its.
        Quiet(AVCodecContext* context, bool quiet);
        ~Quiet();
        Quiet(Quiet const&) = delete;
        Quiet& operator=(Quiet const&) = delete;

    private:
        void const* const mKey; // null when not quiet
    };
};
