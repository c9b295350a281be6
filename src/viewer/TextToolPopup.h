#pragma once

#include <QString>
#include <QWidget>

class QPlainTextEdit;

// The small pop-up in which the text of a text stroke is typed. Closes on
// Escape or, being a pop-up, on a click outside it.
class TextToolPopup : public QWidget
{
    Q_OBJECT

public:
    explicit TextToolPopup(QWidget* parent = nullptr);

    QPlainTextEdit* Editor() const;

Q_SIGNALS:
    void TextChanged(QString const& text);
    void PopupClosed();

private Q_SLOTS:
    void OnTextChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QPlainTextEdit* mEditor;
};
