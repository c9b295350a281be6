#pragma once

// What the media libraries say about their own work goes to standard error
// from warnings up; their notes below that level are dropped.
//
// A decoder that is sent data known to fail (pictures that refer to pictures
// or parameters from before the first key picture after the start or a seek)
// holds a Quiet meanwhile: while any Quiet is held, the decoders' messages
// below the fatal level are dropped. Decoders report from their own threads
// too, so this holds for every decoder of the process, not one thread.
class FfmpegLog
{
public:
    FfmpegLog() = delete;

    // Sets the libraries' log callback; once per process, before any decoder
    // runs (later calls do nothing more).
    static void Install();

    class Quiet
    {
    public:
        explicit Quiet(bool quiet);
        ~Quiet();
        Quiet(Quiet const&) = delete;
        Quiet& operator=(Quiet const&) = delete;

    private:
        bool const mQuiet;
    };
};
