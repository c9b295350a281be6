#pragma once

#include "media/PacketPictureCheck.h"

// What tests check of a PacketPictureCheck beyond what the decoders use.
class PacketPictureCheckTestAccess
{
public:
    // PacketPictureCheck::HoldsFrame, on a named check or a temporary one.
    template <typename Check>
    static bool HoldsFrame(Check&& check, AVPacket const* packet)
    {
        return check.HoldsFrame(packet);
    }
};
