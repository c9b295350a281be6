#pragma once

// Which pane of the export log a line belongs to.
enum class ExportLoggingMsgType : int
{
    General = 0,
    Audio = 1,
    Video = 2
};
