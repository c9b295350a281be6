#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

// Turns 10-bit YUV 4:2:0 pictures into 8-bit YUV 4:2:0 at the same size,
// sample for sample as the scaler does with the given flags, without its
// generic path (which takes several times longer; a 4K picture costs a
// fraction of its decoding). What the scaler makes of such a picture with
// the engine's flags is each sample's top eight bits after a 2x2 ordered
// dither: a sample of 10 bits v becomes min((v + d) >> 2, 255), d being 1
// and 2 on even rows (even and odd columns), 3 and 0 on odd rows, in every
// plane. Whether the scaler of this process does exactly that is checked
// once against it; where it does not, Handles says no and the scaler
// converts. Any thread.
class TenBitPictureConversion
{
public:
    // Whether Convert makes what a scaler with these flags makes of the
    // picture in the output format at the picture's own size.
    static bool Handles(AVFrame const* picture, AVPixelFormat output, int scalerFlags);
    // Writes the picture's width x height samples (and its chroma planes'
    // share) into planes (Y, U, V) of the given line sizes.
    static void Convert(AVFrame const* picture, uint8_t* const* planes, int const* lineSizes);

private:
    // The dither above matches this process's scaler with these flags.
    static bool MatchesScaler(int scalerFlags);
    static void ConvertPlane(uint16_t const* source, int sourceStride, uint8_t* target, int targetStride, int width,
                             int height);
};
