#pragma once

// Ends the process once everything of ours is closed, flushed and joined,
// without the exit handlers of the libraries it loaded. Qt's audio backend
// stops the sound system's client thread from such a handler, and that client
// library then races its own thread and aborts now and then ("Assertion
// 'm->io_events_please_scan == 0' failed"), turning a finished run into a
// crash. Nothing of ours waits for those handlers: the settings are written
// and the threads joined before main() ends.
class ProcessEnd
{
public:
    // Flushes the C streams, runs the leak check that LeakSanitizer would run
    // at exit (in that build), and ends the process with the status.
    [[noreturn]] static void Now(int status);

    // From here on, exit() ends the process like Now(), with the status exit()
    // was given, before any exit handler registered earlier runs. For a main()
    // that is not ours to change (a test framework's): call it once our
    // objects are gone, e.g. from the application object's destruction.
    static void AtExit();
};
