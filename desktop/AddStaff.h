#pragma once

// The dialog that enters a new person, photo included.

#include <QDialog>
#include <QFile>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <memory>

class DataBase;

namespace Ui {
class AddStaff;
}

// "添加人员信息": enters a new person.
class AddStaff : public QDialog
{
    Q_OBJECT

public:
    AddStaff(QWidget* parent, DataBase* database);
    ~AddStaff() override;

    // Refills the departments and runs the dialog modally.
    void prepareAndShow();

    // Where both staff dialogs ask for a photo file (empty: none chosen).
    // Tests put their own chooser here, so no real file dialog opens.
    static std::function<QString(QWidget* parent)> imageChooser;

public slots:
    void Addstaff();
    void Quit();
    void photo();

private:
    void refuse(const QString& text);

    std::unique_ptr<Ui::AddStaff> ui;
    DataBase* database = nullptr;
    const QString connName = QStringLiteral("Addstaff.db");
    QSqlDatabase db;
    QString photoPath;
    QFile photoFile;
};
