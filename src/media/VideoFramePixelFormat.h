#pragma once

// Pixel layout of a decoded VideoFrame.
enum class VideoFramePixelFormat : int
{
    RGB24 = 0,  // one plane, 3 bytes per pixel
    RGBA = 1,   // one plane, 4 bytes per pixel
    YUV420P = 2 // Y, U and V planes; chroma at half width and half height
};
