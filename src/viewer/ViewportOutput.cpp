#include "viewer/ViewportOutput.h"

#include "media/VideoFrame.h"

ViewportOutput::~ViewportOutput() = default;
