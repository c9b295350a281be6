#pragma once

#include "window/PopUpLocation.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QStyledItemDelegate>
#include <QVariant>
#include <QWidget>

class PopUpWidget;
class QLabel;
class QListWidget;
class QListWidgetItem;

// The compact selector of the monitor's strips: shows the icon (and text) of
// its current row and opens its rows as a list in a pop-up on a left click.
// Clicking a row emits CurrentRowChanged; a momentary row is reported but not
// kept. Setting the row from code never emits.
class MonitorComboBox : public QWidget
{
    Q_OBJECT

public:
    // Paints the list's rows; a hovered row shows its icon's Active pixmap.
    class MonitorComboBoxItemDelegate : public QStyledItemDelegate
    {
    public:
        explicit MonitorComboBoxItemDelegate(QObject* parent = nullptr);
        void paint(QPainter* painter, QStyleOptionViewItem const& option, QModelIndex const& index) const override;
    };

    static constexpr int MOMENTARY_ROLE = Qt::UserRole + 1;
    static constexpr int SEPARATOR_ROLE = Qt::UserRole + 2;

    explicit MonitorComboBox(QString const& toolTip, QWidget* parent = nullptr);
    ~MonitorComboBox() override;

    void AddItem(QString const& text, QVariant const& data, bool momentary = false);
    void AddItem(QIcon const& icon, QString const& text, QVariant const& data, bool momentary = false);
    void AddSeparator();
    int Count() const;
    // The row's user value; an invalid QVariant outside the rows.
    QVariant Data(int row) const;
    int CurrentRow() const;
    QString Text(int row) const;
    void SetCurrentRow(int row);
    void SetPopUpLocation(PopUpLocation location);
    void SetSelectedTextVisible(bool visible);
    void SetSelectedIconOverride(QImage const& image, int row);
    void SetHighlightCurrentEnabled(bool enabled);
    void SetHighlightSelectedIconIndexGtZero(bool enabled);

    // Null until the first left click built them.
    PopUpWidget* PopUp() const;
    QListWidget* List() const;

    // A row icon from an image file: its own colours normally, black on the
    // hovered row (fillBlack), light grey in Disabled mode (fillBlack and
    // highlight).
    static QIcon CreateIcon(QString const& path, bool fillBlack, bool highlight);
    static QColor HighlightColor();

Q_SIGNALS:
    void CurrentRowChanged(int row);

public Q_SLOTS:
    void OnItemSelected(QListWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowPopUp();

    PopUpWidget* mPopUp = nullptr;
    QLabel* mTitleLabel = nullptr;
    QListWidget* mList = nullptr;
    QString mToolTip;
    int mCurrentRow = 0;
    PopUpLocation mPopUpLocation = PopUpLocation::Above;
    QIcon mOverrideIcon;
    QIcon mHighlightedOverrideIcon;
    int mOverrideRow = -1;
    bool mTextVisible = true;
    QString mSelectedColor = QStringLiteral("black");
    QString mSelectedBackground = QStringLiteral("rgb(140, 140, 140)");
    bool mHighlightAboveRowZero = false;
    // Owned here until the list takes them (then the list deletes them).
    QList<QListWidgetItem*> mRows;
};
