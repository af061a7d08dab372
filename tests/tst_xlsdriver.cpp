// The Excel export connection: the "QODBC" stand-in driver, the workbook it
// writes and the compound file around it. Files are read back with FreeXL,
// which shares no code with the writer.

#include <QtTest>

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>


#include "query/CompoundFile.h"
#include "query/XlsSqlDriver.h"
#include "query/XlsStatement.h"
#include "query/XlsWorkbook.h"
#include "support/FreeXlReader.h"

namespace {

const char* const kConn = "xlstest";

QString excelConnection(const QString& path)
{
    return QStringLiteral("DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;"
                          "READONLY=FALSE;CREATE_DB=\"%1\";DBQ=%2")
        .arg(path, path);
}

QSqlDatabase openWorkbook(const QString& path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QLatin1String(kConn));
    db.setDatabaseName(excelConnection(path));
    db.open();
    return db;
}

void closeWorkbook()
{
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(kConn), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kConn));
}

// Runs the statements of an export the way the program does; false on the first failure.
bool exportSheet(QSqlDatabase db, const QString& sheet, const QStringList& columns, const QStringList& types,
                 const QVector<QStringList>& rows, QString* error = nullptr)
{
    QSqlQuery q(db);
    q.exec(QStringLiteral("DROP TABLE [%1]").arg(sheet));
    QStringList defs;
    QStringList holders;
    for (int i = 0; i < columns.size(); ++i) {
        defs << QStringLiteral("[%1] %2").arg(columns[i], types.value(i, QStringLiteral("char")));
        holders << QStringLiteral(":data%1").arg(i);
    }
    auto failed = [&] {
        if (error)
            *error = q.lastError().text();
        return false;
    };
    if (!q.prepare(QStringLiteral("CREATE TABLE [%1] (%2)").arg(sheet, defs.join(QStringLiteral(" , "))))
        || !q.exec())
        return failed();
    const QString insert = QStringLiteral("INSERT INTO [%1] (%2) VALUES (%3)")
                               .arg(sheet, columns.join(QStringLiteral(" , ")), holders.join(QStringLiteral(" , ")));
    for (const QStringList& row : rows) {
        q.prepare(insert);
        for (int i = 0; i < holders.size(); ++i)
            q.bindValue(holders[i], row.value(i), QSql::In);
        if (!q.exec())
            return failed();
    }
    return true;
}

QVector<QStringList> table(const QStringList& header, const QVector<QStringList>& rows)
{
    QVector<QStringList> all{header};
    all += rows;
    return all;
}

// One export connection for a scope: opened at construction, closed and
// removed (which writes the file) at the end.
struct Workbook
{
    explicit Workbook(const QString& path) : db(openWorkbook(path)) {}
    ~Workbook()
    {
        db = QSqlDatabase();
        closeWorkbook();
    }
    QSqlDatabase db;
};

} // namespace

// The workbook at file as FreeXL reads it; stops the test when FreeXL refuses it.
#define READ_BACK(var, file)                                                                                           \
    const FreeXlReader var##Reader(file);                                                                              \
    QVERIFY2(var##Reader.error.isEmpty(), qPrintable(var##Reader.error));                                              \
    const QVector<FreeXlReader::Sheet>& var = var##Reader.sheets

class TestXlsDriver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    // Connection string and opening.
    void connectionString_data();
    void connectionString();
    void openCreatesFile();
    void openFailsWhereNothingCanBeWritten();

    // Cell content as an independent reader sees it.
    void headerAndCellsExact();
    void insertPlacesValuesByNameAndBinding();
    void longStringsSpanContinueRecords();

    // Workbook lifecycle.
    void existingWorkbookKeepsOtherSheetsAndReplacesDropped();
    void removedWithoutCloseLeavesCompleteFile();
    void insertsAreSavedInBatches();

    // Size.
    void largeSheetsReadBackFully();
    void rowLimit();

    // Refusals.
    void badStatementsFail_data();
    void badStatementsFail();

    // The format layers on their own.
    void compoundFileRoundTrip();
    void readersSurviveDamagedFiles();
    void workbookReadsForeignCellRecords();

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
};

void TestXlsDriver::initTestCase()
{
    QVERIFY(m_dir.isValid());
    XlsSqlDriver::registerAsOdbc();
    XlsSqlDriver::registerAsOdbc(); // a second call must not replace or duplicate it
    QVERIFY(QSqlDatabase::drivers().contains(QStringLiteral("QODBC")));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), QStringLiteral("probe"));
    QVERIFY(qobject_cast<XlsSqlDriver*>(db.driver()));
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("probe"));
}

void TestXlsDriver::cleanup()
{
    if (QSqlDatabase::contains(QLatin1String(kConn)))
        closeWorkbook();
}

void TestXlsDriver::connectionString_data()
{
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QString>("expected"); // empty: must be refused

    QTest::newRow("program's form") << excelConnection(QStringLiteral("/tmp/a b/导出.xls"))
                                    << QStringLiteral("/tmp/a b/导出.xls");
    QTest::newRow("CREATE_DB only")
        << QStringLiteral("DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;CREATE_DB=\"/x/y;z.xls\"")
        << QStringLiteral("/x/y;z.xls");
    QTest::newRow("DBQ only, spaces around")
        << QStringLiteral(" DRIVER={Microsoft Excel Driver (*.xls)} ; DBQ= /x/y.xls ;") << QStringLiteral("/x/y.xls");
    QTest::newRow("no path") << QStringLiteral("DRIVER={Microsoft Excel Driver (*.xls)};DSN='';") << QString();
    QTest::newRow("not Excel") << QStringLiteral("DRIVER={SQL Server};DBQ=/x/y.xls") << QString();
    QTest::newRow("no header row")
        << QStringLiteral("DRIVER={Microsoft Excel Driver (*.xls)};FIRSTROWHASNAMES=0;DBQ=/x/y.xls") << QString();
    QTest::newRow("unclosed quote")
        << QStringLiteral("DRIVER={Microsoft Excel Driver (*.xls)};CREATE_DB=\"/x/y.xls") << QString();
}

void TestXlsDriver::connectionString()
{
    QFETCH(QString, connection);
    QFETCH(QString, expected);
    QString error;
    QCOMPARE(XlsSqlDriver::workbookPath(connection, &error), expected);
    QCOMPARE(error.isEmpty(), !expected.isEmpty());
}

void TestXlsDriver::openCreatesFile()
{
    const QString file = path(QStringLiteral("新建/created.xls"));
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    {
        Workbook book(file);
        QVERIFY2(book.db.isOpen(), qPrintable(book.db.lastError().text()));
        QVERIFY(QFile::exists(file));
        QVERIFY(QSqlQuery(book.db).exec(QStringLiteral("CREATE TABLE [S] ([a] char)")));
        // Written at CREATE TABLE already, before any close.
        READ_BACK(early, file);
        QCOMPARE(early.size(), 1);
        QCOMPARE(early[0].rows, QVector<QStringList>{{QStringLiteral("a")}});
    }

    // A connection that made no sheet leaves no empty, unreadable file behind.
    const QString unused = path(QStringLiteral("unused.xls"));
    {
        Workbook book(unused);
        QVERIFY(book.db.isOpen());
        QVERIFY(QFile::exists(unused));
    }
    QVERIFY(!QFile::exists(unused));
}

void TestXlsDriver::openFailsWhereNothingCanBeWritten()
{
    // Where nothing can be written, and a file that is no workbook.
    const QString notes = path(QStringLiteral("notes.xls"));
    QFile f(notes);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("just some text, not a workbook\n");
    f.close();
    for (const QString& place : {path(QStringLiteral("missing-dir/x.xls")),
                                 QStringLiteral("/proc/xlsdriver-test.xls"), m_dir.path(), notes}) {
        Workbook book(place);
        QVERIFY2(!book.db.isOpen(), qPrintable(place));
        QVERIFY(book.db.isOpenError());
        QVERIFY(!book.db.lastError().text().isEmpty());
    }
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing-dir"))));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("just some text, not a workbook\n")); // left alone
}

void TestXlsDriver::headerAndCellsExact()
{
    const QString file = path(QStringLiteral("cells.xls"));
    const QStringList cols1{QStringLiteral("姓名"), QStringLiteral("Department"), QStringLiteral("剂量(μSv)")};
    const QVector<QStringList> rows1{{QStringLiteral("张三"), QStringLiteral("放射科"), QStringLiteral("12.5")},
                                     {QStringLiteral("Renée"), QStringLiteral("Café ñ"), QStringLiteral("0")},
                                     {QStringLiteral("李四"), QString(), QStringLiteral("-3.25e-4")}};
    const QStringList cols2{QStringLiteral("Date"), QStringLiteral("Value")};
    const QVector<QStringList> rows2{{QStringLiteral("2024-01-31"), QStringLiteral("1e3")}};
    {
        Workbook book(file);
        QVERIFY(book.db.isOpen());
        QString error;
        QVERIFY2(exportSheet(book.db, QStringLiteral("人员"), cols1,
                             {QStringLiteral("char"), QStringLiteral("char"), QStringLiteral("real")}, rows1, &error),
                 qPrintable(error));
        QVERIFY2(exportSheet(book.db, QStringLiteral("Summary 2"), cols2,
                             {QStringLiteral("char"), QStringLiteral("real")}, rows2, &error),
                 qPrintable(error));
        QCOMPARE(book.db.tables(), (QStringList{QStringLiteral("人员"), QStringLiteral("Summary 2")}));
        QCOMPARE(book.db.record(QStringLiteral("人员")).count(), 3);
    }
    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 2);
    QCOMPARE(sheets[0].name, QStringLiteral("人员"));
    QCOMPARE(sheets[0].rows, table(cols1, rows1));
    QCOMPARE(sheets[1].name, QStringLiteral("Summary 2"));
    QCOMPARE(sheets[1].rows, table(cols2, rows2));
}

void TestXlsDriver::insertPlacesValuesByNameAndBinding()
{
    const QString file = path(QStringLiteral("order.xls"));
    {
        Workbook book(file);
        QSqlQuery q(book.db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE [T] ([编号] char , [Dose (uSv)] real , [Note] char)")));
        // Listed out of order, names unbracketed and differently cased, one column left out.
        QVERIFY2(q.exec(QStringLiteral("INSERT INTO [T] (note , Dose (uSv) , 编号) VALUES ('n1' , 2.5 , 'A-1')")),
                 qPrintable(q.lastError().text()));
        QCOMPARE(q.numRowsAffected(), 1);
        QVERIFY(q.exec(QStringLiteral("INSERT INTO [T$] ([Dose (uSv)]) VALUES ('7')")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO [T] VALUES ('B-2' , NULL , 'it''s')")));
        QVERIFY(!q.exec(QStringLiteral("INSERT INTO [T] (Missing) VALUES ('x')")));
        QVERIFY(q.lastError().text().contains(QStringLiteral("Missing")));

        QVERIFY(q.exec(QStringLiteral("CREATE TABLE [B] ([x] char , [y] real)")));
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO [B] (x , y) VALUES (:data0 , :data1)")));
        q.bindValue(QStringLiteral(":data1"), QStringLiteral("3.14"), QSql::In); // bound out of order
        q.bindValue(QStringLiteral(":data0"), QStringLiteral("第一"), QSql::In);
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        QCOMPARE(q.numRowsAffected(), 1);
        // Re-executing the same prepared statement with new values.
        q.bindValue(QStringLiteral(":data0"), QStringLiteral("second"), QSql::In);
        q.bindValue(QStringLiteral(":data1"), QString(), QSql::In);
        QVERIFY(q.exec());
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO [B] (y , x) VALUES (? , ?)")));
        q.addBindValue(QStringLiteral("9"));
        q.addBindValue(QStringLiteral("positional"));
        QVERIFY(q.exec());
        // A placeholder left unbound reads as NULL, as with any Qt driver: an empty cell.
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO [B] (x , y) VALUES (:a , :b)")));
        q.bindValue(QStringLiteral(":a"), QStringLiteral("only a"));
        QVERIFY(q.exec());
        // Unprepared text with a named placeholder has nothing bound either.
        QVERIFY(!q.exec(QStringLiteral("INSERT INTO [B] (x) VALUES (:z)")));
    }
    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 2);
    QCOMPARE(sheets[0].rows, (QVector<QStringList>{{QStringLiteral("编号"), QStringLiteral("Dose (uSv)"),
                                                     QStringLiteral("Note")},
                                                    {QStringLiteral("A-1"), QStringLiteral("2.5"), QStringLiteral("n1")},
                                                    {QString(), QStringLiteral("7"), QString()},
                                                    {QStringLiteral("B-2"), QString(), QStringLiteral("it's")}}));
    QCOMPARE(sheets[1].rows, (QVector<QStringList>{{QStringLiteral("x"), QStringLiteral("y")},
                                                    {QStringLiteral("第一"), QStringLiteral("3.14")},
                                                    {QStringLiteral("second"), QString()},
                                                    {QStringLiteral("positional"), QStringLiteral("9")},
                                                    {QStringLiteral("only a"), QString()}}));
}

void TestXlsDriver::longStringsSpanContinueRecords()
{
    // Laid out so that the boundaries of the shared string table land inside
    // strings: after the table's counts and the column name "t", an 8-bit
    // string cut after 97 characters, then a 16-bit one cut with one byte of
    // the record left over.
    const int firstLen = XlsWorkbook::kMaxRecordData - 8 - 4 - 3 - 100;
    const QString first = QString(firstLen, QLatin1Char('a'));
    QString latin;
    for (int i = 0; i < 300; ++i)
        latin.append(QChar(0x41 + i % 26));
    latin[150] = QChar(0xE9); // still 8-bit
    QString chinese;
    for (int i = 0; i < 5000; ++i)
        chinese.append(QChar(0x4E00 + (i * 7) % 0x5000));
    QVector<QStringList> rows{{first}, {latin}, {chinese}};
    // Then many distinct strings of both kinds, crossing more boundaries.
    for (int i = 0; i < 4000; ++i)
        rows.append({(i % 3 ? QStringLiteral("row %1 ").arg(i) + QString(40 + i % 97, QChar(0x61 + i % 26))
                            : QStringLiteral("第%1行").arg(i) + QString(30 + i % 61, QChar(0x7532 + i % 40)))});

    const QString file = path(QStringLiteral("sst.xls"));
    QString error;
    {
        Workbook book(file);
        QVERIFY2(exportSheet(book.db, QStringLiteral("Long"), {QStringLiteral("t")}, {}, rows, &error),
                 qPrintable(error));
    }

    // The record layout: SST, then CONTINUE records whose first byte is the
    // repeated flags byte of the string cut at the boundary.
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    CompoundFile cf;
    QVERIFY(cf.parse(in.readAll()));
    const QByteArray stream = cf.stream(QStringLiteral("Workbook"));
    QVector<QPair<int, int>> sstParts; // (data offset, size)
    for (int pos = 0; pos + 4 <= stream.size();) {
        const int type = uchar(stream[pos]) | uchar(stream[pos + 1]) << 8;
        const int size = uchar(stream[pos + 2]) | uchar(stream[pos + 3]) << 8;
        QVERIFY(size <= XlsWorkbook::kMaxRecordData);
        if (type == 0x00FC || (type == 0x003C && !sstParts.isEmpty()))
            sstParts.append({pos + 4, size});
        else if (!sstParts.isEmpty())
            break;
        pos += 4 + size;
    }
    QVERIFY2(sstParts.size() >= 4, qPrintable(QString::number(sstParts.size())));
    QCOMPARE(sstParts[0].second, XlsWorkbook::kMaxRecordData);
    QCOMPARE(int(stream[sstParts[1].first]), 0x00); // the 8-bit string continues
    QCOMPARE(sstParts[1].second, XlsWorkbook::kMaxRecordData - 1); // a 16-bit character is never split
    QCOMPARE(int(stream[sstParts[2].first]), 0x01); // the 16-bit string continues

    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 1);
    QCOMPARE(sheets[0].rows, table({QStringLiteral("t")}, rows));

    // Our own reader agrees.
    XlsWorkbook book;
    QVERIFY2(book.load(file, &error), qPrintable(error));
    QCOMPARE(book.sheet(0).rows, rows);
}

void TestXlsDriver::existingWorkbookKeepsOtherSheetsAndReplacesDropped()
{
    const QString file = path(QStringLiteral("keep.xls"));
    {
        Workbook book(file);
        QVERIFY(exportSheet(book.db, QStringLiteral("Data"), {QStringLiteral("old")}, {},
                            {{QStringLiteral("x")}, {QStringLiteral("y")}}));
        QVERIFY(exportSheet(book.db, QStringLiteral("一月"), {QStringLiteral("a")}, {}, {{QStringLiteral("1")}}));
    }
    {
        Workbook book(file);
        QVERIFY(book.db.isOpen());
        QCOMPARE(book.db.tables().size(), 2);
        QSqlQuery q(book.db);
        QVERIFY(!q.exec(QStringLiteral("CREATE TABLE [data] ([new] char)"))); // exists, whatever the case
        QVERIFY(!q.exec(QStringLiteral("DROP TABLE [Nowhere]")));              // absent: fails, harms nothing
        QVERIFY(q.exec(QStringLiteral("DROP TABLE [Data]")));
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE [Data] ([new] char , [second] char)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO [Data] (new , second) VALUES ('1' , '2')")));
        QVERIFY(exportSheet(book.db, QStringLiteral("三月"), {QStringLiteral("c")}, {}, {{QStringLiteral("3")}}));
    }
    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 3);
    QCOMPARE(sheets[0].name, QStringLiteral("一月"));
    QCOMPARE(sheets[0].rows, (QVector<QStringList>{{QStringLiteral("a")}, {QStringLiteral("1")}}));
    QCOMPARE(sheets[1].name, QStringLiteral("Data"));
    QCOMPARE(sheets[1].rows, (QVector<QStringList>{{QStringLiteral("new"), QStringLiteral("second")},
                                                    {QStringLiteral("1"), QStringLiteral("2")}}));
    QCOMPARE(sheets[2].name, QStringLiteral("三月"));
    QCOMPARE(sheets[2].rows, (QVector<QStringList>{{QStringLiteral("c")}, {QStringLiteral("3")}}));
}

void TestXlsDriver::removedWithoutCloseLeavesCompleteFile()
{
    const QString file = path(QStringLiteral("noclose.xls"));
    QVector<QStringList> rows;
    for (int i = 0; i < 500; ++i)
        rows.append({QString::number(i), QStringLiteral("值%1").arg(i)});
    QVERIFY(exportSheet(openWorkbook(file), QStringLiteral("S"), {QStringLiteral("n"), QStringLiteral("v")}, {}, rows));
    // No close(): the last handle goes with the removal.
    QSqlDatabase::removeDatabase(QLatin1String(kConn));
    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 1);
    QCOMPARE(sheets[0].rows, table({QStringLiteral("n"), QStringLiteral("v")}, rows));
}

void TestXlsDriver::insertsAreSavedInBatches()
{
    const QString file = path(QStringLiteral("batch.xls"));
    const int n = XlsSqlDriver::kMinInsertBatch + 10;
    {
        Workbook book(file);
        QSqlQuery q(book.db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE [B] ([n] char)")));
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO [B] (n) VALUES (?)")));
        for (int i = 0; i < n; ++i) {
            q.addBindValue(QString::number(i));
            QVERIFY(q.exec());
        }
        // Still open: the file already holds the first batch.
        READ_BACK(sheets, file);
        QCOMPARE(sheets.size(), 1);
        QCOMPARE(sheets[0].rows.size(), XlsSqlDriver::kMinInsertBatch + 1);
        QCOMPARE(sheets[0].rows.last().value(0), QString::number(XlsSqlDriver::kMinInsertBatch - 1));
    }
    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 1);
    QCOMPARE(sheets[0].rows.size(), n + 1);
}

void TestXlsDriver::largeSheetsReadBackFully()
{
    const QString file = path(QStringLiteral("large.xls"));
    const QStringList cols{QStringLiteral("编号"), QStringLiteral("姓名"), QStringLiteral("部门"),
                           QStringLiteral("日期"), QStringLiteral("剂量"), QStringLiteral("备注"),
                           QStringLiteral("设备"), QStringLiteral("状态")};
    const QStringList types{"char", "char", "char", "char", "real", "char", "char", "char"};
    auto rowsFrom = [](int first, int count) {
        QVector<QStringList> rows;
        for (int r = first; r < first + count; ++r)
            rows.append({QString::number(r), QStringLiteral("人员%1").arg(r % 977), QStringLiteral("Dept %1").arg(r % 13),
                         QStringLiteral("2024-%1-%2").arg(r % 12 + 1).arg(r % 28 + 1), QString::number(r * 0.37, 'f', 2),
                         QStringLiteral("note-%1-with-some-length-%2").arg(r).arg(r * 31),
                         QStringLiteral("DEV%1").arg(r % 501, 6, 10, QLatin1Char('0')),
                         r % 2 ? QStringLiteral("正常") : QStringLiteral("超标")});
        return rows;
    };
    const QVector<QStringList> big = rowsFrom(0, 50000);
    const QVector<QStringList> small = rowsFrom(7, 1234);
    {
        Workbook book(file);
        QVERIFY(exportSheet(book.db, QStringLiteral("明细"), cols, types, big));
        QVERIFY(exportSheet(book.db, QStringLiteral("Small"), cols, types, small));
    }
    // Big enough for the FAT to outgrow the header: DIFAT sectors in use.
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QVERIFY(in.size() > 8 * 1024 * 1024);
    QVERIFY(uchar(in.read(512)[0x48]) > 0);

    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 2);
    QVERIFY(sheets[0].rows == table(cols, big));
    QVERIFY(sheets[1].rows == table(cols, small));
}

void TestXlsDriver::rowLimit()
{
    const QString file = path(QStringLiteral("limit.xls"));
    {
        Workbook book(file);
        QSqlQuery q(book.db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE [Full] ([a] char , [b] real)")));
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO [Full] (a , b) VALUES (:data0 , :data1)")));
        const int full = XlsWorkbook::kMaxRows - 1; // below the column-name row
        for (int i = 0; i <= full; ++i) {
            q.bindValue(QStringLiteral(":data0"), QStringLiteral("row %1").arg(i), QSql::In);
            q.bindValue(QStringLiteral(":data1"), QString::number(i * 1.5), QSql::In);
            if (i < full)
                QVERIFY(q.exec());
        }
        QVERIFY(!q.exec()); // the 65537th row does not exist
        QVERIFY(q.lastError().text().contains(QStringLiteral("65536")));
    }
    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 1);
    QCOMPARE(sheets[0].rows.size(), XlsWorkbook::kMaxRows);
    QCOMPARE(sheets[0].rows.last(), (QStringList{QStringLiteral("row 65534"), QString::number(65534 * 1.5)}));
}

void TestXlsDriver::badStatementsFail_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("select") << QStringLiteral("SELECT * FROM [S]");
    QTest::newRow("update") << QStringLiteral("UPDATE [S] SET a = '1'");
    QTest::newRow("garbage") << QStringLiteral("hello world");
    QTest::newRow("create no columns") << QStringLiteral("CREATE TABLE [N] ()");
    QTest::newRow("create unknown type") << QStringLiteral("CREATE TABLE [N] ([a] blob)");
    QTest::newRow("create duplicate column") << QStringLiteral("CREATE TABLE [N] ([a] char , [A] real)");
    QTest::newRow("create bad sheet name") << QStringLiteral("CREATE TABLE [a/b] ([a] char)");
    QTest::newRow("create long sheet name") << QStringLiteral("CREATE TABLE [%1] ([a] char)").arg(QString(32, 'x'));
    QTest::newRow("unclosed bracket") << QStringLiteral("CREATE TABLE [N ([a] char)");
    QTest::newRow("insert missing sheet") << QStringLiteral("INSERT INTO [Nope] (a) VALUES ('1')");
    QTest::newRow("insert count mismatch") << QStringLiteral("INSERT INTO [S] (a , b) VALUES ('1')");
    QTest::newRow("insert too many values") << QStringLiteral("INSERT INTO [S] VALUES ('1' , '2' , '3')");
    QTest::newRow("insert column twice") << QStringLiteral("INSERT INTO [S] (a , A) VALUES ('1' , '2')");
    QTest::newRow("insert expression") << QStringLiteral("INSERT INTO [S] (a) VALUES (1 + 2)");
    QTest::newRow("drop trailing junk") << QStringLiteral("DROP TABLE [S] now");
}

void TestXlsDriver::badStatementsFail()
{
    QFETCH(QString, sql);
    const QString file = path(QStringLiteral("bad.xls"));
    QFile::remove(file);
    {
        Workbook book(file);
        QSqlQuery q(book.db);
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE [S] ([a] char , [b] real)")));
        QVERIFY(!q.exec(sql));
        QVERIFY(!q.lastError().text().isEmpty());
        // Nothing changed: the sheet is there, alone, with its header only.
        QCOMPARE(book.db.tables(), QStringList{QStringLiteral("S")});
        QVERIFY(q.exec(QStringLiteral("INSERT INTO [S] (a , b) VALUES ('ok' , '1')")));
    }
    READ_BACK(sheets, file);
    QCOMPARE(sheets.size(), 1);
    QCOMPARE(sheets[0].rows.size(), 2);
}

void TestXlsDriver::compoundFileRoundTrip()
{
    QByteArray small("tiny stream");
    QByteArray edge(CompoundFile::kMiniStreamCutoff, 'e'); // exactly at the cutoff: regular sectors
    QByteArray big(9 * 1024 * 1024 + 3, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char((i * 2654435761u) >> 24);
    QByteArray file;
    QString error;
    QVERIFY2(CompoundFile::build({{QStringLiteral("Workbook"), big},
                                  {QStringLiteral("Small"), small},
                                  {QStringLiteral("Edge"), edge},
                                  {QStringLiteral("Empty"), QByteArray()}},
                                 &file, &error),
             qPrintable(error));
    QCOMPARE((file.size() - 512) % 512, 0);
    QVERIFY(uchar(file[0x48]) > 0);        // DIFAT sectors
    QVERIFY(uchar(file[0x40]) > 0);        // mini FAT sectors
    CompoundFile cf;
    QVERIFY2(cf.parse(file), qPrintable(cf.errorString()));
    QCOMPARE(cf.streamNames().size(), 4);
    QCOMPARE(cf.stream(QStringLiteral("Workbook")), big);
    QCOMPARE(cf.stream(QStringLiteral("small")), small);
    QCOMPARE(cf.stream(QStringLiteral("Edge")), edge);
    QVERIFY(cf.hasStream(QStringLiteral("Empty")));
    QVERIFY(cf.stream(QStringLiteral("Empty")).isEmpty());
    // Plain garbage, and a file cut after its header.
    QVERIFY(!cf.parse(QByteArray(2048, 'x')));
    QVERIFY(!cf.parse(file.left(600)));
    QVERIFY(!cf.errorString().isEmpty());
    QVERIFY(!CompoundFile::build({{QStringLiteral("A"), small}, {QStringLiteral("a"), small}}, &file, &error));
    XlsWorkbook book;
    QVERIFY(!book.fromBiff(QByteArray(100, '\0'), &error));
}

void TestXlsDriver::readersSurviveDamagedFiles()
{
    // Cut and scribbled-over copies of a real workbook: each is either read
    // or refused, never a crash or a hang.
    XlsWorkbook book;
    QString error;
    QVERIFY(book.addSheet(QStringLiteral("表"), {QStringLiteral("a"), QStringLiteral("b")}, &error));
    for (int i = 0; i < 3000; ++i)
        QVERIFY(book.appendRow(0, {QStringLiteral("第%1").arg(i), QString(i % 50, QLatin1Char('x'))}, &error));
    const QByteArray biff = book.toBiff();
    QByteArray file;
    QVERIFY(CompoundFile::build({{QStringLiteral("Workbook"), biff}}, &file, &error));
    quint32 seed = 12345;
    auto random = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
    int readable = 0;
    for (int round = 0; round < 300; ++round) {
        QByteArray damaged = round % 2 ? biff : file;
        if (round % 3 == 0)
            damaged.truncate(int(random() % quint32(damaged.size())));
        for (int k = 0; k < 1 + round % 8; ++k)
            if (!damaged.isEmpty())
                damaged[int(random() % quint32(damaged.size()))] = char(random());
        XlsWorkbook copy;
        if (round % 2) {
            readable += copy.fromBiff(damaged, &error);
        } else {
            CompoundFile cf;
            if (cf.parse(damaged))
                readable += copy.fromBiff(cf.stream(QStringLiteral("Workbook")), &error);
        }
    }
    QVERIFY(readable > 0); // single flipped bytes in cell data still read
}

void TestXlsDriver::workbookReadsForeignCellRecords()
{
    // A workbook stream as other programs write it: inline strings, numbers,
    // RK and MULRK cells, and a sheet that is a chart.
    QByteArray s;
    auto rec = [&s](quint16 type, const QByteArray& data) {
        s.append(char(type & 0xFF)).append(char(type >> 8));
        s.append(char(data.size() & 0xFF)).append(char(data.size() >> 8));
        s.append(data);
    };
    auto le = [](quint64 v, int n) {
        QByteArray b;
        for (int i = 0; i < n; ++i)
            b.append(char((v >> (8 * i)) & 0xFF));
        return b;
    };
    auto number = [&le](double d) {
        quint64 bits;
        memcpy(&bits, &d, 8);
        return le(bits, 8);
    };
    auto bof = [&](int dt) { return le(0x0600, 2) + le(dt, 2) + QByteArray(12, '\0'); };
    auto sheetEntry = [&](int pos, int type, const QByteArray& name) {
        return le(pos, 4) + le(0, 1) + le(type, 1) + le(name.size(), 1) + le(0, 1) + name;
    };
    rec(0x0809, bof(0x0005));
    const int chartEntry = s.size() + 4;
    rec(0x0085, sheetEntry(0, 2, "Chart1"));
    const int sheetEntryAt = s.size() + 4;
    rec(0x0085, sheetEntry(0, 0, "Mixed"));
    rec(0x000A, {});
    const int chartPos = s.size();
    rec(0x0809, bof(0x0020));
    rec(0x000A, {});
    const int sheetPos = s.size();
    rec(0x0809, bof(0x0010));
    rec(0x0204, le(0, 2) + le(0, 2) + le(15, 2) + le(2, 2) + le(1, 1) + le(0x540D, 2) + le(0x79F0, 2)); // 名称
    rec(0x0204, le(0, 2) + le(1, 2) + le(15, 2) + le(3, 2) + le(0, 1) + "val");
    rec(0x0203, le(1, 2) + le(0, 2) + le(15, 2) + number(2.5));
    rec(0x027E, le(1, 2) + le(1, 2) + le(15, 2) + le((1234u << 2) | 2, 4));      // integer RK
    rec(0x027E, le(2, 2) + le(0, 2) + le(15, 2) + le((1234u << 2) | 3, 4));      // integer RK / 100
    rec(0x00BD, le(3, 2) + le(0, 2) + le(15, 2) + le((7u << 2) | 2, 4) + le(15, 2)
                    + le(0x3FE00000u, 4) // 0.5: the high half of the double
                    + le(1, 2));
    rec(0x000A, {});
    for (int i = 0; i < 4; ++i) {
        s[chartEntry + i] = char((chartPos >> (8 * i)) & 0xFF);
        s[sheetEntryAt + i] = char((sheetPos >> (8 * i)) & 0xFF);
    }

    XlsWorkbook book;
    QString error;
    QVERIFY2(book.fromBiff(s, &error), qPrintable(error));
    QCOMPARE(book.sheetNames(), QStringList{QStringLiteral("Mixed")});
    QCOMPARE(book.sheet(0).columns, (QStringList{QStringLiteral("名称"), QStringLiteral("val")}));
    QCOMPARE(book.sheet(0).rows, (QVector<QStringList>{{QStringLiteral("2.5"), QStringLiteral("1234")},
                                                       {QStringLiteral("12.34")},
                                                       {QStringLiteral("7"), QStringLiteral("0.5")}}));
}

QTEST_GUILESS_MAIN(TestXlsDriver)
#include "tst_xlsdriver.moc"
