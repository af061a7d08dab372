#include <QtSql>
#include <QtTest>

#include "core/export/CompoundFile.h"
#include "core/export/XlsSqlDriver.h"
#include "core/export/XlsWorkbook.h"
#include "support/FreeXlReader.h"

using Rows = QVector<QStringList>;

QByteArray le(quint64 v, int n) { return n ? char(v) + le(v >> 8, n - 1) : QByteArray(); }

class TestXlsDriver : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QSqlDatabase db;
    QSqlQuery q;

    QString path(const QString& name) const { return dir.filePath(name); }
    bool open(const QString& path)
    {
        close();
        db = QSqlDatabase::addDatabase("QODBC", "xls");
        db.setDatabaseName("DRIVER={Microsoft Excel Driver (*.xls)};DBQ=" + path); // the export's own is tst_export's
        q = QSqlQuery(db);
        return db.open();
    }
    bool close() // only removes the connection, as the export does: the driver must write all by itself
    {
        q = QSqlQuery();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("xls");
        return true;
    }

private slots:
    void initTestCase()
    {
        XlsSqlDriver::registerAsOdbc();
        const QString xls = "DRIVER={Microsoft Excel Driver (*.xls)};";
        QStringList paths; // "!" marks an error
        for (const QString& c : QStringList{xls + "DSN='';FIRSTROWHASNAMES=1;CREATE_DB=\"/x/y;z.xls\"", xls + "DSN='';",
                 " DRIVER={Microsoft Excel Driver (*.xls)} ; DBQ= /x/y.xls ;", "DRIVER={SQL Server};DBQ=/x/y.xls",
                 xls + "FIRSTROWHASNAMES=0;DBQ=/x/y.xls", xls + "CREATE_DB=\"/x/y.xls"}) {
            QString error;
            const QString path = XlsSqlDriver::workbookPath(c, &error);
            paths << path + (error.isEmpty() ? "" : "!");
        }
        QCOMPARE(paths.join('|'), QString("/x/y;z.xls|!|/x/y.xls|!|!|!"));
    }

    void fileLifetimeAndStatements()
    {
        const QString file = path("made.xls");
        QVERIFY(open(file) && !db.driver()->hasFeature(QSqlDriver::Transactions));
        QVERIFY(q.exec("CREATE TABLE [S] ([a] char)"));
        QCOMPARE(FreeXlReader(file).rows("S"), Rows{{"a"}}); // written at CREATE TABLE already
        QVERIFY(open(file) && q.exec("DROP TABLE [s]")); // the only sheet: no empty workbook stays
        QVERIFY(close() && !QFile::exists(file));
        QVERIFY(open(file) && QFile::exists(file));
        QVERIFY(close() && !QFile::exists(file)); // opened, never used
        QFile notes(path("notes.xls"));
        QVERIFY(notes.open(QIODevice::ReadWrite) && notes.write("no workbook") > 0 && notes.flush());
        for (const QString& place : {path("no-dir/x.xls"), QString("/proc/x.xls"), dir.path(), notes.fileName()})
            QVERIFY2(!open(place) && db.isOpenError() && !db.lastError().text().isEmpty(), qPrintable(place));
        QVERIFY(notes.seek(0) && notes.readAll() == "no workbook");

        QVERIFY(open(path("order.xls")) && q.exec("CREATE TABLE [T] ([编号] char , [Dose (uSv)] real , [Note] char)"));
        QVERIFY(q.exec("INSERT INTO [T] (note , Dose (uSv) , 编号) VALUES ('Café ñ' , 2.5 , 'A-1')"));
        QCOMPARE(q.numRowsAffected(), 1);
        QVERIFY(q.exec("INSERT INTO [T$] ([Dose (uSv)]) VALUES ('7')")); // columns out of order, unbracketed, left out
        QVERIFY(q.exec("INSERT INTO [t] VALUES ('B-2' , NULL , 'it''s')"));
        QVERIFY(!q.exec("INSERT INTO [T] (Missing) VALUES ('x')") && q.lastError().text().contains("Missing"));
        QVERIFY(q.prepare("CREATE TABLE [B] ([x] char , [y] real)") && q.exec());
        QVERIFY(q.prepare("INSERT INTO [B] (x , y) VALUES (:data0 , :data1)"));
        q.bindValue(":data1", "3.14", QSql::In); // bound out of order
        q.bindValue(":data0", "第一", QSql::In);
        QVERIFY(q.exec());
        QVERIFY(q.prepare("INSERT INTO [B] (y , x) VALUES (? , ?)"));
        q.addBindValue("9");
        q.addBindValue(QVariant(QVariant::String));
        QVERIFY(q.exec());
        QCOMPARE(db.record("t").count(), 3);
        // The last one unprepared: nothing bound. The sheet name has 32 characters.
        for (const char* sql : {"INSERT INTO [B] (x , y) VALUES ('1')", "INSERT INTO [B] (x , X) VALUES ('1' , '2')",
                 "DROP TABLE [B] now", "INSERT INTO [Nope] (x) VALUES ('1')", "CREATE TABLE [a/b] ([a] char)",
                 "SELECT * FROM [B]", "INSERT INTO [B] (x) VALUES (1 + 2)", "INSERT INTO [B] VALUES ('1' , '2' , '3')",
                 "UPDATE [B] SET x = '1'", "CREATE TABLE [N] ([a] blob)", "CREATE TABLE [b] ([c] char)", "hello world",
                 "CREATE TABLE [N] ()", "CREATE TABLE [N] ([a] char , [A] real)", "CREATE TABLE [N ([a] char)",
                 "CREATE TABLE [xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx] ([a] char)", "INSERT INTO [B] (x) VALUES (:z)"})
            QVERIFY2(!q.exec(sql) && !q.lastError().text().isEmpty(), sql);
        QCOMPARE(db.tables(), (QStringList{"T", "B"}));
        close();
        const FreeXlReader book(path("order.xls"));
        QCOMPARE(book.sheets.value(0).rows,
                 (Rows{{"编号", "Dose (uSv)", "Note"}, {"A-1", "2.5", "Café ñ"}, {"", "7", ""}, {"B-2", "", "it's"}}));
        QCOMPARE(book.sheets.value(1).rows, (Rows{{"x", "y"}, {"第一", "3.14"}, {"", "9"}}));
    }

    void largeCompoundAndForeignWorkbooks()
    {
        // The string table's records end inside an 8-bit string, then inside a 16-bit one.
        const QString latin = QString(150, 'A') + QChar(0xE9) + QString(149, 'B'), chinese(5000, QChar(0x4E2D));
        const QStringList strings{QString(XlsWorkbook::kMaxRecordData - 115, 'a'), latin, chinese};
        Rows big;
        for (int r = 0; r < XlsWorkbook::kMaxRows - 1; ++r) // below the column-name row
            big.append({QString::number(r * 1.5), QString("人员%1").arg(r % 977), QString("DEV%1").arg(r % 501),
                        r % 3 ? QString("note %1 ").arg(r) + QString(40 + r % 97, QChar(0x61 + r % 26))
                              : QString("第%1行").arg(r) + QString(30 + r % 61, QChar(0x7532 + r % 40))});
        const QString file = path("large.xls");
        QVERIFY(open(file) && q.exec("CREATE TABLE [Long] ([t] char)"));
        for (const QString& s : strings)
            QVERIFY(q.exec("INSERT INTO [Long] VALUES ('" + s + "')"));
        QVERIFY(q.exec("CREATE TABLE [明细] ([编号] real , [姓名] char , [备注] char , [设备] char)"));
        QVERIFY(q.prepare("INSERT INTO [明细] (编号 , 姓名 , 设备 , 备注) VALUES (? , ? , ? , ?)"));
        for (int r = 0; r <= big.size(); ++r) {
            for (int c : {0, 1, 3, 2})
                q.addBindValue(big.value(r).value(c));
            QCOMPARE(q.exec(), r < big.size()); // the 65537th row does not exist
            if (r + 1 == XlsSqlDriver::kMinInsertBatch) // still open: the first batch is in the file
                QCOMPARE(FreeXlReader(file).rows("明细").size(), r + 2);
        }
        QVERIFY(q.lastError().text().contains("65536"));
        close();
        const FreeXlReader book(file);
        QCOMPARE(book.rows("Long"), (Rows{{"t"}, {strings[0]}, {latin}, {chinese}}));
        QVERIFY(book.rows("明细") == (Rows{{"编号", "姓名", "备注", "设备"}} + big));
        XlsWorkbook own; // the file is big enough for DIFAT sectors
        QVERIFY(own.load(file, nullptr) && own.sheet(1).rows == big && own.sheet(0).rows[2] == QStringList{chinese});

        const QByteArray tiny("tiny"), edge(CompoundFile::kMiniStreamCutoff, 'e'), wide(70000, 'b');
        QByteArray doc;
        QVERIFY(CompoundFile::build({{"Workbook", wide}, {"Small", tiny}, {"Edge", edge}, {"Empty", {}}}, &doc, nullptr));
        CompoundFile cf;
        QVERIFY2(cf.parse(doc), qPrintable(cf.errorString()));
        QCOMPARE(cf.streamNames().size(), 4);
        QVERIFY(cf.stream("Workbook") == wide && cf.stream("small") == tiny && cf.stream("Edge") == edge);
        QVERIFY(cf.hasStream("Empty") && cf.stream("Empty").isEmpty() && !cf.hasStream("Other"));
        QVERIFY(!cf.parse(doc.left(600)) && !cf.errorString().isEmpty());
        QVERIFY(!CompoundFile::build({{"A", tiny}, {"a", tiny}}, &doc, nullptr));
        QVERIFY(!XlsWorkbook().fromBiff(QByteArray(100, '\0'), nullptr));
        // As other programs write it: inline strings, numbers, RK and MULRK cells, a chart sheet.
        QByteArray s;
        auto rec = [&s](int type, const QByteArray& data) { s += le(type, 2) + le(data.size(), 2) + data; };
        auto bof = [&rec](int type) { rec(0x0809, le(0x0600, 2) + le(type, 2) + QByteArray(12, '\0')); };
        auto cell = [&](int t, int r, int c, const QByteArray& d) { rec(t, le(r, 2) + le(c, 2) + le(15, 2) + d); };
        bof(0x0005); // the sheet list gives the offsets of the chart (59) and the sheet (83) below
        rec(0x0085, le(59, 4) + le(0x0200, 2) + le(6, 1) + le(0, 1) + "Chart1");
        rec(0x0085, le(83, 4) + le(0, 2) + le(5, 1) + le(0, 1) + "Mixed");
        rec(0x000A, {});
        bof(0x0020);
        rec(0x000A, {});
        bof(0x0010);
        cell(0x0204, 0, 0, le(2, 2) + le(1, 1) + le(0x540D, 2) + le(0x79F0, 2)); // 名称
        cell(0x0204, 0, 1, le(3, 2) + le(0, 1) + "val");
        cell(0x0203, 1, 0, le(0x4004000000000000u, 8)); // 2.5
        cell(0x027E, 1, 1, le((1234u << 2) | 2, 4)); // integer RK
        cell(0x027E, 2, 0, le((1234u << 2) | 3, 4)); // integer RK / 100
        const QByteArray rk7 = le(7u << 2 | 2, 4), rkHalf = le(0x3FE00000u, 4), rk9 = le(9u << 2 | 2, 4);
        cell(0x00BD, 3, 0, rk7 + le(15, 2) + rkHalf + le(15, 2) + rk9 + le(2, 2)); // MULRK: 7, 0.5, 9
        cell(0x0203, 0, 256, le(0, 8)); // beyond the last column: dropped
        rec(0x000A, {});
        QFile out(path("foreign.xls"));
        QVERIFY(CompoundFile::build({{"Workbook", s}}, &doc, nullptr) && out.open(QIODevice::WriteOnly));
        QVERIFY(out.write(doc) == doc.size() && out.flush());
        QVERIFY(open(out.fileName()) && db.tables() == QStringList{"Mixed"} && !q.exec("DROP TABLE [Data]"));
        QVERIFY(q.exec("CREATE TABLE [Data] ([old] char)") && q.exec("DROP TABLE [data]"));
        QVERIFY(q.exec("CREATE TABLE [data] ([a] char , [b] char)"));
        QVERIFY(q.exec("INSERT INTO [Data] (a , b) VALUES ('1' , '2')"));
        close();
        const FreeXlReader foreign(out.fileName());
        QCOMPARE(foreign.names(), (QStringList{"Mixed", "data"}));
        QCOMPARE(foreign.rows("Mixed"),
                 (Rows{{"名称", "val", ""}, {"2.5", "1234", ""}, {"12.34", "", ""}, {"7", "0.5", "9"}}));
        QCOMPARE(foreign.rows("data"), (Rows{{"a", "b"}, {"1", "2"}}));
    }
};

QTEST_GUILESS_MAIN(TestXlsDriver)
#include "tst_xlsdriver.moc"
