#pragma once

// Finds a form's widgets by object name and clicks them as the operator
// does. Test classes inherit it privately to call these unqualified.

#include <QObject>
#include <QString>

class QTableView;
class QWidget;

class FormDriver
{
public:
    // The named child; a missing one stops the test program, since every
    // later step would only fail less clearly.
    template <typename T = QWidget>
    static T* child(QObject* parent, const char* name)
    {
        T* found = parent->findChild<T*>(QLatin1String(name));
        if (!found)
            missing(name);
        return found;
    }
    static void click(QObject* parent, const char* name);
    // Puts value into a field: a line edit's text, or the combo box item
    // whose value (item data) or text it is.
    static void enter(QWidget* field, const QString& value);
    // Clicks the row whose first visible column (1) shows text.
    static void clickRow(QTableView* view, const QString& text);

private:
    [[noreturn]] static void missing(const char* name);
};
