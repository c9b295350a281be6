#include "viewer/TextToolPopup.h"

#include "app/Settings.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QVBoxLayout>

TextToolPopup::TextToolPopup(QWidget* parent)
    : QWidget(parent, Qt::Popup)
    , mEditor(new QPlainTextEdit(this))
{
    setFocusPolicy(Qt::NoFocus);
    QFont font = mEditor->font();
    font.setPointSize(10);
    mEditor->setFont(font);
    auto* const layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(mEditor);
}

QPlainTextEdit* TextToolPopup::Editor() const
{
    return mEditor;
}

void TextToolPopup::OnTextChanged()
{
    if (isVisible())
    {
        Q_EMIT TextChanged(mEditor->toPlainText());
    }
}

void TextToolPopup::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
    {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TextToolPopup::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    mEditor->clear();
    mEditor->setFocus();
    if (Settings::showAnnotationTextBox)
    {
        raise();
    }
    else
    {
        lower();
    }
    // Connected once per showing: closeEvent disconnects it.
    connect(mEditor, &QPlainTextEdit::textChanged, this, &TextToolPopup::OnTextChanged, Qt::UniqueConnection);
}

void TextToolPopup::closeEvent(QCloseEvent* event)
{
    disconnect(mEditor, &QPlainTextEdit::textChanged, this, &TextToolPopup::OnTextChanged);
    QWidget::closeEvent(event);
    Q_EMIT PopupClosed();
}
