#pragma once

class BenchSession;
class Timeline;

// Loops a range of a timeline at 1x with the loop state on, as a reviewer
// does, and reports how long the picture held at each wrap and how many
// pictures the engine decoded for each pass. Play starts from the frame
// parked on, from (the range start when negative), after parkSeconds parked
// there with the loop on. With printFrames, each frame handed to the viewer
// is printed as "frame <n> md5 <picture md5>" too. Returns 0 on success.
int RunLoopBench(BenchSession& session, Timeline* timeline, int first, int last, int from, int loops,
                 double parkSeconds = 0.0, bool printFrames = false);
