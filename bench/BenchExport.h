#pragma once

class BenchSession;

// Exports a generated 1080p H.264 clip of `seconds` at 25 fps through the
// engine, as the export dialog does (video only, at the clip's size and the
// player's H.264 settings), and reports the process's peak memory during it
// against the export's cache and the encoder's room, and its time against
// ffmpeg running the same encode on the file. The clip is made with ffmpeg
// in a temporary folder (ffmpeg on the PATH). Returns 0 on success.
int RunExportBench(BenchSession& session, int seconds);
