#pragma once

#include <QString>
#include <QWidget>

class FlatButton;
class PopUpWidget;
class QDoubleSpinBox;
class QLabel;
class SmoothSlider;

// A labelled number field with a drop-down slider (the slider works in
// hundredths of the field's value).
class MonitorSpinBox : public QWidget
{
    Q_OBJECT

public:
    explicit MonitorSpinBox(QString const& text, QWidget* parent = nullptr);

    void SetText(QString const& text);
    void SetValue(double value);
    void SetMinimum(double minimum);
    void SetMaximum(double maximum);
    void SetSingleStep(double step);
    void SetDecimals(int decimals);
    void SetSuffix(QString const& suffix);

    double Value() const;
    // Null until the slider was first shown.
    SmoothSlider* Slider() const;
    PopUpWidget* PopUp() const;
    FlatButton* DropDownButton() const;

Q_SIGNALS:
    void valueChanged(double value);

public Q_SLOTS:
    void UpdateValueFromSpinBox();
    void UpdateValueFromSlider();
    void ShowSlider();

private:
    QWidget* mContainer;
    QLabel* mLabel;
    QDoubleSpinBox* mSpinBox;
    FlatButton* mDropDownButton;
    PopUpWidget* mPopUp = nullptr;
    SmoothSlider* mSlider = nullptr;
};
