// The .xls writer, read back with FreeXL: sheets, text cells (Chinese, Latin-1, number-like), the
// format's limits, long string tables, and a save that fails leaves the target as it was.

#include <QtTest>

#include "core/export/XlsSharedStrings.h"
#include "core/export/XlsWorkbook.h"
#include "support/FreeXlReader.h"

using Rows = QVector<QStringList>;

class TestXlsWriter : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }
    static OutputFile::Target target(const QString& path, bool replace = false) { return {path, replace, QString()}; }

private slots:
    void sheetsAndCells()
    {
        XlsWorkbook book;
        QString error;
        QVERIFY(book.addSheet("明细", {"编号", "Dose (uSv)", "Note"}, &error));
        for (const QStringList& row : {QStringList{"A-1", "2.5", "Café ñ"}, {"", "7"}, {"B-2", "", "it's"}, {}})
            QVERIFY2(book.appendRow(row, &error), qPrintable(error));
        QVERIFY(book.addSheet(QString(31, 'x'), {"x"}, &error) && book.appendRow({"第一"}, &error));
        QVERIFY(book.save(target(path("two.xls")), &error));
        const FreeXlReader read(path("two.xls"));
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.names(), (QStringList{"明细", QString(31, 'x')}));
        // Every cell is text, the number-like ones too; an empty value is no cell.
        QCOMPARE(read.rows("明细"),
                 (Rows{{"编号", "Dose (uSv)", "Note"}, {"A-1", "2.5", "Café ñ"}, {"", "7", ""}, {"B-2", "", "it's"},
                       {"", "", ""}}));
        QCOMPARE(read.rows(QString(31, 'x')), (Rows{{"x"}, {"第一"}}));
    }

    void refusals()
    {
        XlsWorkbook book;
        QString error;
        QVERIFY(!book.appendRow({"a"}, &error) && !error.isEmpty()); // no sheet yet
        const QStringList many = QVector<QString>(257, "c").toList(), huge{QString(32768, 'h')};
        const QList<QPair<QString, QStringList>> sheets{{"", {"a"}}, {" ", {"a"}}, {QString(32, 'x'), {"a"}},
            {"a/b", {"a"}}, {"a[1]", {"a"}}, {"'q", {"a"}}, {"q'", {"a"}}, {"tab\t", {"a"}}, {"S", {}},
            {"S", many}, {"S", huge}};
        for (const auto& sheet : sheets) {
            error.clear();
            QVERIFY2(!book.addSheet(sheet.first, sheet.second, &error) && !error.isEmpty(), qPrintable(sheet.first));
        }
        QCOMPARE(book.sheetCount(), 0);
        QVERIFY(book.addSheet("S", many.mid(1), &error) && !book.addSheet("s", {"a"}, &error)); // 256 columns at most
        QVERIFY(error.contains("S"));
        QVERIFY(book.addSheet("T", {"a"}, &error));
        for (const QStringList& row : {QStringList{"1", "2"}, huge}) { // more values than columns, a cell too long
            error.clear();
            QVERIFY(!book.appendRow(row, &error) && !error.isEmpty());
        }
        QVERIFY(book.appendRow({QString(32767, 'h')}, &error));
        QCOMPARE(book.sheetCount(), 2);
    }

    void fullSheetAndLongStrings()
    {
        // The string table's records end inside an 8-bit string, then inside a 16-bit one.
        const QString latin = QString(150, 'A') + QChar(0xE9) + QString(149, 'B'), chinese(5000, QChar(0x4E2D));
        const QStringList strings{QString(XlsSharedStrings::kMaxRecordData - 115, 'a'), latin, chinese};
        Rows big;
        for (int r = 0; r < XlsSheet::kMaxRows - 1; ++r) // below the column-name row
            big.append({QString::number(r * 1.5), QString("人员%1").arg(r % 977), QString("DEV%1").arg(r % 501),
                        r % 3 ? QString("note %1 ").arg(r) + QString(40 + r % 97, QChar(0x61 + r % 26))
                              : QString("第%1行").arg(r) + QString(30 + r % 61, QChar(0x7532 + r % 40))});
        XlsWorkbook book;
        QString error;
        QVERIFY(book.addSheet("Long", {"t"}, &error));
        for (const QString& s : strings)
            QVERIFY(book.appendRow({s}, &error));
        QVERIFY(book.addSheet("明细", {"编号", "姓名", "设备", "备注"}, &error));
        for (const QStringList& row : qAsConst(big))
            QVERIFY(book.appendRow(row, &error));
        QVERIFY(!book.appendRow({"one too many"}, &error) && error.contains("65536"));
        const QString file = path("large.xls");
        QVERIFY(book.save(target(file), &error));
        QVERIFY(QFileInfo(file).size() > 109 * 128 * 512); // past the header's FAT list: DIFAT sectors
        const FreeXlReader read(file);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.rows("Long"), (Rows{{"t"}, {strings[0]}, {latin}, {chinese}}));
        QVERIFY(read.rows("明细") == (Rows{{"编号", "姓名", "设备", "备注"}} + big));
    }

    // A failed save leaves the target as it was; a confirmed one replaces it whole.
    void saveFollowsTheOutputRules()
    {
        QTemporaryDir here;
        const QString old = here.filePath("old.xls");
        QFile file(old);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
        file.close();
        XlsWorkbook book;
        QString error;
        QVERIFY(!book.save(target(old, true), &error) && !error.isEmpty()); // no sheet
        QVERIFY(book.addSheet("mydata0", {"a"}, &error) && book.appendRow({"1"}, &error));
        for (const OutputFile::Target& t : {target(old), target(here.filePath("no/dir/x.xls"), true),
                                           target(here.filePath("x.xlsx"), true)}) {
            error.clear();
            QVERIFY2(!book.save(t, &error) && !error.isEmpty(), qPrintable(t.path));
        }
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "old");
        file.close();
        const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(here.path()).entryList(all), QStringList{"old.xls"});
        QVERIFY(book.save(target(old, true), &error));
        QCOMPARE(FreeXlReader(old).rows("mydata0"), (Rows{{"a"}, {"1"}}));
    }
};

QTEST_GUILESS_MAIN(TestXlsWriter)
#include "tst_xlswriter.moc"
