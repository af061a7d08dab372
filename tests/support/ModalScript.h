#pragma once

// Answers the modal windows a test expects, in order, from timers. A window
// that does not come in time, or one nobody expected, is noted and closed, so
// no test waits on a human. The newest script of a test is the one answering.

#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPair>
#include <QStringList>

#include <functional>

#include "support/FormDriver.h"

class ModalScript : public QObject
{
public:
    using Action = std::function<QString(QWidget*)>; // empty text: as expected

    ModalScript();
    ~ModalScript() override;

    ModalScript& expect(const QString& title, Action act);
    // Checks a message box's text and parent, then clicks button
    // (Qt::Key_Escape presses Escape, QMessageBox::NoButton closes the window).
    ModalScript& box(const QString& title, const QString& text, int button = QMessageBox::Ok,
                     QWidget* parent = nullptr);
    // The same for a box whose text starts with prefix (a size, a time in it).
    ModalScript& boxStarting(const QString& title, const QString& prefix, int button = QMessageBox::Ok,
                             QWidget* parent = nullptr);
    bool clean() const { return steps.isEmpty() && problems.isEmpty(); }
    QByteArray report() const;

private:
    static ModalScript*& current();
    ModalScript& answer(const QString& title, const QString& text, bool prefix, int button, QWidget* parent);
    void poll();

    QList<QPair<QString, Action>> steps;
    QStringList problems;
    QElapsedTimer clock;
};

#define ANSWERED(script) QVERIFY2((script).clean(), (script).report().constData())
// Presses the named button of form and answers the one box it brings (title, text, form its parent) with OK.
#define PRESS_ANSWERED(form, button, title, text) \
    do { ModalScript s_; s_.box(title, text, QMessageBox::Ok, form); FormDriver::click(form, button); ANSWERED(s_); } while (false)
