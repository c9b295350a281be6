#include "support/ModalAnswer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QtTest>

ModalAnswer::ModalAnswer(QMessageBox::StandardButton answer)
    : mAnswer(answer)
{
    // A modal box runs an event loop of its own, in which this fires.
    mTimer.setInterval(5);
    QObject::connect(&mTimer, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
        {
            return;
        }
        QAbstractButton* button = box->button(mAnswer);
        if (!button)
        {
            return;
        }
        ++mAsked;
        mLastText = box->text();
        QTest::mouseClick(button, Qt::LeftButton);
    });
    mTimer.start();
}
