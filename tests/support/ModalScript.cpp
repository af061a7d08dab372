#include "support/ModalScript.h"

#include <QApplication>
#include <QDialog>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

ModalScript::ModalScript()
{
    current() = this;
    QTimer::singleShot(0, this, &ModalScript::poll);
}

ModalScript::~ModalScript()
{
    if (current() == this)
        current() = nullptr;
}

ModalScript& ModalScript::expect(const QString& title, Action act)
{
    steps.append({title, std::move(act)});
    clock.restart();
    return *this;
}

ModalScript& ModalScript::box(const QString& title, const QString& text, int button, QWidget* parent)
{
    return answer(title, text, false, button, parent);
}

ModalScript& ModalScript::boxStarting(const QString& title, const QString& prefix, int button, QWidget* parent)
{
    return answer(title, prefix, true, button, parent);
}

ModalScript& ModalScript::answer(const QString& title, const QString& text, bool prefix, int button, QWidget* parent)
{
    return expect(title, [=](QWidget* w) {
        auto* b = qobject_cast<QMessageBox*>(w);
        if (!b)
            return QStringLiteral("not a message box");
        const bool as = (prefix ? b->text().startsWith(text) : b->text() == text) && b->parentWidget() == parent;
        if (button == Qt::Key_Escape)
            QTest::keyClick(b, Qt::Key_Escape);
        else if (button == QMessageBox::NoButton)
            b->close();
        else
            b->button(QMessageBox::StandardButton(button))->click();
        return as ? QString() : QStringLiteral("box '%1'").arg(b->text());
    });
}

QByteArray ModalScript::report() const
{
    QStringList all = problems;
    for (const auto& s : steps)
        all << QStringLiteral("never came: ") + s.first;
    return all.join(QStringLiteral("; ")).toUtf8();
}

ModalScript*& ModalScript::current()
{
    static ModalScript* script = nullptr;
    return script;
}

void ModalScript::poll()
{
    // Scheduled before acting: the action may run a nested event loop.
    QTimer::singleShot(10, this, &ModalScript::poll);
    QWidget* w = QApplication::activeModalWidget();
    if (current() != this || !w || !w->isVisible())
        return;
    // A progress dialog asks nothing; how soon it shows depends on the
    // machine's speed, so it is never a step.
    if (qobject_cast<QProgressDialog*>(w))
        return;
    if (!steps.isEmpty() && w->windowTitle() == steps.first().first) {
        const auto step = steps.takeFirst();
        clock.restart();
        const QString wrong = step.second(w);
        if (!wrong.isEmpty())
            problems << step.first + QStringLiteral(": ") + wrong;
    } else if (steps.isEmpty() || clock.elapsed() > 3000) {
        problems << QStringLiteral("unexpected window '%1'").arg(w->windowTitle());
        steps.clear();
        if (auto* d = qobject_cast<QDialog*>(w))
            d->done(0);
        else
            w->close();
    }
}
