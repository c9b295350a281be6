#pragma once

// Pixel layout of a decoded VideoFrame.
enum class VideoFramePixelFormat : int
{
    RGB24 = 0,  // one plane, 3 bytes per pixel
    RGBA = 1,   // one plane, 4 bytes per pixel
    YUV420P = 2 // Y, U and V planes; chroma at half width and half height
};

// The format's name as logs and measurements print it.
constexpr char const* VideoFramePixelFormatName(VideoFramePixelFormat format)
{
    switch (format)
    {
    case VideoFramePixelFormat::RGB24:
        return "RGB24";
    case VideoFramePixelFormat::RGBA:
        return "RGBA";
    case VideoFramePixelFormat::YUV420P:
        return "YUV420P";
    }
    return "?";
}

// Bytes one pixel takes in each of the format's planes.
constexpr int VideoFramePixelFormatBytesPerPixel(VideoFramePixelFormat format)
{
    switch (format)
    {
    case VideoFramePixelFormat::RGB24:
        return 3;
    case VideoFramePixelFormat::RGBA:
        return 4;
    case VideoFramePixelFormat::YUV420P:
        return 1;
    }
    return 1;
}
