// The 剂量更正 dialog: the months of a person with original and adjusted dose, filing, approving and withdrawing.

#include "desktop/DoseAdjustments.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/DataBase.h"
#include "core/dose/AdjustmentStore.h"
#include "core/dose/DoseStatus.h"
#include "core/dose/NotionalDose.h"
#include "core/register/StaffRegister.h"
#include "core/store/Transaction.h"
#include "core/time/Clock.h"

namespace {

QTableWidget* table(QWidget* parent, const char* name, const QStringList& headers)
{
    auto* t = new QTableWidget(0, headers.size(), parent);
    t->setObjectName(QLatin1String(name));
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->hide();
    return t;
}

void put(QTableWidget* t, int row, const QStringList& cells)
{
    for (int c = 0; c < cells.size(); ++c)
        t->setItem(row, c, new QTableWidgetItem(cells.at(c)));
}

QPushButton* button(QWidget* parent, const char* name, const QString& text)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

QString dose(double v)
{
    return QString::number(v, 'f', 2);
}

} // namespace

DoseAdjustments::DoseAdjustments(QWidget* parent, DataBase* database)
    : QDialog(parent)
    , database(database)
{
    setWindowTitle(QStringLiteral("剂量更正"));
    database->createConnection(connName);
    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabs"));

    auto* filing = new QWidget(tabs);
    filing->setObjectName(QStringLiteral("tab_file"));
    person = new QComboBox(filing);
    person->setObjectName(QStringLiteral("cb_person"));
    months = table(filing, "tv_months", {QStringLiteral("月份"), QStringLiteral("原始剂量 (μSv)"),
                                         QStringLiteral("记录剂量 (μSv)"), QStringLiteral("标记"), QStringLiteral("说明")});
    month = new QLineEdit(filing);
    month->setObjectName(QStringLiteral("le_month"));
    month->setPlaceholderText(QStringLiteral("yyyyMM"));
    kind = new QComboBox(filing);
    kind->setObjectName(QStringLiteral("cb_kind"));
    kind->addItem(QStringLiteral("更正 (replace)"), QStringLiteral("replace"));
    kind->addItem(QStringLiteral("估算 (notional)"), QStringLiteral("notional"));
    method = new QComboBox(filing);
    method->setObjectName(QStringLiteral("cb_method"));
    for (const char* m : {"stated", "mean12", "dept_median"})
        method->addItem(DoseAdjustmentdata::methodText(QLatin1String(m)), QLatin1String(m));
    value = new QDoubleSpinBox(filing);
    value->setObjectName(QStringLiteral("sb_value"));
    value->setDecimals(2);
    value->setRange(0, 10000000);
    computed = new QLabel(filing);
    computed->setObjectName(QStringLiteral("lb_computed"));
    reason = new QPlainTextEdit(filing);
    reason->setObjectName(QStringLiteral("te_reason"));
    reason->setPlaceholderText(QStringLiteral("原因 (至少 10 个字)"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("月份:"), month);
    form->addRow(QStringLiteral("类型:"), kind);
    form->addRow(QStringLiteral("方法:"), method);
    form->addRow(QStringLiteral("剂量 (μSv):"), value);
    form->addRow(QString(), computed);
    form->addRow(QStringLiteral("原因:"), reason);
    auto* fileLayout = new QVBoxLayout(filing);
    fileLayout->addWidget(person);
    fileLayout->addWidget(months);
    fileLayout->addLayout(form);
    QPushButton* fileButton = button(filing, "btnFile", QStringLiteral("提交"));
    fileLayout->addWidget(fileButton);
    tabs->addTab(filing, QStringLiteral("登记"));

    auto* waiting = new QWidget(tabs);
    waiting->setObjectName(QStringLiteral("tab_pending"));
    pending = table(waiting, "tv_pending",
                    {QStringLiteral("编号"), QStringLiteral("身份证号"), QStringLiteral("姓名"), QStringLiteral("月份"),
                     QStringLiteral("类型"), QStringLiteral("方法"), QStringLiteral("剂量 (μSv)"),
                     QStringLiteral("提交人"), QStringLiteral("提交时间"), QStringLiteral("原因")});
    withdrawReason = new QLineEdit(waiting);
    withdrawReason->setObjectName(QStringLiteral("le_withdrawReason"));
    withdrawReason->setPlaceholderText(QStringLiteral("撤回的原因"));
    QPushButton* approveButton = button(waiting, "btnApprove", QStringLiteral("批准"));
    QPushButton* withdrawButton = button(waiting, "btnWithdraw", QStringLiteral("撤回"));
    auto* row = new QHBoxLayout;
    row->addWidget(approveButton);
    row->addWidget(withdrawReason);
    row->addWidget(withdrawButton);
    auto* waitLayout = new QVBoxLayout(waiting);
    waitLayout->addWidget(pending);
    waitLayout->addLayout(row);
    tabs->addTab(waiting, QStringLiteral("待批准"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    resize(820, 620);

    connect(person, &QComboBox::currentTextChanged, this, [this] {
        loadMonths();
        compute();
    });
    connect(months, &QTableWidget::cellClicked, this, [this](int r, int) {
        if (QTableWidgetItem* item = months->item(r, 0))
            month->setText(item->text());
    });
    connect(month, &QLineEdit::textChanged, this, &DoseAdjustments::compute);
    connect(method, &QComboBox::currentTextChanged, this, &DoseAdjustments::compute);
    connect(fileButton, &QPushButton::clicked, this, &DoseAdjustments::file);
    connect(approveButton, &QPushButton::clicked, this, &DoseAdjustments::approve);
    connect(withdrawButton, &QPushButton::clicked, this, &DoseAdjustments::withdraw);
    loadPeople();
    loadPending();
    compute();
}

DoseAdjustments::~DoseAdjustments() = default;

QString DoseAdjustments::card() const
{
    return person->currentData().toString();
}

void DoseAdjustments::choosePerson(const QString& idCard)
{
    loadPeople();
    const int found = person->findData(idCard);
    person->setCurrentIndex(found >= 0 ? found : 0);
    loadMonths();
    loadPending();
    tabs->setCurrentIndex(0);
}

void DoseAdjustments::loadPeople()
{
    const QString chosen = card();
    QList<Staffdata> staff;
    database->openConnection(connName);
    const bool read = StaffRegister(*database).selectAll(staff, database->getConnection(connName));
    database->closeConnection(connName);
    const QSignalBlocker block(person);
    person->clear();
    for (const Staffdata& s : qAsConst(staff)) {
        if (person->findData(s.ID_card) < 0)
            person->addItem(QStringLiteral("%1 (%2, %3)").arg(s.name, s.ID_card, s.department), s.ID_card);
    }
    person->setCurrentIndex(qMax(0, person->findData(chosen)));
    if (!read)
        QMessageBox::critical(this, windowTitle(), QStringLiteral("人员读取失败"));
}

void DoseAdjustments::loadMonths()
{
    months->setRowCount(0);
    if (card().isEmpty())
        return;
    // The five years of the record, newest first.
    const QDateTime now = Clock::now();
    DoseOfRecord::Months found;
    database->openConnection(connName);
    const bool read = DoseStatus(*database, database->getConnection(connName))
                          .months(card(), QDateTime(QDate(now.date().year() - 4, 1, 1), QTime(0, 0)),
                                  DoseStatus::endOf(now), found);
    database->closeConnection(connName);
    if (!read) {
        QMessageBox::critical(this, windowTitle(), QStringLiteral("剂量读取失败, 无法显示各月剂量"));
        return;
    }
    months->setRowCount(found.size());
    int r = 0;
    for (auto it = found.cend(); it != found.cbegin(); ++r) {
        --it;
        const DoseOfRecord::Month& m = it.value();
        const QString note = m.adjusted() ? DoseAdjustmentdata::methodText(m.method) + QStringLiteral(": ") + m.reason
                                          : QString();
        put(months, r,
            {it.key(), m.originalMonitored ? dose(m.original()) : QStringLiteral("—"),
             m.monitored ? dose(m.dose()) : QStringLiteral("—"),
             (m.adjusted() ? DoseAdjustmentdata::mark(m.kind) : QString())
                 + (m.pending ? QStringLiteral(" 待批准") : QString()),
             note});
    }
    months->resizeColumnsToContents();
}

void DoseAdjustments::loadPending()
{
    pending->setRowCount(0);
    QList<DoseAdjustmentdata> rows;
    database->openConnection(connName);
    const bool read = AdjustmentStore(*database).select(rows, true, database->getConnection(connName));
    database->closeConnection(connName);
    if (!read) {
        QMessageBox::critical(this, windowTitle(), QStringLiteral("剂量更正读取失败"));
        return;
    }
    pending->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        const DoseAdjustmentdata& a = rows.at(r);
        put(pending, r,
            {QString::number(a.id), a.ID_card, a.name, a.month, DoseAdjustmentdata::mark(a.kind),
             DoseAdjustmentdata::methodText(a.method), dose(a.value_uSv), a.createdBy, a.createdAt, a.reason});
    }
    pending->resizeColumnsToContents();
}

void DoseAdjustments::compute()
{
    valueReady = false;
    const QString how = method->currentData().toString();
    const bool stated = how == QLatin1String("stated");
    value->setEnabled(stated);
    computed->clear();
    if (stated || card().isEmpty() || month->text().size() != 6)
        return;
    double v = 0;
    QString why;
    database->openConnection(connName);
    const bool ok = NotionalDose::value(*database, database->getConnection(connName), card(), month->text(), how, v, &why);
    database->closeConnection(connName);
    if (!ok) {
        computed->setText(why);
        return;
    }
    value->setValue(v);
    valueReady = true;
    computed->setText(QStringLiteral("按%1算得 %2 μSv, 保存后不再重算").arg(DoseAdjustmentdata::methodText(how), dose(v)));
}

void DoseAdjustments::file()
{
    AdjustmentStore::Filing f;
    f.idCard = card();
    f.month = month->text().trimmed();
    f.kind = kind->currentData().toString();
    f.method = method->currentData().toString();
    f.value = value->value();
    f.reason = reason->toPlainText();
    if (f.idCard.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("请选择人员"));
        return;
    }
    // A computed value is saved only as it was shown.
    if (f.method != QLatin1String("stated") && !valueReady) {
        QMessageBox::warning(this, windowTitle(),
                             computed->text().isEmpty() ? QStringLiteral("请先填写月份 (yyyyMM)") : computed->text());
        return;
    }
    QString why;
    database->openConnection(connName);
    int raised = 0;
    const int id =
        AdjustmentStore(*database).file(f, Transaction::actor(), &why, database->getConnection(connName), &raised);
    DoseAdjustmentdata filed;
    const bool readBack = id > 0 && AdjustmentStore(*database).selectById(filed, id, database->getConnection(connName));
    database->closeConnection(connName);
    if (id == 0) {
        QMessageBox::warning(this, windowTitle(), why);
        return;
    }
    reason->clear();
    loadMonths();
    loadPending();
    emit adjustmentsChanged(raised);
    QMessageBox::information(this, windowTitle(),
                             readBack && filed.state == QLatin1String("approved")
                                 ? QStringLiteral("剂量更正 %1 已登记并批准 (无需他人批准)。").arg(id)
                                 : QStringLiteral("剂量更正 %1 已提交, 等待另一账户批准。").arg(id));
}

int DoseAdjustments::selectedPending() const
{
    const QList<QTableWidgetItem*> chosen = pending->selectedItems();
    return chosen.isEmpty() ? 0 : pending->item(chosen.first()->row(), 0)->text().toInt();
}

void DoseAdjustments::approve()
{
    const int id = selectedPending();
    if (id == 0) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("请选择一条待批准的更正"));
        return;
    }
    QString why;
    database->openConnection(connName);
    int raised = 0;
    const bool done =
        AdjustmentStore(*database).approve(id, Transaction::actor(), &why, database->getConnection(connName), &raised);
    database->closeConnection(connName);
    if (!done) {
        QMessageBox::warning(this, windowTitle(), why);
        return;
    }
    loadPending();
    loadMonths();
    emit adjustmentsChanged(raised);
}

void DoseAdjustments::withdraw()
{
    const int id = selectedPending();
    if (id == 0) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("请选择一条待批准的更正"));
        return;
    }
    QString why;
    database->openConnection(connName);
    const bool done = AdjustmentStore(*database).withdraw(id, withdrawReason->text(), Transaction::actor(), &why,
                                                          database->getConnection(connName));
    database->closeConnection(connName);
    if (!done) {
        QMessageBox::warning(this, windowTitle(), why);
        return;
    }
    withdrawReason->clear();
    loadPending();
    loadMonths();
    emit adjustmentsChanged(0);
}
