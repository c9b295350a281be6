#include "app/ConsoleWindow.h"

#include "app/ConsoleHighlighter.h"
#include "app/ConsoleOutput.h"
#include "app/Logger.h"
#include "app/Settings.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QVBoxLayout>

ConsoleWindow::ConsoleWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("Console"));
    setMinimumWidth(300);
    setWindowIcon(QIcon(QStringLiteral(":/icons/application_zeph.png")));
    CreateWidgets();
    CreateLayout();
    CreateConnections();
    mHighlighter = new ConsoleHighlighter(mOutput->document());
}

void ConsoleWindow::CreateWidgets()
{
    mOutput = new ConsoleOutput(this);
    mOutput->setReadOnly(true);
    mOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
    mOutput->setFont(Settings::fixedFont);

    mScriptEditor = new QPlainTextEdit(this);
    mScriptEditor->setLineWrapMode(QPlainTextEdit::NoWrap);
    mScriptEditor->setFont(Settings::fixedFont);
    mScriptEditor->hide();

    mCommandLine = new QLineEdit(this);
    mCommandLine->setFont(Settings::fixedFont);

    mShowOnLabel = new QLabel(tr("Show on"), this);
    mShowOnCombo = new QComboBox(this);
    mShowOnCombo->addItem(tr("Disabled"), int(ConsoleShowOnType::Disabled));
    mShowOnCombo->addItem(tr("Errors Only"), int(ConsoleShowOnType::Errors));
    mShowOnCombo->addItem(tr("Errors and Warnings"), int(ConsoleShowOnType::Warnings));
    mShowOnCombo->addItem(tr("Errors, Warnings and Info"), int(ConsoleShowOnType::Info));
    mShowOnCombo->addItem(tr("Any Output"), int(ConsoleShowOnType::AnyOutput));
    // Read as unsigned so that a negative stored value (the default -1) counts as
    // out of range too. Set before the connections: only a user's change is stored.
    unsigned const stored = unsigned(Settings::consoleShowOnType);
    mShowOnCombo->setCurrentIndex(stored <= unsigned(ConsoleShowOnType::AnyOutput) ? int(stored)
                                                                                  : int(ConsoleShowOnType::Errors));
}

void ConsoleWindow::CreateLayout()
{
    auto* showOnRow = new QHBoxLayout;
    showOnRow->addStretch();
    showOnRow->addWidget(mShowOnLabel);
    showOnRow->addWidget(mShowOnCombo);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(mOutput);
    splitter->addWidget(mScriptEditor);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addLayout(showOnRow);
    layout->addWidget(splitter);
    layout->addWidget(mCommandLine);
}

void ConsoleWindow::CreateConnections()
{
    Logger* const logger = Logger::GetInstance();
    connect(logger, &Logger::OutputLogged, this, &ConsoleWindow::Output);
    connect(logger, &Logger::InfoLogged, this, &ConsoleWindow::Info);
    connect(logger, &Logger::WarningLogged, this, &ConsoleWindow::Warning);
    connect(logger, &Logger::ErrorLogged, this, &ConsoleWindow::Error);
    connect(mShowOnCombo, &QComboBox::currentIndexChanged, this, &ConsoleWindow::OnShowOnTypeChanged);
    connect(mCommandLine, &QLineEdit::returnPressed, this, &ConsoleWindow::ExecuteCommand);
}

void ConsoleWindow::Output(QString const& message)
{
    // Output text carries its own line feeds; several calls may build one line.
    AppendTextToOutput(message, false, ConsoleShowOnType::AnyOutput);
}

void ConsoleWindow::Info(QString const& message)
{
    AppendTextToOutput(message, true, ConsoleShowOnType::Info);
}

void ConsoleWindow::Warning(QString const& message)
{
    AppendTextToOutput(QStringLiteral("[WARNING] %1").arg(message), true, ConsoleShowOnType::Warnings);
}

void ConsoleWindow::Error(QString const& message)
{
    AppendTextToOutput(QStringLiteral("[ERROR] %1").arg(message), true, ConsoleShowOnType::Errors);
}

void ConsoleWindow::ClearOutput()
{
    mOutput->clear();
}

void ConsoleWindow::OnShowOnTypeChanged(int index)
{
    Settings::consoleShowOnType = mShowOnCombo->itemData(index).toInt();
}

void ConsoleWindow::ExecuteCommand()
{
    QString const command = mCommandLine->text();
    mCommandLine->clear();
    Q_EMIT CommandExecuted(command);
}

void ConsoleWindow::ScriptExecuteSelection()
{
    QString const selection = mScriptEditor->textCursor().selectedText();
    if (selection.isEmpty())
    {
        ScriptExecuteAll();
        return;
    }
    Q_EMIT ScriptExecuted(QString(selection).replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
}

void ConsoleWindow::ScriptExecuteAll()
{
    Q_EMIT ScriptExecuted(mScriptEditor->toPlainText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
}

void ConsoleWindow::ScriptExecuteLine()
{
    QString const line = mScriptEditor->textCursor().block().text().trimmed();
    Q_EMIT ScriptExecuted(QString(line).replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
}

void ConsoleWindow::ShowConsole(ConsoleShowOnType level)
{
    if (int(level) > mShowOnCombo->currentData().toInt())
    {
        return;
    }
    // A line that pops the console up leaves the keyboard with the window
    // the user works in: the console comes up without being activated.
    if (isHidden())
    {
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
    else
    {
        raise();
    }
}

void ConsoleWindow::AppendTextToOutput(QString const& text, bool addLineFeed, ConsoleShowOnType level)
{
    QTextCursor cursor = mOutput->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(addLineFeed ? text + QLatin1Char('\n') : text);
    cursor.movePosition(QTextCursor::End);
    mOutput->setTextCursor(cursor);
    mOutput->horizontalScrollBar()->setValue(mOutput->horizontalScrollBar()->minimum());
    ShowConsole(level);
}

void ConsoleWindow::keyPressEvent(QKeyEvent* event)
{
    bool const isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!isReturn || !(event->modifiers() & Qt::ControlModifier))
    {
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier)
    {
        ScriptExecuteAll();
    }
    else if (event->modifiers() & Qt::AltModifier)
    {
        ScriptExecuteLine();
    }
    else
    {
        ScriptExecuteSelection();
    }
    event->accept();
}

void ConsoleWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    StoreGeometry();
}

void ConsoleWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    StoreGeometry();
}

void ConsoleWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    restoreGeometry(Settings::consoleWindowGeometry);
    mOutput->setFocus();
}

void ConsoleWindow::StoreGeometry()
{
    if (isVisible())
    {
        Settings::consoleWindowGeometry = saveGeometry();
    }
}
