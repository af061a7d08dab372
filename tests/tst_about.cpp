// The about dialog: its form, the images behind ":/data/", and closing it.

#include <QtTest>

#include <QApplication>
#include <QDialogButtonBox>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include "support/FormDriver.h"
#include "ui/myabout.h"

namespace {

// Clicks OK on whatever modal dialog is up once the event loop runs.
void clickOkSoon()
{
    QTimer::singleShot(0, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto* box = modal->findChild<QDialogButtonBox*>(QStringLiteral("bb_ok")))
            box->button(QDialogButtonBox::Ok)->click();
    });
}

} // namespace

class TestAbout : public QObject, private FormDriver
{
    Q_OBJECT

private slots:
    void formShowsVersionBannerAndNeutralContacts();
    void resourceImagesLoad_data();
    void resourceImagesLoad();
    void okAcceptsAgainAndAgainEscapeRejects();
};

void TestAbout::formShowsVersionBannerAndNeutralContacts()
{
    QWidget owner;
    myabout dialog(&owner);
    QCOMPARE(dialog.windowTitle() + child<QLabel>(&dialog, "label_4")->text(), QStringLiteral("关于我们版本号:  1.0.0"));
    QCOMPARE(child<QDialogButtonBox>(&dialog, "bb_ok")->buttons().size(), 1);
    const QPixmap banner = child<QLabel>(&dialog, "label_6")->pixmap(Qt::ReturnByValue);
    QVERIFY(!banner.isNull());
    QCOMPARE(banner.toImage().convertToFormat(QImage::Format_ARGB32),
             QImage(QStringLiteral(":/data/about.PNG")).convertToFormat(QImage::Format_ARGB32));

    // Placeholders that reach nobody: no number, mail address or web address.
    const QRegularExpression reachable(QStringLiteral("\\d{5,}|\\d{3,4}-\\d{6,}|@|www|http"),
                                       QRegularExpression::CaseInsensitiveOption);
    const std::pair<const char*, const char*> lines[] = {{"label", "电话"}, {"label_3", "邮箱"}, {"label_2", "网址"}};
    for (const auto& line : lines) {
        const QString text = child<QLabel>(&dialog, line.first)->text();
        QVERIFY2(text.contains(QString::fromUtf8(line.second)), qPrintable(text));
        QVERIFY2(!text.contains(reachable), qPrintable(text));
    }
}

void TestAbout::resourceImagesLoad_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::newRow("sql") << ":/data/sql.JPG" << QByteArray("jpeg") << QSize(24, 24);
    QTest::newRow("syn") << ":/data/syn.PNG" << QByteArray("png") << QSize(24, 24);
    QTest::newRow("run") << ":/data/run-16.png" << QByteArray("png") << QSize(16, 16);
    QTest::newRow("stop") << ":/data/stop-16.png" << QByteArray("png") << QSize(16, 16);
    QTest::newRow("close") << ":/data/close16.png" << QByteArray("png") << QSize(16, 16);
    QTest::newRow("about") << ":/data/about.PNG" << QByteArray("png") << QSize(400, 120);
}

void TestAbout::resourceImagesLoad()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    // Not a blank square: a drawing has at least two colours.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    QVERIFY(colours.size() > 1);
}

void TestAbout::okAcceptsAgainAndAgainEscapeRejects()
{
    QWidget owner;
    myabout dialog(&owner);
    // The main window runs the same dialog again and again.
    for (int run = 0; run < 2; ++run) {
        clickOkSoon();
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
    }
    QTimer::singleShot(0, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            QTest::keyClick(modal, Qt::Key_Escape);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
