// A laboratory file read, its rows checked one by one and against each other and the kept results, then stored as one
// import with the rows it replaces marked.

#include "core/import/PassiveImport.h"

#include <QCryptographicHash>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

#include "core/DataBase.h"
#include "core/import/PassiveColumns.h"
#include "core/import/TableFile.h"
#include "core/readings/PassiveStore.h"

namespace {

using Outcome = PassiveImport::Outcome;
using Result = PassiveImport::Result;

Outcome failed(const QString& why)
{
    Outcome o;
    o.result = Result::Failed;
    o.error = why;
    return o;
}

bool overlap(const PassiveResultdata& a, const PassiveResultdata& b)
{
    return a.periodStart <= b.periodEnd && b.periodStart <= a.periodEnd;
}

QString shownDay(const QString& yyyyMMdd)
{
    return QDate::fromString(yyyyMMdd, QStringLiteral("yyyyMMdd")).toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace

PassiveImport::PassiveImport(DataBase& database, QSqlDatabase db)
    : database(database)
    , db(db)
{
}

bool PassiveImport::dose(const QString& text, double toMicroSievert, double& uSv)
{
    bool isNumber = false;
    const double v = text.trimmed().toDouble(&isNumber);
    if (!isNumber || !std::isfinite(v) || v < 0)
        return false;
    uSv = std::round(v * toMicroSievert * 100) / 100;
    return true;
}

QString PassiveImport::day(const QString& text, bool workbook)
{
    static const QRegularExpression separated(QStringLiteral("^(\\d{4})([-/.])(\\d{1,2})\\2(\\d{1,2})$"));
    static const QRegularExpression compact(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})$"));
    static const QRegularExpression serial(QStringLiteral("^\\d{1,7}(\\.\\d+)?$"));
    const QString t = text.trimmed();
    QDate d;
    QRegularExpressionMatch m = separated.match(t);
    if (m.hasMatch()) {
        d = QDate(m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
    } else if ((m = compact.match(t)).hasMatch()) {
        d = QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    } else if (workbook && serial.match(t).hasMatch()) {
        d = TableFile::serialDate(t.toDouble());
    }
    return d.isValid() ? d.toString(QStringLiteral("yyyyMMdd")) : QString();
}

bool PassiveImport::code(const QString& text, QString& stored)
{
    const QString t = text.trimmed().toLower().simplified();
    if (t.isEmpty())
        stored = QString();
    else if (t == QLatin1String("m"))
        stored = QStringLiteral("M");
    else if (t == QStringLiteral("未返回") || t == QLatin1String("not returned") || t == QLatin1String("not_returned")
             || t == QLatin1String("nr"))
        stored = QStringLiteral("not_returned");
    else if (t == QStringLiteral("未使用") || t == QLatin1String("unused"))
        stored = QStringLiteral("unused");
    else
        return false;
    return true;
}

PassiveImport::Outcome PassiveImport::run(const QString& path, const Options& options)
{
    PassiveColumns columns;
    QString why;
    if (!options.mapping.isEmpty() && !columns.loadMapping(options.mapping, &why))
        return failed(why);

    QFile input(path);
    if (!QFileInfo(path).isFile() || !input.open(QIODevice::ReadOnly))
        return failed(QStringLiteral("无法读取文件 %1：%2").arg(path, input.errorString()));
    const QByteArray content = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return failed(QStringLiteral("无法读取文件 %1：%2").arg(path, input.errorString()));
    input.close();

    PassiveStore store(database);
    Outcome o;
    o.file.fileName = QFileInfo(path).fileName();
    o.file.sha256 = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    o.file.content = content;
    const int earlier = store.importOf(o.file.sha256, db);
    if (earlier < 0)
        return failed(QStringLiteral("无法读取已导入的文件（数据库 %1）").arg(database.storeConfig().describe()));
    if (earlier > 0) {
        if (!store.selectImport(o.file, earlier, db))
            return failed(QStringLiteral("无法读取已导入的文件（数据库 %1）").arg(database.storeConfig().describe()));
        o.result = Result::AlreadyImported;
        return o;
    }

    if (content.trimmed().isEmpty())
        return failed(QStringLiteral("文件 %1 是空的").arg(o.file.fileName));
    std::unique_ptr<TableFile> reader = TableFile::forName(path, columns.encoding());
    QList<TableFile::Row> table;
    if (!reader->read(content, table, &why))
        return failed(QStringLiteral("无法读取文件 %1：%2").arg(o.file.fileName, why));
    if (table.isEmpty())
        return failed(QStringLiteral("文件 %1 是空的").arg(o.file.fileName));
    if (!columns.locate(table.first().cells, &why)) {
        o.result = Result::Refused;
        o.refusals << QStringLiteral("line %1: %2").arg(table.first().line).arg(why);
        return o;
    }
    if (table.size() == 1)
        return failed(QStringLiteral("文件 %1 只有表头，没有结果").arg(o.file.fileName));

    QList<Staffdata> staff;
    if (!database.selectStaffForStatus(staff, QString(), db))
        return failed(QStringLiteral("无法读取人员登记（数据库 %1）").arg(database.storeConfig().describe()));
    QHash<QString, QString> names;
    for (const Staffdata& s : qAsConst(staff))
        names.insert(s.ID_card, s.name);

    // Each row on its own.
    QMap<int, QStringList> faults; // line -> reasons
    const auto cell = [&columns](const TableFile::Row& row, PassiveColumns::Field f) {
        const int c = columns.column(f);
        return c >= 0 ? row.cells.value(c).trimmed() : QString();
    };
    for (int i = 1; i < table.size(); ++i) {
        const TableFile::Row& row = table.at(i);
        QStringList& wrong = faults[row.line];
        PassiveResultdata r;
        r.line = row.line;
        r.ID_card = cell(row, PassiveColumns::Id);
        if (r.ID_card.isEmpty())
            wrong << QStringLiteral("没有身份证号");
        else if (!names.contains(r.ID_card))
            wrong << QStringLiteral("身份证号 %1 不在人员登记中").arg(r.ID_card);
        const QString name = cell(row, PassiveColumns::Name);
        if (!name.isEmpty() && names.contains(r.ID_card) && name != names.value(r.ID_card))
            o.warnings << QStringLiteral("line %1: 姓名“%2”与登记的“%3”不同（身份证号 %4），按身份证号导入")
                              .arg(row.line)
                              .arg(name, names.value(r.ID_card), r.ID_card);
        const QString start = cell(row, PassiveColumns::Start), end = cell(row, PassiveColumns::End);
        r.periodStart = day(start, reader->workbook());
        r.periodEnd = day(end, reader->workbook());
        if (r.periodStart.isEmpty())
            wrong << QStringLiteral("开始日期“%1”不是日期").arg(start);
        if (r.periodEnd.isEmpty())
            wrong << QStringLiteral("结束日期“%1”不是日期").arg(end);
        if (!r.periodStart.isEmpty() && !r.periodEnd.isEmpty() && r.periodEnd < r.periodStart)
            wrong << QStringLiteral("结束日期 %1 早于开始日期 %2").arg(shownDay(r.periodEnd), shownDay(r.periodStart));
        const QString mark = cell(row, PassiveColumns::Code);
        const bool known = code(mark, r.code);
        if (!known)
            wrong << QStringLiteral("未知的备注“%1”").arg(mark);
        for (PassiveColumns::Field f : {PassiveColumns::Hp10, PassiveColumns::Hp007}) {
            const QString text = cell(row, f);
            bool& has = f == PassiveColumns::Hp10 ? r.hasHp10 : r.hasHp007;
            double& value = f == PassiveColumns::Hp10 ? r.hp10_uSv : r.hp007_uSv;
            if (text.isEmpty())
                continue;
            has = dose(text, columns.toMicroSievert(f), value);
            if (!has)
                wrong << QStringLiteral("%1 “%2”不是非负的数").arg(PassiveColumns::describe(f), text);
        }
        if (known && r.code.isEmpty() && cell(row, PassiveColumns::Hp10).isEmpty())
            wrong << QStringLiteral("没有 Hp(10)，也没有备注");
        o.rows << r;
    }

    // Overlaps within the file, then with the results that count.
    QHash<QString, QList<int>> byCard;
    QString first, last;
    for (int i = 0; i < o.rows.size(); ++i) {
        const PassiveResultdata& r = o.rows.at(i);
        if (r.periodStart.isEmpty() || r.periodEnd.isEmpty() || r.periodEnd < r.periodStart)
            continue;
        for (int j : byCard.value(r.ID_card)) {
            if (overlap(o.rows.at(j), r))
                faults[r.line] << QStringLiteral("与本文件第 %1 行（同一人）的周期重叠").arg(o.rows.at(j).line);
        }
        byCard[r.ID_card] << i;
        first = first.isEmpty() ? r.periodStart : qMin(first, r.periodStart);
        last = qMax(last, r.periodEnd);
    }
    bool otherOverlaps = false, ownFaults = false;
    for (auto f = faults.cbegin(); f != faults.cend(); ++f)
        ownFaults = ownFaults || !f.value().isEmpty();
    if (!first.isEmpty()) {
        QList<PassiveResultdata> kept;
        if (!store.selectCurrent(kept, first, last, QString(), db))
            return failed(QStringLiteral("无法读取已导入的结果（数据库 %1）").arg(database.storeConfig().describe()));
        QHash<int, QString> fileNames;
        for (const PassiveResultdata& k : qAsConst(kept)) {
            for (int i : byCard.value(k.ID_card)) {
                const PassiveResultdata& r = o.rows.at(i);
                if (!overlap(k, r))
                    continue;
                if (options.replace) {
                    if (o.replaced.isEmpty() || o.replaced.last().id != k.id)
                        o.replaced << k;
                    continue;
                }
                if (!fileNames.contains(k.importId)) {
                    PassiveImportdata f;
                    if (!store.selectImport(f, k.importId, db))
                        return failed(QStringLiteral("无法读取已导入的文件（数据库 %1）")
                                          .arg(database.storeConfig().describe()));
                    fileNames.insert(k.importId, f.fileName);
                }
                faults[r.line] << QStringLiteral("与已导入的结果重叠（%1 第 %2 行，%3 至 %4）")
                                      .arg(fileNames.value(k.importId))
                                      .arg(k.line)
                                      .arg(shownDay(k.periodStart), shownDay(k.periodEnd));
                otherOverlaps = true;
            }
        }
    }
    for (auto f = faults.cbegin(); f != faults.cend(); ++f) {
        if (!f.value().isEmpty())
            o.refusals << QStringLiteral("line %1: %2").arg(f.key()).arg(f.value().join(QStringLiteral("；")));
    }
    if (!o.refusals.isEmpty()) {
        o.result = Result::Refused;
        o.onlyOverlaps = otherOverlaps && !ownFaults;
        return o;
    }
    if (options.dryRun) {
        o.result = Result::WouldImport;
        return o;
    }
    QList<int> replacedIds;
    for (const PassiveResultdata& k : qAsConst(o.replaced))
        replacedIds << k.id;
    const int id = store.add(o.file, o.rows, replacedIds, &why, db);
    if (id == 0)
        return failed(why);
    if (!store.selectImport(o.file, id, db))
        return failed(QStringLiteral("已导入（第 %1 次导入），但无法读回").arg(id));
    for (PassiveResultdata& r : o.rows)
        r.importId = id;
    o.result = Result::Imported;
    return o;
}
