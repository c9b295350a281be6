// TESSARIN_TEST: xvfb
#include "PreferencesFixture.h"

#include "app/Logger.h"
#include "panels/KeySequenceLineEdit.h"

#include <QComboBox>
#include <QListWidget>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>

using namespace PreferencesFixture;
using T = KeySequenceType;

class TestKeySequenceLineEdit : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;
    std::unique_ptr<BoundTable> mTable;
    std::unique_ptr<PreferencesDialog> mDialog;

    template <typename W>
    W* Get(char const* name) { return Find<W>(mDialog.get(), name); }

    KeySequenceLineEdit* KeyField() { return Get<KeySequenceLineEdit>("pressShortcutKeysLE"); }
    QString UsedBy() { return Get<QLineEdit>("shortcutCurrentlyUsedByLE")->text(); }
    QPushButton* AssignButton() { return Get<QPushButton>("assignShortcutBtn"); }

    bool OpenKeyboardPage()
    {
        mDialog->show();
        if (!QTest::qWaitForWindowExposed(mDialog.get()))
            return false;
        auto* list = Get<QListWidget>("menuListWdg");
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
        return Get<QStackedWidget>("preferencesStackedWdg")->currentWidget() == Get<QWidget>("keyboardPage");
    }

    void Select(QString const& label)
    {
        auto* list = Get<QListWidget>("keyboardCommandListWdg");
        QListWidgetItem* item = list->findItems(label, Qt::MatchExactly).value(0);
        QVERIFY2(item, qPrintable(label));
        list->scrollToItem(item);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
        QCOMPARE(list->currentItem(), item);
    }

    QStringList ComboItems()
    {
        auto* combo = Get<QComboBox>("assignedShortcutCmb");
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items.append(combo->itemText(i));
        return items;
    }

    void Assign(QKeyCombination combination)
    {
        QTest::keyClick(KeyField(), combination.key(), combination.keyboardModifiers());
        QTest::mouseClick(AssignButton(), Qt::LeftButton);
    }

    void Ok() { QTest::mouseClick(Get<QPushButton>("okButton"), Qt::LeftButton); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(mHome.isValid());
        qputenv("HOME", mHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", mHome.filePath(".config").toUtf8());
    }

    void init()
    {
        QFile::remove(BindingsPath());
        mTable = std::make_unique<BoundTable>();
        mDialog = std::make_unique<PreferencesDialog>(mHome.path(), &mTable->Bindings());
    }

    void cleanup()
    {
        mDialog.reset();
        mTable.reset();
    }

    void CaptureTakesWholeCombinations()
    {
        KeySequenceLineEdit edit;
        edit.show();
        QVERIFY(QTest::qWaitForWindowExposed(&edit));
        QSignalSpy edited(&edit, &QLineEdit::textEdited);
        for (Qt::Key const modifier : {Qt::Key_Shift, Qt::Key_Control, Qt::Key_Alt, Qt::Key_Meta})
            QTest::keyClick(&edit, modifier);
        QKeyEvent unknown(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier);
        QApplication::sendEvent(&edit, &unknown);
        QCOMPARE(edit.text(), QString());
        QCOMPARE(edited.count(), 0);

        QTest::keyClick(&edit, Qt::Key_A, Qt::ShiftModifier);
        QCOMPARE(edit.text(), QStringLiteral("Shift+A"));
        QCOMPARE(edited.count(), 1);
        QCOMPARE(edited.first().first().toString(), QStringLiteral("Shift+A"));
        QTest::keyClick(&edit, Qt::Key_Shift, Qt::ShiftModifier);
        QCOMPARE(edit.text(), QStringLiteral("Shift+A"));

        // Editing keys are combinations too; keypad flags are dropped.
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QStringLiteral("Backspace"));
        QTest::keyClick(&edit, Qt::Key_Left, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(edit.text(), QStringLiteral("Ctrl+Alt+Left"));
        QTest::keyClick(&edit, Qt::Key_5, Qt::KeypadModifier);
        QCOMPARE(edit.text(), QStringLiteral("5"));
        QTest::keyClick(&edit, Qt::Key_Comma, Qt::ControlModifier);
        QCOMPARE(edit.text(), QStringLiteral("Ctrl+,"));
    }

    void ListShowsEditableRowsOnly()
    {
        QVERIFY(OpenKeyboardPage());
        auto* list = Get<QListWidget>("keyboardCommandListWdg");
        int editable = 0;
        for (KeySequence const* row : mTable->Bindings().GetKeySequences())
            editable += row->active && !row->fixed;
        QCOMPARE(list->count(), editable);
        QCOMPARE(list->currentRow(), 0);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Open File"));
        QVERIFY(list->findItems("Application", Qt::MatchExactly).isEmpty());
        QVERIFY(list->findItems("Undo", Qt::MatchExactly).isEmpty()); // inactive

        Select("Zoom In");
        QCOMPARE(ComboItems(), (QStringList{"Ctrl++", "Ctrl+="}));
        Select("Replace Source");
        QCOMPARE(ComboItems(), QStringList{QString()});
    }

    void AssigningMovesACombination()
    {
        QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
        QVERIFY(OpenKeyboardPage());
        Select("Toggle Mute");
        QTest::keyClick(KeyField(), Qt::Key_Space);
        QCOMPARE(KeyField()->text(), QStringLiteral("Space"));
        QCOMPARE(UsedBy(), QStringLiteral("Play/Pause"));
        QVERIFY(AssignButton()->isEnabled());
        QTest::mouseClick(AssignButton(), Qt::LeftButton);
        QCOMPARE(ComboItems(), (QStringList{"Ctrl+M", "Space"}));
        QCOMPARE(Get<QComboBox>("assignedShortcutCmb")->currentText(), QStringLiteral("Space"));
        QCOMPARE(KeyField()->text(), QString());
        QCOMPARE(UsedBy(), QString());

        // The row that held it keeps one empty entry.
        Select("Play/Pause");
        QCOMPARE(ComboItems(), QStringList{QString()});

        // A placeholder is replaced, not kept beside the new combination.
        Select("Replace Source");
        Assign(QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_J));
        QCOMPARE(ComboItems(), QStringList{"Ctrl+Shift+J"});

        // Remove with the combo's text, and with nothing selected.
        Select("Zoom In");
        Get<QComboBox>("assignedShortcutCmb")->setCurrentIndex(0);
        QTest::mouseClick(Get<QPushButton>("removeShortcutBtn"), Qt::LeftButton);
        QCOMPARE(ComboItems(), QStringList{"Ctrl+="});
        Select("Play/Pause");
        QTest::mouseClick(Get<QPushButton>("removeShortcutBtn"), Qt::LeftButton);
        QCOMPARE(ComboItems(), QStringList{QString()});

        // Nothing is applied before OK.
        QCOMPARE(mTable->Action(T::PlayPause)->shortcut(), QKeySequence(Qt::Key_Space));
        Ok();
        QVERIFY(mDialog->isHidden());
        QCOMPARE(mTable->Action(T::ToggleMute)->shortcuts(),
                 (QList<QKeySequence>{QKeySequence("Ctrl+M"), QKeySequence(Qt::Key_Space)}));
        QVERIFY(mTable->Action(T::PlayPause)->shortcut().isEmpty());
        QCOMPARE(mTable->Action(T::ReplaceSource)->shortcuts(), QList<QKeySequence>{QKeySequence("Ctrl+Shift+J")});
        QCOMPARE(mTable->Action(T::ZoomIn)->shortcuts(), QList<QKeySequence>{QKeySequence("Ctrl+=")});
        for (QList<QVariant> const& warning : std::as_const(warnings))
            QVERIFY2(!warning.first().toString().contains("Duplicate hotkey detected"),
                     qPrintable(warning.first().toString()));

        // The file holds the same rows.
        KeyBindings reread;
        reread.ReadUserKeyBindings();
        QCOMPARE(KeyBindingsDump(reread), KeyBindingsDump(mTable->Bindings()));
    }

    void PermanentCombinationsStayPut()
    {
        QVERIFY(OpenKeyboardPage());
        // Removing their combinations never touches the permanent rows.
        mDialog->RemoveKeyBinding(QStringLiteral("Esc"));
        mDialog->RemoveKeyBinding(QStringLiteral("Del"));

        Select("Toggle Bookmark");
        QTest::keyClick(KeyField(), Qt::Key_Escape);
        QVERIFY(mDialog->isVisible()); // the field took Escape
        QCOMPARE(KeyField()->text(), QStringLiteral("Esc"));
        QCOMPARE(UsedBy(), QStringLiteral("Application (Permanent)"));
        QVERIFY(!AssignButton()->isEnabled());
        QTest::keyClick(KeyField(), Qt::Key_Delete);
        QCOMPARE(KeyField()->text(), QStringLiteral("Del"));
        QCOMPARE(UsedBy(), QStringLiteral("Application (Permanent)"));
        QVERIFY(!AssignButton()->isEnabled());
        // Even invoked directly, the permanent combination is not assigned.
        mDialog->AssignKeyBinding();
        QCOMPARE(ComboItems(), QStringList{"F"});

        // Another combination enables Assign again.
        QTest::keyClick(KeyField(), Qt::Key_R);
        QCOMPARE(UsedBy(), QStringLiteral("Toggle Range Bookmark"));
        QVERIFY(AssignButton()->isEnabled());
        QTest::keyClick(KeyField(), Qt::Key_F7, Qt::ShiftModifier);
        QCOMPARE(UsedBy(), QString());
        QVERIFY(AssignButton()->isEnabled());

        QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
        Ok();
        QCOMPARE(warnings.count(), 0);
        QCOMPARE(mTable->Row(T::ApplicationEsc)->userSequences, QList<QKeySequence>{QKeySequence(Qt::Key_Escape)});
        QCOMPARE(mTable->Row(T::ApplicationDel)->userSequences, QList<QKeySequence>{QKeySequence(Qt::Key_Delete)});
        QCOMPARE(mTable->Action(T::ApplicationEsc)->shortcut(), QKeySequence(Qt::Key_Escape));
        QCOMPARE(mTable->Action(T::ApplicationDel)->shortcut(), QKeySequence(Qt::Key_Delete));
    }

    void RestoreDefaultsAsksFirst()
    {
        QVERIFY(OpenKeyboardPage());
        Select("Toggle Loop");
        Assign(QKeyCombination(Qt::AltModifier, Qt::Key_L));
        QStringList const edited = ComboItems();
        QCOMPARE(edited, (QStringList{"Ctrl+L", "Alt+L"}));

        QString question;
        AnswerMessageBox(QMessageBox::No, &question);
        QTest::mouseClick(Get<QPushButton>("restoreDefaultsBtn"), Qt::LeftButton);
        QCOMPARE(question, QStringLiteral("Keyboard mappings will reset to their default values. Continue?"));
        QCOMPARE(ComboItems(), edited);

        AnswerMessageBox(QMessageBox::Yes);
        QTest::mouseClick(Get<QPushButton>("restoreDefaultsBtn"), Qt::LeftButton);
        QCOMPARE(ComboItems(), QStringList{"Ctrl+L"});
        QSignalSpy warnings(Logger::GetInstance(), &Logger::WarningLogged);
        Ok();
        QCOMPARE(warnings.count(), 0);
        QCOMPARE(mTable->Action(T::ToggleLoop)->shortcuts(), QList<QKeySequence>{QKeySequence("Ctrl+L")});
    }

    void EachOpeningStartsFromTheBindingsInForce()
    {
        QVERIFY(OpenKeyboardPage());
        Select("Pause");
        Assign(QKeyCombination(Qt::ShiftModifier, Qt::Key_K));
        QCOMPARE(ComboItems(), (QStringList{"K", "Shift+K"}));
        QTest::mouseClick(Get<QPushButton>("cancelButton"), Qt::LeftButton);
        QVERIFY(mDialog->isHidden());

        QVERIFY(OpenKeyboardPage());
        Select("Pause");
        QCOMPARE(ComboItems(), QStringList{"K"});
        Ok();
        QCOMPARE(mTable->Action(T::Pause)->shortcuts(), QList<QKeySequence>{QKeySequence(Qt::Key_K)});

        // Bindings changed elsewhere (another OK, a file read) show at the next opening.
        mTable->Row(T::Pause)->userSequences = {QKeySequence(Qt::Key_P)};
        QVERIFY(OpenKeyboardPage());
        Select("Pause");
        QCOMPARE(ComboItems(), QStringList{"P"});
    }
};

QTEST_MAIN(TestKeySequenceLineEdit)
#include "tst_keysequencelineedit.moc"
