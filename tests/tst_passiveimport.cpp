// dosectl import-passive: every file format and header layout to the same results, the refusals line by line, the
// replacement of an amended result, the failures, and the guards of the kept files and results.

#include <QCryptographicHash>
#include <QTextCodec>
#include <QtTest>

#include <xlsxwriter.h>

#include "core/export/XlsWorkbook.h"
#include "core/import/PassiveImport.h"
#include "core/readings/PassiveStore.h"
#include "core/store/Transaction.h"
#include "support/ScratchDatabase.h"

namespace {

using Rows = QList<QStringList>;

// Four results of two people, in mSv: a figure of each kind and a code of each spelling.
Rows results(bool microSievert)
{
    const auto v = [microSievert](const char* mSv, const char* uSv) { return QString(microSievert ? uSv : mSv); };
    return {{"c1", "甲", "2026-01-01", "2026-01-31", v("0.12", "120"), v("0.15", "150"), ""},
            {"c2", "乙", "2026/1/1", "20260131", "", "", "m"},
            {"c1", "甲", "2026.02.01", "2026-02-28", v("0.0555", "55.5"), "", ""},
            {"c2", "乙", "2026-02-01", "2026-02-28", "", "", "未返回"}};
}
// What they are stored as, with their lines.
const QString kStored = "c1 20260101 20260131 120 150  2,c2 20260101 20260131 -1 -1 M 3,"
                        "c1 20260201 20260228 55.5 -1  4,c2 20260201 20260228 -1 -1 not_returned 5";
const QString kListed = "select ID_card, periodStart, periodEnd, coalesce(hp10_uSv, -1), coalesce(hp007_uSv, -1), code, "
                        "line from PassiveResult order by id";
const QStringList kEnglish{"ID", "name", "start", "end", "Hp(10)", "Hp(0.07)", "code"};

QByteArray csv(const QStringList& header, const Rows& rows)
{
    QStringList lines{header.join(',')};
    for (const QStringList& r : rows) {
        QStringList cells = r;
        cells[1] = '"' + cells[1] + '"'; // quoted, as spreadsheets write text
        lines << cells.join(',');
    }
    return (lines.join("\r\n") + "\r\n").toUtf8();
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

QByteArray bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The rows as an .xlsx with numbers as numbers and the first result's dates
// as serial numbers: one styled as a date, one plain.
void xlsx(const QString& path, const QStringList& header, const Rows& rows)
{
    lxw_workbook* book = workbook_new(qPrintable(path));
    lxw_worksheet* sheet = workbook_add_worksheet(book, "结果");
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy/m/d");
    for (int c = 0; c < header.size(); ++c)
        worksheet_write_string(sheet, 0, c, header[c].toUtf8().constData(), nullptr);
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c) {
            const QString& text = rows[r][c];
            bool number = false;
            const double v = text.toDouble(&number);
            if (r == 0 && (c == 2 || c == 3))
                worksheet_write_number(sheet, r + 1, c,
                                       QDate(1899, 12, 30).daysTo(QDate::fromString(text, "yyyy-MM-dd")),
                                       c == 2 ? date : nullptr);
            else if (number && c >= 4)
                worksheet_write_number(sheet, r + 1, c, v, nullptr);
            else if (!text.isEmpty())
                worksheet_write_string(sheet, r + 1, c, text.toUtf8().constData(), nullptr);
        }
    }
    QCOMPARE(workbook_close(book), LXW_NO_ERROR);
}

void xls(const QString& path, const QStringList& header, const Rows& rows)
{
    XlsWorkbook book;
    QString why;
    QVERIFY2(book.addSheet("结果", header, &why), qPrintable(why));
    for (const QStringList& r : rows)
        QVERIFY2(book.appendRow(r, &why), qPrintable(why));
    QVERIFY2(book.save(OutputFile::Target{path, true, QString()}, &why), qPrintable(why));
}

// The register of the files: c1 甲 and c2 乙.
void people(ScratchDatabase& s)
{
    s.addPerson("c1", "甲");
    s.addPerson("c2", "乙");
}

} // namespace

class TestPassiveImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { ScratchDatabase::bothStores(); }

    void layouts_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("mapping"); // the INI's [columns] lines, none when empty
        QTest::newRow("csv, English") << "lab.csv" << "";
        QTest::newRow("csv, BOM, Chinese, units") << "bom.csv" << "";
        QTest::newRow("csv, GB18030, μSv") << "gb.csv" << "";
        QTest::newRow("xls") << "lab.xls" << "";
        QTest::newRow("xlsx, serial dates") << "lab.xlsx" << "";
        QTest::newRow("mapping, GB18030, μSv") << "other.csv"
                                               << "id=证件号码\nname=人名\nstart=起\nend=止\nhp10=深部\nhp007=浅表\n"
                                                  "code=状态\nunit=uSv\nencoding=GB18030\n";
    }
    void layouts()
    {
        QFETCH(QString, file);
        QFETCH(QString, mapping);
        ScratchDatabase s;
        people(s);
        const QString path = s.path(file);
        const QStringList chinese{"身份证号", "姓名", "开始日期", "结束日期", "Hp(10) mSv", "Hp(0.07)（mSv）", "备注"};
        const QStringList micro{"ID card", "Name", "Start", "End", "Hp(10)/μSv", "HP(0.07) (uSv)", "Code"};
        if (file == "lab.csv")
            put(path, csv(kEnglish, results(false)));
        else if (file == "bom.csv")
            put(path, "\xEF\xBB\xBF" + csv(chinese, results(false)));
        else if (file == "gb.csv")
            put(path, QTextCodec::codecForName("GB18030")->fromUnicode(QString::fromUtf8(csv(micro, results(true)))));
        else if (file == "lab.xls")
            xls(path, kEnglish, results(false));
        else if (file == "lab.xlsx")
            xlsx(path, chinese, results(false));
        else
            put(path, QTextCodec::codecForName("GB18030")->fromUnicode(QString::fromUtf8(
                          csv({"证件号码", "人名", "起", "止", "深部", "浅表", "状态"}, results(true)))));
        QStringList args{"import-passive", path};
        if (!mapping.isEmpty()) {
            put(s.path("map.ini"), "[columns]\n" + mapping.toUtf8());
            args << "--mapping" << s.path("map.ini");
        }
        QString out, err;
        QCOMPARE(ctl(args + QStringList{"--dry-run"}, &out, &err), 0);
        QVERIFY2(out.endsWith("试运行：将导入 4 行，未作更改\n"), qPrintable(out + err));
        QCOMPARE(s.count("PassiveImport") + s.count("PassiveResult"), 0);

        QVERIFY2(ctl(args, &out, &err) == 0, qPrintable(err));
        QCOMPARE(out, QString("已导入 4 行（%1，第 1 次导入）\n").arg(file));
        QCOMPARE(s.list(kListed), kStored);
        const QByteArray kept = bytes(path);
        QCOMPARE(s.list("select fileName, sha256, importedBy, rows from PassiveImport"),
                 QString("%1 %2 %3 4").arg(file, QCryptographicHash::hash(kept, QCryptographicHash::Sha256).toHex(),
                                           Transaction::actor()));
        QVERIFY(s.value("select content from PassiveImport").toByteArray() == kept);

        // Again, renamed: the same bytes change nothing.
        QVERIFY(QFile::rename(path, s.path("again-" + file)));
        args[1] = s.path("again-" + file);
        QCOMPARE(ctl(args, &out, &err), 0);
        QVERIFY2(out.startsWith(QString("此文件已导入过（%1").arg(s.value("select importedAt from PassiveImport").toString()))
                     && out.endsWith(QString("，%1），未作更改\n").arg(Transaction::actor())),
                 qPrintable(out));
        QCOMPARE(s.count("PassiveImport") * 10 + s.count("PassiveResult"), 14);
    }

    void refusals_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QStringList>("lines"); // on stderr, before dosectl's own line
        const auto with = [](int row, int column, const QString& text) {
            Rows r = results(false);
            r[row][column] = text;
            return r;
        };
        QTest::newRow("unknown card") << with(1, 0, "c9") << QStringList{"line 3: 身份证号 c9 不在人员登记中"};
        QTest::newRow("end before start")
            << with(0, 3, "2025-12-31") << QStringList{"line 2: 结束日期 2025-12-31 早于开始日期 2026-01-01"};
        QTest::newRow("no date") << with(0, 2, "2026-02-30") << QStringList{"line 2: 开始日期“2026-02-30”不是日期"};
        QTest::newRow("not a number") << with(2, 4, "0.0x5") << QStringList{"line 4: Hp(10) “0.0x5”不是非负的数"};
        QTest::newRow("negative") << with(0, 5, "-0.1") << QStringList{"line 2: Hp(0.07) “-0.1”不是非负的数"};
        QTest::newRow("no Hp(10)") << with(0, 4, "") << QStringList{"line 2: 没有 Hp(10)，也没有备注"};
        QTest::newRow("unknown code") << with(3, 6, "lost") << QStringList{"line 5: 未知的备注“lost”"};
        Rows twice = results(false);
        twice << QStringList{"c1", "甲", "2026-01-20", "2026-02-05", "0.1", "", ""};
        twice[1][0] = "";
        QTest::newRow("overlap within the file, no card")
            << twice
            << QStringList{"line 3: 没有身份证号",
                           "line 6: 与本文件第 2 行（同一人）的周期重叠；与本文件第 4 行（同一人）的周期重叠"};
    }
    void refusals()
    {
        QFETCH(Rows, rows);
        QFETCH(QStringList, lines);
        ScratchDatabase s;
        people(s);
        put(s.path("lab.csv"), csv(kEnglish, rows));
        const QString said = lines.join('\n') + QString("\ndosectl: 文件未导入：%1 行有错误\n").arg(lines.size());
        for (const bool dry : {true, false}) {
            QString out, err;
            QCOMPARE(ctl(QStringList{"import-passive", s.path("lab.csv")} + (dry ? QStringList{"--dry-run"} : QStringList()),
                         &out, &err),
                     1);
            QCOMPARE(err, said);
            QCOMPARE(s.count("PassiveImport") + s.count("PassiveResult"), 0);
        }
    }

    // A laboratory's amended result: refused as an overlap, then taken with --replace; the earlier row stays, marked.
    void amendment()
    {
        ScratchDatabase s;
        people(s);
        put(s.path("lab.csv"), csv(kEnglish, results(false)));
        QString out, err;
        QVERIFY2(ctl({"import-passive", s.path("lab.csv")}, &out, &err) == 0, qPrintable(err));
        put(s.path("amended.csv"), csv(kEnglish, {{"c1", "甲", "2026-01-01", "2026-01-31", "0.2", "", ""},
                                                  {"c1", "甲", "2026-03-01", "2026-03-31", "0.01", "", ""}}));
        const QStringList args{"import-passive", s.path("amended.csv")};
        QCOMPARE(ctl(args, &out, &err), 1);
        QCOMPARE(err, QString("line 2: 与已导入的结果重叠（lab.csv 第 2 行，2026-01-01 至 2026-01-31）\n"
                              "dosectl: 文件未导入：1 行有错误；如为实验室的更正结果，请加 --replace 导入\n"));
        QCOMPARE(ctl(args + QStringList{"--replace", "--dry-run"}, &out, &err), 0);
        QVERIFY2(out.contains("将替换：c1 20260101 至 20260131（第 1 次导入第 2 行）\n"), qPrintable(out));
        QCOMPARE(s.count("PassiveImport") * 10 + s.count("PassiveResult"), 14);

        QVERIFY2(ctl(args + QStringList{"--replace"}, &out, &err) == 0, qPrintable(err));
        QCOMPARE(out, QString("已替换：c1 20260101 至 20260131（第 1 次导入第 2 行）\n已导入 2 行（amended.csv，第 2 次导入）\n"));
        QCOMPARE(s.list("select id, importId, coalesce(replacedBy, 0), hp10_uSv from PassiveResult where ID_card = 'c1' "
                        "order by id"),
                 QString("1 1 2 120,3 1 0 55.5,5 2 0 200,6 2 0 10"));
        QCOMPARE(s.value("select count(*) from AuditLog where action = 'replace' and detail = 'amended.csv replaces "
                         "results 1'")
                     .toInt(),
                 1);
        QList<PassiveResultdata> current;
        QVERIFY(PassiveStore(*s.store).selectCurrent(current, "20260101", "20260131", "c1", s.db));
        QCOMPARE(current.size(), 1);
        QCOMPARE(current[0].hp10_uSv, 200.0);
        // The amendment of the amendment overlaps only the amendment.
        put(s.path("again.csv"), csv(kEnglish, {{"c1", "甲", "2026-01-10", "2026-01-20", "0.3", "", ""}}));
        QCOMPARE(ctl({"import-passive", s.path("again.csv")}, &out, &err), 1);
        QVERIFY2(err.startsWith("line 2: 与已导入的结果重叠（amended.csv 第 2 行"), qPrintable(err));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content"); // none: the file is not there
        QTest::addColumn<QString>("said");       // the start of stderr after "dosectl: "
        QTest::newRow("missing") << "gone.csv" << QByteArray() << "无法读取文件 ";
        QTest::newRow("a folder") << "." << QByteArray() << "无法读取文件 ";
        QTest::newRow("empty") << "empty.csv" << QByteArray("\r\n\r\n") << "文件 empty.csv 是空的";
        QTest::newRow("header only") << "head.csv" << QByteArray("ID,start,end,Hp(10)\n") << "文件 head.csv 只有表头";
        QTest::newRow("no zip") << "bad.xlsx" << QByteArray("ID,start\n1,2\n") << "无法读取文件 bad.xlsx：不是可读的 .xlsx 工作簿";
        QTest::newRow("no workbook") << "bad.xls" << QByteArray(600, 'x') << "无法读取文件 bad.xls：不是可读的 .xls 工作簿";
        QTest::newRow("open quote") << "quote.csv" << QByteArray("ID,start,end,Hp(10)\nc1,\"2026-01-01,2026-01-31,1\n")
                                    << "无法读取文件 quote.csv：第 2 行：引号没有结束";
        QTest::newRow("no start column") << "cols.csv" << QByteArray("ID,begin,end,Hp(10)\nc1,2026-01-01,2026-01-31,1\n")
                                         << "文件未导入：1 行有错误";
        QTest::newRow("mapping missing") << "map" << QByteArray() << "无法读取列映射文件 ";
        QTest::newRow("mapping unit") << "map" << QByteArray("[columns]\nunit=Gy\n") << "列映射文件 ";
        QTest::newRow("results not stored") << "fail" << QByteArray() << "第 2 行保存失败";
    }
    void failures()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QString, said);
        ScratchDatabase s;
        people(s);
        put(s.path("lab.csv"), csv(kEnglish, results(false)));
        QStringList args{"import-passive", s.path(file)};
        if (file == "map") {
            args = QStringList{"import-passive", s.path("lab.csv"), "--mapping", s.path("map.ini")};
            if (!content.isEmpty())
                put(s.path("map.ini"), content);
        } else if (file == "fail") {
            args[1] = s.path("lab.csv");
            QVERIFY(s.sabotage("insert", "PassiveResult"));
        } else if (!content.isEmpty()) {
            put(s.path(file), content);
        }
        QString out, err;
        QCOMPARE(ctl(args, &out, &err), 1);
        QVERIFY2(err.startsWith(file == "cols.csv" ? "line 1: 找不到列 开始日期（start）\ndosectl: " + said : "dosectl: " + said),
                 qPrintable(err));
        QVERIFY2(!out.contains("已导入"), qPrintable(out));
        QCOMPARE(s.count("PassiveImport") + s.count("PassiveResult"), 0);
    }

    void wrongCommandLines()
    {
        ScratchDatabase s;
        QString out, err;
        for (const QStringList& args : {QStringList{"import-passive"}, QStringList{"import-passive", "a.csv", "b.csv"},
                                        QStringList{"import-passive", "a.csv", "--overwrite"},
                                        QStringList{"import-passive", "a.csv", "--mapping"}}) {
            QCOMPARE(ctl(args, &out, &err), 2);
            QVERIFY2(err.startsWith("dosectl: "), qPrintable(err));
        }
    }

    // A lost table is an error, never an empty success.
    void droppedTable()
    {
        ScratchDatabase s;
        people(s);
        put(s.path("lab.csv"), csv(kEnglish, results(false)));
        QVERIFY(s.sabotage("drop", "PassiveResult"));
        const PassiveImport::Outcome o = PassiveImport(*s.store, s.db).run(s.path("lab.csv"), {});
        QVERIFY(o.result == PassiveImport::Result::Failed);
        QVERIFY2(o.error.startsWith("无法读取已导入的结果"), qPrintable(o.error));
        QCOMPARE(s.count("PassiveImport"), 0);
    }

    // Kept as received: the database itself refuses changing a figure, deleting, a second replacement.
    void guards()
    {
        ScratchDatabase s;
        people(s);
        put(s.path("lab.csv"), csv(kEnglish, results(false)));
        put(s.path("amended.csv"), csv(kEnglish, {{"c1", "甲", "2026-01-01", "2026-01-31", "0.2", "", ""}}));
        QString out, err;
        QVERIFY2(ctl({"import-passive", s.path("lab.csv")}, &out, &err) == 0, qPrintable(err));
        QVERIFY2(ctl({"import-passive", s.path("amended.csv"), "--replace"}, &out, &err) == 0, qPrintable(err));
        const QString before = s.list("select * from PassiveResult order by id") + s.list("select * from PassiveImport");
        for (const char* change : {"update PassiveResult set hp10_uSv = 1 where id = 3",
                                   "update PassiveResult set periodEnd = '20260130' where id = 3",
                                   "update PassiveResult set code = 'M' where id = 3",
                                   "update PassiveResult set replacedBy = 1 where id = 1",
                                   "update PassiveResult set replacedBy = null where id = 1",
                                   "delete from PassiveResult where id = 4",
                                   "update PassiveImport set content = 'x' where id = 1",
                                   "update PassiveImport set sha256 = 'x' where id = 1",
                                   "delete from PassiveImport where id = 2",
                                   "delete from Staff where ID_card = 'c1'"})
            QVERIFY2(!s.exec(change), change);
        QCOMPARE(s.list("select * from PassiveResult order by id") + s.list("select * from PassiveImport"), before);
        // What may be written once is written once.
        QVERIFY(s.exec("update PassiveResult set replacedBy = 2 where id = 3"));
        QVERIFY(!s.exec("update PassiveResult set replacedBy = 1 where id = 3"));
        QVERIFY(s.exec("update PassiveResult set closedBy = 'a', closedAt = '2026-03-01 10:00:00', closeComment = 'ok' "
                       "where id = 2"));
        QVERIFY(!s.exec("update PassiveResult set closeComment = 'other' where id = 2"));
    }
};

QTEST_GUILESS_MAIN(TestPassiveImport)
#include "tst_passiveimport.moc"
