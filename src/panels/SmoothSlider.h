#pragma once

#include <QSlider>

// A horizontal slider that jumps to the pressed position instead of paging,
// follows left-button drags and ignores the keyboard except Escape (hides it).
class SmoothSlider : public QSlider
{
    Q_OBJECT

public:
    explicit SmoothSlider(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr);

    // The value a position maps to, or nothing when it lies outside the range
    // (edge margins only for presses).
    int ValueAtPosition(int x, bool edgeMargins) const;

Q_SIGNALS:
    void SliderPositionChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SetValueFromPosition(int x, bool edgeMargins);
};
