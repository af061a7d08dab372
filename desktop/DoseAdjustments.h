#pragma once

// 剂量更正: a person's months with their original and adjusted doses, an
// adjustment filed with its value shown before saving, and the pending ones
// approved (by another account) or withdrawn.

#include <QDialog>
#include <QString>

class DataBase;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableWidget;
class QTabWidget;

class DoseAdjustments : public QDialog
{
    Q_OBJECT

public:
    DoseAdjustments(QWidget* parent, DataBase* database);
    ~DoseAdjustments() override;

    // Shows the person of idCard (the first one when empty) on the first tab.
    void choosePerson(const QString& idCard);

signals:
    // Something was filed, approved or withdrawn: figures and levels may have
    // changed; raised counts the alerts an approval raised.
    void adjustmentsChanged(int raised);

private:
    void loadPeople();
    void loadMonths();
    void loadPending();
    // The value of the chosen method for the chosen month, shown; stated
    // values are typed.
    void compute();
    void file();
    void approve();
    void withdraw();
    // The id of the selected pending row, 0 when none.
    int selectedPending() const;
    QString card() const;

    DataBase* database;
    const QString connName = QStringLiteral("DoseAdjustments");
    QTabWidget* tabs;
    QComboBox* person;
    QTableWidget* months;
    QLineEdit* month;
    QComboBox* kind;
    QComboBox* method;
    QDoubleSpinBox* value;
    QLabel* computed;
    QPlainTextEdit* reason;
    QTableWidget* pending;
    QLineEdit* withdrawReason;
    // The value compute() found for the month and method shown, valid only
    // while they stay.
    bool valueReady = false;
};
