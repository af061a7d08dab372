#include <QtSql>
#include <QtTest>
#include <QtWidgets>

#include "desktop/SqlSelect.h"
#include "core/export/XlsxExport.h"
#include "support/ModalScript.h"
#include "support/ScratchDatabase.h"

// One part of a workbook, as unzip reads it.
QString part(const QString& file, const QString& name) { return output("unzip", {"-p", file, name}); }

// A cell as "number format|type|content", the format found through the cell's style.
QString cell(const QString& file, int sheet, const QString& ref)
{
    const QString styles = part(file, "xl/styles.xml");
    const auto c = QRegularExpression("<c r=\"" + ref + "\"(?: s=\"(\\d+)\")?(?: t=\"(\\w+)\")?>(.*?)</c>")
                       .match(part(file, QString("xl/worksheets/sheet%1.xml").arg(sheet)));
    const QString xf = styles.section("<cellXfs", 1).split("<xf ").value(c.captured(1).toInt() + 1);
    const QString id = QRegularExpression("numFmtId=\"(\\d+)\"").match(xf).captured(1);
    const auto format = QRegularExpression("numFmtId=\"" + id + "\" formatCode=\"([^\"]*)\"").match(styles);
    return c.hasMatch() ? format.captured(1) + "|" + c.captured(2) + "|" + c.captured(3) : "missing";
}

class TestXlsx : public QObject
{
    Q_OBJECT
    ScratchDatabase ws;
    const QString rowsFile = ws.path("rows.xlsx");

    // Five rows of the query's shape, in sheets of three rows (two and the column names).
    int exportRows(const QString& file, bool cancel, QString* error)
    {
        QSqlQuery rows(ws.db);
        rows.exec("select * from (values ('20240229133000','张三','放射科',7,12.5), ('20240301','李四','核医学科',8,0.25),"
                  " ('202403','张三','放射科',7,3), ('18991231','张三','放射科',7,null), ('abc','王五','放射科',9,'n/a'))");
        XlsxExport exporter(OutputFile::Target{file, true, QString()});
        exporter.setSheetRows(3);
        if (cancel)
            connect(&exporter, &XlsxExport::exportedRowCount, &exporter, &XlsxExport::cancel);
        const int written = exporter.write(rows);
        *error = exporter.errorString();
        return written;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QCOMPARE(exportRows(rowsFile, false, &error), 5);
        QVERIFY(part(rowsFile, "xl/workbook.xml").contains(QRegularExpression("\"mydata0\".*\"mydata1\".*\"mydata2\"")));
        QVERIFY(part(rowsFile, "xl/worksheets/sheet1.xml").contains(QRegularExpression(
            "<col min=\"1\" max=\"1\" width=\"1[6-9].*<col min=\"2\" max=\"2\" width=\"[4-7]\\.")));
    }

    void cells_data()
    {
        QTest::addColumn<int>("sheet");
        QTest::addColumn<QString>("ref");
        QTest::addColumn<QString>("expected");
        QTest::newRow("hour") << 1 << "A2" << "yyyy-mm-dd hh:mm||<v>45351.5625</v>";
        QTest::newRow("dose") << 1 << "E2" << "||<v>12.5</v>";
        QTest::newRow("day") << 1 << "A3" << "yyyy-mm-dd||<v>45352</v>";
        QTest::newRow("device") << 1 << "D3" << "||<v>8</v>";
        QTest::newRow("month") << 2 << "A2" << "yyyy-mm||<v>45352</v>";
        QTest::newRow("key kept as text") << 2 << "A3" << "|inlineStr|<is><t>18991231</t></is>";
        QTest::newRow("no dose") << 2 << "E3" << "missing";
        QTest::newRow("dose as text") << 3 << "E2" << "|inlineStr|<is><t>n/a</t></is>";
        QTest::newRow("five rows end") << 3 << "A3" << "missing";
    }
    void cells()
    {
        QFETCH(int, sheet);
        QFETCH(QString, ref);
        QTEST(cell(rowsFile, sheet, ref), "expected");
        const QString frozen = "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>";
        QVERIFY(part(rowsFile, QString("xl/worksheets/sheet%1.xml").arg(sheet)).contains(frozen));
    }

    void nothingLeftBehind()
    {
        QFile old(ws.path("out/old.xlsx"));
        QVERIFY(QDir(ws.dir.path()).mkpath("out/dir.xlsx") && old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        // Cancelled over an earlier file, no such folder, a folder of that name.
        for (const QString target : {"out/old.xlsx", "none/a.xlsx", "out/dir.xlsx"}) {
            QString error;
            const bool cancel = target == "out/old.xlsx";
            QCOMPARE(exportRows(ws.path(target), cancel, &error), -1);
            QVERIFY2(error.isEmpty() == cancel, qPrintable(target + ": " + error)); // a reason unless cancelled
            QCOMPARE(QDir(ws.path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"old.xlsx"});
        }
        QVERIFY(old.open(QIODevice::ReadOnly) && old.readAll() == "old");
    }

    void dialogChoosesBySuffix()
    {
        ws.addPerson("7", "张三");
        ws.addDevice(7, "7");
        for (int h = 0; h < 3; ++h)
            ws.addDose("Realdata", 7, "20240301" + QString::number(10 + h) + "0000", 2.5 * (h + 1));
        SqlSelect dialog(nullptr, ws.store.get());
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnSearch"), Qt::LeftButton);
        SqlSelect::setSaveFileName([this](QWidget*) { return ws.path("q.XLSX"); });
        ModalScript script;
        script.box("导出数据", "3 条数据已导出到 " + ws.path("q.XLSX"), QMessageBox::Ok, &dialog);
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnExcel"), Qt::LeftButton);
        QVERIFY2(script.clean(), script.report());
        QCOMPARE(cell(ws.path("q.XLSX"), 1, "E4"), "||<v>7.5</v>");
    }
};

QTEST_MAIN(TestXlsx)
#include "tst_xlsx.moc"
