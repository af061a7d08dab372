#pragma once

// The dialog that says where the register lives: an SQLite file or a PostgreSQL database.

#include <QDialog>
#include <QString>

#include <memory>

#include "core/store/StoreConfig.h"

namespace Ui {
class DbSettings;
}

class QSettings;

// "数据库设置": where the register lives, the group "database" of the settings
// file. The program opens its store at start-up, so a change takes effect with
// the next start. The password goes onto the test connection and, when the
// operator asks for it, into the libpq password file; never into the settings
// file or the log.
class DbSettings : public QDialog
{
    Q_OBJECT

public:
    DbSettings(QWidget* parent, QSettings* settings);
    ~DbSettings() override;

    // The store as the fields stand.
    StoreConfig fields() const;

public slots:
    // Connects with the fields as they stand, and the password, through a
    // connection of its own; shows the server's version or the driver's error.
    void testConnection();
    void accept() override;

private:
    void load();
    void updateFields();
    void browse();
    void showResult(bool ok, const QString& text);
    void refuse(const QString& text);

    std::unique_ptr<Ui::DbSettings> ui;
    QSettings* settings = nullptr;
    StoreConfig saved; // as the file had it
    bool savedValid = true;
};
