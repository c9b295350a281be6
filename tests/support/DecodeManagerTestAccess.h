#pragma once

#include "media/DecodeManager.h"

// What tests read of a DecodeManager's state (once its loop has stopped).
class DecodeManagerTestAccess
{
public:
    // Null until the loop first decodes a movie.
    static VideoDecoder const* MovieDecoder(DecodeManager const& manager) { return manager.mVideoDecoder; }
};
