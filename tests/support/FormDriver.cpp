#include "support/FormDriver.h"

#include <QComboBox>

#include <QAbstractButton>
#include <QTableView>
#include <QTest>

void FormDriver::click(QObject* parent, const char* name)
{
    QTest::mouseClick(child<QAbstractButton>(parent, name), Qt::LeftButton);
}

void FormDriver::clickRow(QTableView* view, const QString& text)
{
    const QAbstractItemModel* m = view->model();
    for (int r = 0; m && r < m->rowCount(); ++r) {
        const QModelIndex cell = m->index(r, 1);
        if (cell.data().toString() == text)
            return QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(cell).center());
    }
    QFAIL("row not listed");
}

void FormDriver::missing(const char* name)
{
    qFatal("no widget %s", name);
}

void FormDriver::enter(QWidget* field, const QString& value)
{
    if (auto* box = qobject_cast<QComboBox*>(field)) {
        const int byValue = box->findData(value);
        const int index = byValue >= 0 ? byValue : box->findText(value);
        if (index >= 0 || !box->isEditable()) {
            box->setCurrentIndex(index);
            return;
        }
        box->setCurrentText(value);
        return;
    }
    field->setProperty("text", value);
}
