#pragma once

#include "window/TimeControlBaseWidget.h"

// The time bar over the playback range: its scale runs from the range start
// to the range end, and its two end zones nudge the range bounds in frame
// steps while the left button drags them (Ctrl: a frame a pixel, Shift: a
// frame per 20 pixels, else per 5).
class RangeTimeControlWidget : public TimeControlBaseWidget
{
    Q_OBJECT

public:
    RangeTimeControlWidget(ProjectManager* projectManager, PlaybackControlWidget* playbackControl,
                           QWidget* parent = nullptr);

    int StartFrame() const override;
    int EndFrame() const override;

protected:
    void DoPaint(QPainter& painter) override;
    void LeftMouseDragUpdate(int x, Qt::KeyboardModifiers modifiers) override;
    void UpdateGeometry(int width) override;
    void UpdateCursor() override;
};
