#pragma once

// The level of a console line and, at the same time, the user's choice of which
// lines pop the console window up: a line does when its level is at most the choice.
enum class ConsoleShowOnType : int
{
    Disabled = 0,
    Errors = 1,
    Warnings = 2,
    Info = 3,
    AnyOutput = 4,
};
