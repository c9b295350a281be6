#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

// A flat button that shows an image (recoloured in one flat colour when
// tinted, hovered or checked) or, without image, a swatch of its colour.
class FlatButton : public QWidget
{
    Q_OBJECT

public:
    explicit FlatButton(QWidget* parent = nullptr);

    // A new parentless button of a fixed size; the caller takes ownership.
    static FlatButton* CreateButton(QImage const& image, QSize const& size, int margin, QString const& toolTip);

    // An invalid colour restores the background colour the button was made with;
    // an invalid tint means no tint.
    void SetColor(QColor const& color, QColor const& tint = QColor());
    QColor GetColor() const;
    void SetImage(QImage const& image, int margin);
    void SetChecked(bool checked);
    bool IsChecked() const;
    void SetMouseOverEnabled(bool enabled);
    void UpdateIcon(bool hovered);

    // The light grey of a hovered or checked button without tint.
    static QColor ButtonDownColor();

Q_SIGNALS:
    void clicked();
    void pressed();
    void released();
    void rightClicked();
    void rightPressed();
    void rightReleased();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QIcon mIcon;
    QRect mIconRect;
    QImage mImage;
    int mImageMargin = 0;
    QColor mColor;
    QColor mTintColor;
    QColor mFillColor;
    QColor mDefaultColor;
    QColor mButtonDownColor;
    bool mMouseOverEnabled = true;
    bool mChecked = false;
};
