// dosectl import-passive of a laboratory file of 10,000 results for 500 registered people, as CSV and as .xlsx, each into
// a fresh SQLite file: from the command until its exit code. Target: 5 s each.

#include "cli/DoseCtl.h"
#include "core/DataBase.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTextStream>

#include <xlsxwriter.h>

#include <cstdio>

namespace {

constexpr int People = 500;
constexpr int Periods = 20; // months per person
constexpr double Target = 5.0;

QString card(int person)
{
    return QStringLiteral("1101011990%1").arg(person, 8, 10, QLatin1Char('0'));
}

// Person, month -> one row: ID, name, start, end, Hp(10) mSv, Hp(0.07) mSv, code.
QStringList row(int person, int month)
{
    const QDate start = QDate(2024, 1, 1).addMonths(month);
    const bool coded = (person + month) % 17 == 0;
    return {card(person), QStringLiteral("人员%1").arg(person), start.toString(QStringLiteral("yyyy-MM-dd")),
            start.addMonths(1).addDays(-1).toString(QStringLiteral("yyyy-MM-dd")),
            coded ? QString() : QString::number(0.01 * ((person * 7 + month) % 90), 'f', 2),
            coded ? QString() : QString::number(0.01 * ((person * 3 + month) % 120), 'f', 2),
            coded ? QStringLiteral("M") : QString()};
}

const QStringList kHeader{QStringLiteral("身份证号"), QStringLiteral("姓名"), QStringLiteral("开始日期"),
                          QStringLiteral("结束日期"), QStringLiteral("Hp(10) mSv"), QStringLiteral("Hp(0.07) mSv"),
                          QStringLiteral("备注")};

bool writeCsv(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QTextStream out(&f);
    out.setCodec("UTF-8");
    out << kHeader.join(QLatin1Char(',')) << "\r\n";
    for (int p = 0; p < People; ++p)
        for (int m = 0; m < Periods; ++m)
            out << row(p, m).join(QLatin1Char(',')) << "\r\n";
    out.flush();
    return f.error() == QFile::NoError;
}

bool writeXlsx(const QString& path)
{
    lxw_workbook* book = workbook_new(qPrintable(path));
    lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd");
    for (int c = 0; c < kHeader.size(); ++c)
        worksheet_write_string(sheet, 0, c, kHeader[c].toUtf8().constData(), nullptr);
    int r = 1;
    for (int p = 0; p < People; ++p) {
        for (int m = 0; m < Periods; ++m, ++r) {
            const QStringList cells = row(p, m);
            worksheet_write_string(sheet, r, 0, cells[0].toUtf8().constData(), nullptr);
            worksheet_write_string(sheet, r, 1, cells[1].toUtf8().constData(), nullptr);
            for (int c : {2, 3})
                worksheet_write_number(sheet, r, c,
                                       QDate(1899, 12, 30).daysTo(QDate::fromString(cells[c], QStringLiteral("yyyy-MM-dd"))),
                                       date);
            for (int c : {4, 5})
                if (!cells[c].isEmpty())
                    worksheet_write_number(sheet, r, c, cells[c].toDouble(), nullptr);
            if (!cells[6].isEmpty())
                worksheet_write_string(sheet, r, 6, cells[6].toUtf8().constData(), nullptr);
        }
    }
    return workbook_close(book) == LXW_NO_ERROR;
}

// A fresh register of the people; false when it cannot be made.
bool registerPeople(const QString& path)
{
    DataBase store(path);
    if (!store.createTables() || !store.createAddedTables())
        return false;
    const QString name = QStringLiteral("bench-") + QFileInfo(path).fileName();
    store.createConnection(name);
    QSqlDatabase db = store.getConnection(name);
    db.transaction();
    for (int p = 0; p < People; ++p) {
        Staffdata s;
        s.ID_card = card(p);
        s.name = QStringLiteral("人员%1").arg(p);
        s.department = QStringLiteral("放射科");
        if (!store.insertStaff(s, db))
            return false;
    }
    const bool ok = db.commit();
    db = QSqlDatabase();
    store.removeConnection(name);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;
    const QString csv = dir.filePath(QStringLiteral("results.csv")), xlsx = dir.filePath(QStringLiteral("results.xlsx"));
    if (!writeCsv(csv) || !writeXlsx(xlsx)) {
        std::printf("the laboratory files could not be written\n");
        return 1;
    }
    int status = 0;
    for (const QString& file : {csv, xlsx}) {
        const QString database = dir.filePath(QFileInfo(file).suffix() + QStringLiteral(".db"));
        if (!registerPeople(database)) {
            std::printf("the register could not be made\n");
            return 1;
        }
        QString out, err;
        QTextStream os(&out), es(&err);
        QElapsedTimer t;
        t.start();
        const int code = DoseCtl(os, es).run({QStringLiteral("dosectl"), QStringLiteral("--db"), database,
                                              QStringLiteral("import-passive"), file});
        const double seconds = t.nsecsElapsed() / 1e9;
        std::printf("import-passive of %d rows from %-5s  %6.2f s  target < %.0f s  %s\n", People * Periods,
                    qPrintable(QFileInfo(file).suffix()), seconds, Target,
                    code == 0 && seconds < Target ? "ok" : "MISSED");
        if (code == 0)
            std::printf("  %s\n", qPrintable(out.trimmed().section(QLatin1Char('\n'), -1)));
        if (code != 0) {
            std::printf("exit %d: %s\n", code, qPrintable(err.left(400)));
            status = 1;
        }
    }
    QDir::setCurrent(QDir::tempPath());
    return status;
}
