#pragma once

#include <QRect>
#include <QWidget>

// A wedge-shaped volume gauge with its percentage; a left press or drag sets
// the volume (99 to 101 snap to 100).
class VolumeSlider : public QWidget
{
    Q_OBJECT

public:
    explicit VolumeSlider(bool large, QWidget* parent = nullptr);

    int Volume() const;
    void SetVolume(int volume);
    void SetMaximum(int maximum);
    int Maximum() const;
    // Shows 0 while muted, else the stored volume setting; no signal.
    void SetMuted(bool muted);

    // The volume a press at x asks for, snapped at 100, before clamping.
    int VolumeAtPosition(int x) const;

Q_SIGNALS:
    void VolumeChanged(int volume);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void SetFromPosition(int x);
    void Refresh();

    int mVolume = 100;
    int mMinimum = 0;
    int mMaximum = 150;
    QRect mTextRect;
    int mFontPointSize;
};
