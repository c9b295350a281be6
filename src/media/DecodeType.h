#pragma once

// What a decode loop fills its timeline's cache with.
enum class DecodeType : int
{
    None = 0,
    Audio = 1,
    Video = 2
};
