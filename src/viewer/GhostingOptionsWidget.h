#pragma once

#include <QWidget>

class FlatButton;
class QRadioButton;
class QSpinBox;

// The ghosting options in the tool strip's pop-up: how many frames before and
// after are ghosted, their tints, and whether by frame or by annotation.
class GhostingOptionsWidget : public QWidget
{
    Q_OBJECT

public:
    explicit GhostingOptionsWidget(QWidget* parent = nullptr);

    QSpinBox* PrevSpinBox() const;
    QSpinBox* NextSpinBox() const;
    FlatButton* PrevTintButton() const;
    FlatButton* NextTintButton() const;
    QRadioButton* ByFrameButton() const;
    QRadioButton* ByAnnotationButton() const;

public Q_SLOTS:
    void UpdateGhostingProperties();
    void ShowColorSelectDialog();

Q_SIGNALS:
    void GhostingPropertiesChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void StoreSettings();

    QSpinBox* prevSpinBox;
    QSpinBox* nextSpinBox;
    FlatButton* prevTintButton;
    FlatButton* nextTintButton;
    QRadioButton* byFrameButton;
    QRadioButton* byAnnotationButton;
};
