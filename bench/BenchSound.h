#pragma once

class BenchSession;
class Timeline;

// Plays a range of a timeline looping at a speed, as a reviewer does, while
// the null sink's monitor is recorded, and reports the sound's gaps (runs of
// silence in a file whose sound never falls silent: the longest and how
// many), how many pictures the viewer was handed per second of play, and
// ffmpeg's decoding rate of the same file in the same run. Needs the test
// audio server (tests/support/start_audio_server.sh). Returns 0 on success.
int RunSoundBench(BenchSession& session, Timeline* timeline, int first, int last, float speed, int seconds);
