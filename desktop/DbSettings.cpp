// The store's settings edited, a connection tested with them, and the server's password saved when asked.

#include "desktop/DbSettings.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlError>

#include "core/log/QsLog.h"
#include "core/store/Dialect.h"
#include "core/store/PgPassFile.h"
#include "ui_DbSettings.h"

namespace {

const QString kRestartNotice = QStringLiteral("数据库设置已保存，重新启动程序后生效。");

// The same store as far as the settings file tells: what write() would put there.
bool sameStore(const StoreConfig& a, const StoreConfig& b)
{
    if (a.driver != b.driver)
        return false;
    if (!a.isShared())
        return a.path == b.path;
    return a.host == b.host && a.port == b.port && a.name == b.name && a.user == b.user && a.options == b.options;
}

// libpq's own text where there is one ("could not connect to server: ..."),
// Qt's otherwise ("Driver not loaded").
QString errorText(const QSqlError& error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

} // namespace

DbSettings::DbSettings(QWidget* parent, QSettings* settings)
    : QDialog(parent), ui(std::make_unique<Ui::DbSettings>()), settings(settings)
{
    ui->setupUi(this);
    ui->cmbDriver->addItem(QStringLiteral("SQLite 文件"), QLatin1String(StoreConfig::kSqlite));
    ui->cmbDriver->addItem(QStringLiteral("PostgreSQL 服务器"), QLatin1String(StoreConfig::kPostgres));
    ui->chkSavePassword->setToolTip(PgPassFile::path());

    connect(ui->cmbDriver, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &DbSettings::updateFields);
    connect(ui->editPassword, &QLineEdit::textChanged, this, &DbSettings::updateFields);
    connect(ui->btnTest, &QPushButton::clicked, this, &DbSettings::testConnection);
    connect(ui->btnBrowse, &QToolButton::clicked, this, &DbSettings::browse);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &DbSettings::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DbSettings::reject);
    // A result stays only as long as the fields it was found with.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        connect(edit, &QLineEdit::textEdited, ui->lblResult, &QLabel::clear);
    connect(ui->spinPort, QOverload<int>::of(&QSpinBox::valueChanged), ui->lblResult, &QLabel::clear);

    load();
}

DbSettings::~DbSettings() = default;

void DbSettings::load()
{
    QString error;
    savedValid = settings && StoreConfig::read(*settings, saved, &error);
    const StoreConfig& c = saved;
    ui->cmbDriver->setCurrentIndex(c.isShared() ? 1 : 0);
    ui->editPath->setText(c.path);
    ui->editHost->setText(c.host);
    ui->spinPort->setValue(c.port);
    ui->editName->setText(c.name);
    ui->editUser->setText(c.user);
    ui->editOptions->setText(c.options);
    ui->editPassword->clear();
    ui->chkSavePassword->setChecked(false);
    updateFields();
    if (!error.isEmpty())
        showResult(false, error);
}

StoreConfig DbSettings::fields() const
{
    StoreConfig c;
    c.driver = ui->cmbDriver->currentData().toString();
    c.path = ui->editPath->text().trimmed();
    if (c.path.isEmpty())
        c.path = StoreConfig().path;
    c.host = ui->editHost->text().trimmed();
    c.port = ui->spinPort->value();
    c.name = ui->editName->text().trimmed();
    c.user = ui->editUser->text().trimmed();
    c.options = ui->editOptions->text().trimmed();
    return c;
}

void DbSettings::updateFields()
{
    const bool postgres = fields().isShared();
    ui->editPath->setEnabled(!postgres);
    ui->btnBrowse->setEnabled(!postgres);
    for (QWidget* w : {static_cast<QWidget*>(ui->editHost), static_cast<QWidget*>(ui->spinPort),
                       static_cast<QWidget*>(ui->editName), static_cast<QWidget*>(ui->editUser),
                       static_cast<QWidget*>(ui->editOptions), static_cast<QWidget*>(ui->editPassword)})
        w->setEnabled(postgres);
    // Nothing to save without a password.
    ui->chkSavePassword->setEnabled(postgres && !ui->editPassword->text().isEmpty());
    ui->lblResult->clear();
}

void DbSettings::browse()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("数据库文件"), ui->editPath->text(),
                                                      QStringLiteral("数据库 (*.db);;所有文件 (*)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        ui->editPath->setText(path);
}

void DbSettings::showResult(bool ok, const QString& text)
{
    ui->lblResult->setStyleSheet(ok ? QString() : QStringLiteral("color:red"));
    ui->lblResult->setText(text);
}

void DbSettings::testConnection()
{
    const StoreConfig store = fields();
    if (!store.isShared() && !QFileInfo::exists(store.path)) {
        showResult(true, QStringLiteral("文件 %1 不存在，启动时将新建数据库。").arg(store.path));
        return;
    }
    const QString connName = QStringLiteral("dbsettings-test-%1").arg(quintptr(this), 0, 16);
    bool ok = false;
    QString text;
    // libpq gives up after connect_timeout (StoreConfig::apply).
    QApplication::setOverrideCursor(Qt::WaitCursor);
    {
        QSqlDatabase db = store.addConnection(connName);
        if (store.isShared())
            db.setPassword(ui->editPassword->text());
        else
            db.setConnectOptions(StoreConfig::sqliteOptions(QStringLiteral("QSQLITE_OPEN_READONLY"))); // creates no file
        if (!db.open())
            text = errorText(db.lastError());
        else
            ok = Dialect::describe(db, &text);
    }
    QSqlDatabase::removeDatabase(connName);
    QApplication::restoreOverrideCursor();
    showResult(ok, ok ? QStringLiteral("连接成功：") + text : QStringLiteral("连接失败：") + text);
}

void DbSettings::refuse(const QString& text)
{
    QMessageBox::warning(this, windowTitle(), text);
}

void DbSettings::accept()
{
    if (!settings)
        return;
    const StoreConfig store = fields();
    const QString password = ui->editPassword->text();
    if (store.isShared()) {
        if (store.name.isEmpty()) {
            refuse(QStringLiteral("请填写数据库名。"));
            return;
        }
        // The options go into the settings file as they are.
        static const QRegularExpression inOptions(QStringLiteral("(^|\\s)password\\s*="),
                                                  QRegularExpression::CaseInsensitiveOption);
        if (inOptions.match(store.options).hasMatch()) {
            refuse(QStringLiteral("连接选项中不能写密码：请填在密码栏，并保存到 ~/.pgpass。"));
            return;
        }
        // A pasted password may carry the line break that ended it.
        if (ui->chkSavePassword->isChecked()
            && (password.contains(QLatin1Char('\n')) || password.contains(QLatin1Char('\r')))) {
            refuse(QStringLiteral("密码中有换行符：请重新输入密码（不要带换行）。"));
            return;
        }
        QString error;
        if (ui->chkSavePassword->isChecked() && !password.isEmpty()
            && !PgPassFile::save(PgPassFile::path(), store, password, &error)) {
            refuse(QStringLiteral("密码未能保存：") + error);
            return;
        }
    }

    store.write(*settings);
    settings->sync();
    if (settings->status() == QSettings::AccessError) {
        refuse(QStringLiteral("无法写入 %1，数据库设置未保存。").arg(settings->fileName()));
        return;
    }
    QLOG_INFO() << "database settings saved:" << store.driver << store.describe();
    if (!savedValid || !sameStore(saved, store))
        QMessageBox::information(this, windowTitle(), kRestartNotice);
    saved = store;
    savedValid = true;
    QDialog::accept();
}
