#pragma once

#include "app/ConsoleShowOnType.h"

#include <QWidget>

class ConsoleHighlighter;
class ConsoleOutput;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// The window where the log becomes visible: every line the Logger emits, with
// warnings and errors marked, popping up according to the user's "Show on"
// choice, and a command line whose commands the main window executes.
class ConsoleWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ConsoleWindow(QWidget* parent = nullptr);

public Q_SLOTS:
    void Output(QString const& message);
    void Info(QString const& message);
    void Warning(QString const& message);
    void Error(QString const& message);
    void ClearOutput();
    void OnShowOnTypeChanged(int index);
    void ExecuteCommand();
    void ScriptExecuteSelection();
    void ScriptExecuteAll();
    void ScriptExecuteLine();
    void ShowConsole(ConsoleShowOnType level);
    void AppendTextToOutput(QString const& text, bool addLineFeed, ConsoleShowOnType level);

Q_SIGNALS:
    void ScriptExecuted(QString const& script);
    void CommandExecuted(QString const& command);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateWidgets();
    void CreateLayout();
    void CreateConnections();
    void StoreGeometry();

    ConsoleOutput* mOutput = nullptr;
    QPlainTextEdit* mScriptEditor = nullptr;
    QLineEdit* mCommandLine = nullptr;
    QLabel* mShowOnLabel = nullptr;
    QComboBox* mShowOnCombo = nullptr;
    ConsoleHighlighter* mHighlighter = nullptr;
};
