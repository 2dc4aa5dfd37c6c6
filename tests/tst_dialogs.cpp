#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTranslator>
#include <QtTest>

#include "gui/backgrounddialog.h"
#include "gui/helpdialog.h"
#include "mainwindowprobe.h"
#include "modals.h"
#include "gui/exportdialog.h"
#include "testsupport.h"

namespace {

constexpr QRgb earlierColour = 0x11223344;
const QPoint movedObject(7, 3);

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void exportDialogStartsFromPicture_data();
    void exportDialogStartsFromPicture();
    void exportDialogAspectRatio();
    void exportDialogFileChoice();

    void backgroundChoice_data();
    void backgroundChoice();

    void helpWindowsAreIndependent();
    void helpDocument_data();
    void helpDocument();
    void aboutBox();

private:
    QTemporaryDir dir;
    QString picturePath;
    QString brokenPath; // named like a picture, but not one
    QSettings *settings = nullptr; // an ini file of its own, made after isolateSettings()
};

void TestDialogs::initTestCase()
{
    isolateSettings();
    QVERIFY(dir.isValid());
    picturePath = dir.filePath(QStringLiteral("backdrop.png"));
    QImage picture(12, 8, QImage::Format_ARGB32);
    picture.fill(qRgb(10, 200, 30));
    QVERIFY(picture.save(picturePath));
    brokenPath = dir.filePath(QStringLiteral("broken.png"));
    QFile broken(brokenPath);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    settings = new QSettings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat, this);
}

void TestDialogs::exportDialogStartsFromPicture_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<int>("newWidth");
    QTest::addColumn<int>("followingHeight");

    QTest::newRow("landscape") << QSize(300, 200) << QSize(300, 200) << 7 << 4; // 4.67
    QTest::newRow("wide") << QSize(12000, 3000) << QSize(9999, 3000) << 8000 << 2000;
    QTest::newRow("tall") << QSize(2000, 40000) << QSize(2000, 9999) << 1000 << 9999;
    QTest::newRow("huge") << QSize(20000, 20000) << QSize(9999, 9999) << 50 << 50;
}

void TestDialogs::exportDialogStartsFromPicture()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, shown);
    QFETCH(int, newWidth);
    QFETCH(int, followingHeight);

    ExportDialog dialog(picture.width(), picture.height(), settings);
    auto *width = dialog.findChild<QSpinBox *>(QStringLiteral("spinBox"));
    auto *height = dialog.findChild<QSpinBox *>(QStringLiteral("spinBox_2"));
    QCOMPARE(QSize(width->value(), height->value()), shown);
    QVERIFY(!height->isEnabled());
    QVERIFY(!dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->isEnabled());

    width->setValue(newWidth);
    QCOMPARE(height->value(), followingHeight);
    int w = 0, h = 0;
    QString path = QStringLiteral("unset");
    dialog.values(w, h, path);
    QCOMPARE(QSize(w, h), QSize(newWidth, followingHeight));
    QVERIFY(path.isEmpty());
}

void TestDialogs::exportDialogAspectRatio()
{
    ExportDialog dialog(300, 200, settings);
    auto *width = dialog.findChild<QSpinBox *>(QStringLiteral("spinBox"));
    auto *height = dialog.findChild<QSpinBox *>(QStringLiteral("spinBox_2"));
    auto *keep = dialog.findChild<QCheckBox *>(QStringLiteral("checkBox"));
    QVERIFY(keep->isChecked());

    keep->setChecked(false);
    QVERIFY(height->isEnabled());
    QCOMPARE(height->value(), 200);
    width->setValue(150);
    QCOMPARE(height->value(), 200);
    height->setValue(77);

    keep->setChecked(true);
    QVERIFY(!height->isEnabled());
    QCOMPARE(height->value(), 100);

    // The export's ratio is not the dialog's own height for a width, which layouts ask for.
    const QWidget &widget = dialog;
    QCOMPARE(widget.heightForWidth(600), QDialog().heightForWidth(600));
}

void TestDialogs::exportDialogFileChoice()
{
    settings->setValue(QStringLiteral("CurrDir"), dir.path());
    ExportDialog dialog(30, 20, settings);
    auto *button = dialog.findChild<QPushButton *>(QStringLiteral("pushButton"));
    auto *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    auto *label = dialog.findChild<QLabel *>(QStringLiteral("label_2"));

    QString startedIn;
    whenModal<QFileDialog>([&startedIn](QFileDialog *fileDialog) {
        startedIn = fileDialog->directory().absolutePath();
        QCOMPARE(fileDialog->windowTitle(), QStringLiteral("Save File"));
        QCOMPARE(fileDialog->nameFilters(),
                 QStringList({QStringLiteral("JPEG Files (*.jpg *.jpeg)"), QStringLiteral("PNG Files (*.png)")}));
        fileDialog->reject();
    });
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(startedIn, QDir(dir.path()).absolutePath());
    QVERIFY(!ok->isEnabled());
    QVERIFY(label->text().isEmpty());

    const QString path = dir.filePath(QStringLiteral("chosen.jpg"));
    answerFileDialog(path);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(ok->isEnabled());
    QCOMPARE(label->text(), path);
    QCOMPARE(settings->value(QStringLiteral("CurrDir")).toString(), dir.path()); // not written
}

void TestDialogs::backgroundChoice_data()
{
    QTest::addColumn<QString>("radio");      // empty: Cancel the dialog
    QTest::addColumn<QString>("colourDialog"); // "", "cancel" or #aarrggbb to pick
    QTest::addColumn<QString>("picture");    // "", "cancel", "good" or "bad"
    QTest::addColumn<QString>("label");      // the colour label before OK
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<bool>("hasPicture");
    QTest::addColumn<QPoint>("offset");

    const QPoint home(0, 0);
    QTest::newRow("white") << "whiteradioButton" << "" << "" << "FFFFFFFF" << QRgb(0xFFFFFFFF)
                           << false << home;
    QTest::newRow("transparent") << "transparentradioButton" << "" << "" << "FFFFFFFF"
                                 << QRgb(0x00FFFFFF) << false << home;
    QTest::newRow("colour not chosen") << "colorradioButton" << "" << "" << "FFFFFFFF"
                                       << QRgb(0xFFFFFFFF) << false << home;
    QTest::newRow("colour dialog cancelled") << "colorradioButton" << "cancel" << ""
                                             << "FFFFFFFF" << QRgb(0xFFFFFFFF) << false << home;
    QTest::newRow("opaque red") << "colorradioButton" << "#ffff0000" << "" << "ffff0000"
                                << QRgb(0xFFFF0000) << false << home;
    QTest::newRow("alpha 0") << "colorradioButton" << "#00123456" << "" << "  123456"
                             << QRgb(0x00123456) << false << home;
    QTest::newRow("picture cancelled") << "pictureradioButton" << "" << "cancel" << "FFFFFFFF"
                                       << QRgb(0xFFFFFFFF) << false << home;
    QTest::newRow("picture") << "pictureradioButton" << "" << "good" << "FFFFFFFF"
                             << earlierColour << true << movedObject;
    QTest::newRow("unreadable picture") << "pictureradioButton" << "" << "bad" << "FFFFFFFF"
                                        << earlierColour << false << movedObject;
    QTest::newRow("dialog cancelled") << "" << "" << "" << "FFFFFFFF" << earlierColour << true
                                      << movedObject;
}

void TestDialogs::backgroundChoice()
{
    QFETCH(QString, radio);
    QFETCH(QString, colourDialog);
    QFETCH(QString, picture);
    QFETCH(QString, label);
    QFETCH(QRgb, colour);
    QFETCH(bool, hasPicture);
    QFETCH(QPoint, offset);

    MainWindow window;
    MainWindowProbe probe(window);
    probe.session().setBackgroundColour(earlierColour);
    probe.session().setBackgroundPicture(QImage(3, 3, QImage::Format_ARGB32));
    probe.session().setObjectOffset(movedObject);
    probe.action("actionSelect_Background")->setEnabled(true); // the preview would enable it

    QString pictureFile;
    if (picture == QLatin1String("good"))
        pictureFile = picturePath;
    else if (picture == QLatin1String("bad"))
        pictureFile = brokenPath;

    QString shownLabel;
    whenModal<BackgroundDialog>([=, &shownLabel](BackgroundDialog *dialog) {
        if (radio.isEmpty()) {
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
            return;
        }
        QTest::mouseClick(dialog->findChild<QRadioButton *>(radio), Qt::LeftButton);
        auto *colourButton = dialog->findChild<QPushButton *>(QStringLiteral("pushButton"));
        auto *pictureButton = dialog->findChild<QPushButton *>(QStringLiteral("pushButton_2"));
        QCOMPARE(colourButton->isEnabled(), radio == QLatin1String("colorradioButton"));
        QCOMPARE(pictureButton->isEnabled(), radio == QLatin1String("pictureradioButton"));
        if (!colourDialog.isEmpty()) {
            whenModal<QColorDialog>([colourDialog](QColorDialog *colours) {
                QVERIFY(colours->testOption(QColorDialog::ShowAlphaChannel));
                QCOMPARE(colours->windowTitle(), QStringLiteral("Please select the background color"));
                if (colourDialog == QLatin1String("cancel")) {
                    colours->reject();
                    return;
                }
                colours->setCurrentColor(QColor::fromString(colourDialog));
                colours->accept();
            });
            QTest::mouseClick(colourButton, Qt::LeftButton);
        }
        if (!picture.isEmpty()) {
            answerFileDialog(pictureFile);
            QTest::mouseClick(pictureButton, Qt::LeftButton);
        }
        shownLabel = dialog->findChild<QLabel *>(QStringLiteral("colorlabel"))->text();
        dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    });
    probe.action("actionSelect_Background")->trigger();

    if (!radio.isEmpty())
        QCOMPARE(shownLabel, label);
    QCOMPARE(probe.session().backgroundColour(), colour);
    QCOMPARE(!probe.session().backgroundPicture().isNull(), hasPicture);
    if (picture == QLatin1String("good"))
        QCOMPARE(probe.session().backgroundPicture().size(), QSize(12, 8));
    QCOMPARE(probe.session().objectOffset(), offset);
}

void TestDialogs::helpWindowsAreIndependent()
{
    MainWindow window;
    MainWindowProbe probe(window);
    window.show();
    probe.action("actionIndex")->trigger();
    probe.action("actionIndex")->trigger();
    QVERIFY(!QApplication::activeModalWidget()); // both returned at once

    const QList<HelpDialog *> helps = window.findChildren<HelpDialog *>();
    QCOMPARE(helps.size(), 2);
    for (HelpDialog *help : helps) {
        QVERIFY(help->isVisible());
        QCOMPARE(help->windowTitle(), QStringLiteral("Peltrix Help"));
        QCOMPARE(help->size(), QSize(500, 600));
    }
    helps[0]->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    QVERIFY(!helps[0]->isVisible());
    QVERIFY(helps[1]->isVisible());
    helps[1]->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(!helps[1]->isVisible());
    // A closed help window is gone: each held megabytes, and a long session opens many.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.findChildren<HelpDialog *>().isEmpty());
}

void TestDialogs::helpDocument_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("screenshots");

    QTest::newRow("English") << "en"
                             << QStringList{"Usefull keyboard shortcuts",
                                            "Undo is Ctrl+Z. It works for markers and brushes.",
                                            "Ctrl+Left and Ctrl+Right change the current brush or marker size.",
                                            "Ctrl+Up and Ctrl+Down change the current brush intensity.",
                                            "Ctrl+O and Ctrl+S work for Open/Save.", "Redo is Ctrl+Shift+Z or Ctrl+Y.",
                                            "See also:"}
                             << ":/icons/";
    // The German guide shows the program in German.
    QTest::newRow("German") << "de" << QStringList{"Nützliche Tastenkürzel", "Strg+Umschalt+Z"} << ":/help/de/";
}

void TestDialogs::helpDocument()
{
    QFETCH(QString, language);
    QFETCH(QStringList, lines);
    QFETCH(QString, screenshots);

    QTranslator translation;
    if (language != QLatin1String("en")) {
        QVERIFY(translation.load(QLocale(language), QStringLiteral("peltrix"), QStringLiteral("_"),
                                 QStringLiteral(PELTRIX_PROGRAM_FOLDER)));
        QCoreApplication::installTranslator(&translation);
    }
    HelpDialog help;
    QCoreApplication::removeTranslator(&translation);
    auto *text = help.findChild<QTextEdit *>(QStringLiteral("textEdit"));
    QVERIFY(text->isReadOnly());
    const QString plain = text->toPlainText();
    for (const QString &line : std::as_const(lines))
        QVERIFY2(plain.contains(line), qPrintable(line));

    // Every picture the guide shows must be compiled in.
    const QString html = text->toHtml();
    const QRegularExpression image(QStringLiteral("<img src=\"([^\"]+)\""));
    QStringList sources;
    for (auto it = image.globalMatch(html); it.hasNext();)
        sources << it.next().captured(1);
    QCOMPARE(sources.size(), 17); // 6 screenshots, 11 toolbar icons
    QCOMPARE(sources.filter(QStringLiteral("peltsmp")).size(), 6);
    for (const QString &source : std::as_const(sources)) {
        QVERIFY2(!QImage(source).isNull(), qPrintable(source));
        if (source.contains(QLatin1String("peltsmp")))
            QVERIFY2(source.startsWith(screenshots), qPrintable(source));
    }
}

void TestDialogs::aboutBox()
{
    MainWindow window;
    MainWindowProbe probe(window);
    MessageBoxAnswerer boxes;
    probe.action("actionAbout")->trigger();
    QCOMPARE(boxes.titles, QStringList({QStringLiteral("Peltrix Pro 3.0")}));
    QCOMPARE(boxes.texts.first().count(QLatin1Char('\n')), 1);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
