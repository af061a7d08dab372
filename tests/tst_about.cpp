// The about dialog: its form, the images behind ":/data/", and closing it.

#include <QtTest>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include "ui/myabout.h"

namespace {

template <typename T>
T* child(QObject& parent, const char* name)
{
    return parent.findChild<T*>(QLatin1String(name));
}

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

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    // Form
    void formHasItsWidgetsAndTexts();
    void contactLinesNameNobody();
    void bannerIsTheResourceImage();

    // Resources
    void resourceImagesLoad_data();
    void resourceImagesLoad();

    // Behaviour
    void okEndsExecAccepted();
    void okClosesAModelessDialog();
    void escapeRejects();
};

void TestAbout::formHasItsWidgetsAndTexts()
{
    QWidget owner;
    myabout dialog(&owner);
    QCOMPARE(dialog.parentWidget(), &owner);
    QCOMPARE(dialog.objectName(), QStringLiteral("myabout"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("关于我们"));
    QCOMPARE(dialog.size(), QSize(422, 295));

    QVERIFY(child<QWidget>(dialog, "formLayoutWidget_2"));
    QVERIFY(child<QWidget>(dialog, "formLayoutWidget"));
    auto* upper = child<QFormLayout>(dialog, "formLayout_2");
    auto* lower = child<QFormLayout>(dialog, "formLayout");
    QVERIFY(upper && lower);
    QVERIFY(upper->indexOf(child<QLabel>(dialog, "label_6")) >= 0);
    for (const char* name : { "label_4", "label", "label_3", "label_2", "label_5" }) {
        auto* label = child<QLabel>(dialog, name);
        QVERIFY2(label, name);
        QVERIFY2(lower->indexOf(label) >= 0, name);
    }

    auto* version = child<QLabel>(dialog, "label_4");
    QCOMPARE(version->text(), QStringLiteral("版本号:  1.0.0"));
    QCOMPARE(version->font().pointSize(), 12);
    QVERIFY(version->font().bold());
    QVERIFY(child<QLabel>(dialog, "label_5")->text().isEmpty());

    auto* box = child<QDialogButtonBox>(dialog, "bb_ok");
    QVERIFY(box);
    QCOMPARE(box->orientation(), Qt::Horizontal);
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->standardButtons(), QDialogButtonBox::StandardButtons(QDialogButtonBox::Ok));
}

void TestAbout::contactLinesNameNobody()
{
    myabout dialog(nullptr);
    const QRegularExpression phoneNumber(QStringLiteral("\\d{5,}|\\d{3,4}-\\d{6,}"));
    for (const char* name : { "label", "label_3", "label_2" }) {
        const QString text = child<QLabel>(dialog, name)->text();
        QVERIFY2(!text.isEmpty(), name);
        QVERIFY2(!text.contains(phoneNumber), qPrintable(text));
        QVERIFY2(!text.contains(QLatin1Char('@')), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("www"), Qt::CaseInsensitive), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("http"), Qt::CaseInsensitive), qPrintable(text));
    }
    QVERIFY(child<QLabel>(dialog, "label")->text().contains(QStringLiteral("电话")));
    QVERIFY(child<QLabel>(dialog, "label_3")->text().contains(QStringLiteral("邮箱")));
    QVERIFY(child<QLabel>(dialog, "label_2")->text().contains(QStringLiteral("网址")));
}

void TestAbout::bannerIsTheResourceImage()
{
    myabout dialog(nullptr);
    auto* banner = child<QLabel>(dialog, "label_6");
    const QPixmap pixmap = banner->pixmap(Qt::ReturnByValue);
    QVERIFY(!pixmap.isNull());
    QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_ARGB32),
             QImage(QStringLiteral(":/data/about.PNG")).convertToFormat(QImage::Format_ARGB32));
    QVERIFY(banner->hasScaledContents());
    QCOMPARE(banner->alignment(), Qt::AlignCenter);
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

void TestAbout::okEndsExecAccepted()
{
    QWidget owner;
    myabout dialog(&owner);
    clickOkSoon();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());

    // The main window runs the same dialog again and again.
    clickOkSoon();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
}

void TestAbout::okClosesAModelessDialog()
{
    myabout dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    child<QDialogButtonBox>(dialog, "bb_ok")->button(QDialogButtonBox::Ok)->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestAbout::escapeRejects()
{
    myabout dialog(nullptr);
    QTimer::singleShot(0, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            QTest::keyClick(modal, Qt::Key_Escape);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
