// Makes the sample screenshots of the help document: drives the real main window offscreen
// through a session on a sample photo and grabs the window after each illustrated step.
//
//   peltrix-helpshots OUTDIR [--readme FILE] [--language de --translations FOLDER]
//
// Needs the photos of Debian's mate-backgrounds package. With --language the program speaks
// that language (its peltrix_<language>.qm from FOLDER, Qt's own from Qt's folder), as the
// help of that language shows it: resources/help/<language>/.
#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QCommandLineParser>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGraphicsView>
#include <QLibraryInfo>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <functional>

#include "gui/mainwindow.h"
#include "gui/backgrounddialog.h"

namespace {

const QString photoFolder = QStringLiteral("/usr/share/backgrounds/mate/nature/");

// Where the ladybird sits on the 2560 x 1600 photo: the view is centred there.
const QPointF ladybird(1800, 830);

// Runs `fn` on the next modal widget of type T once it is up; polled from the event loop, so
// it works from inside the modal run that the triggering call starts.
template <typename T>
void whenModal(std::function<void(T *)> fn, int delayMs = 0)
{
    QTimer::singleShot(delayMs, [fn]() {
        if (auto *widget = qobject_cast<T *>(QApplication::activeModalWidget()))
            fn(widget);
        else
            whenModal<T>(fn, 20);
    });
}

void answerFileDialog(const QString &path)
{
    whenModal<QFileDialog>([path](QFileDialog *dialog) {
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
}

class Session
{
public:
    Session(MainWindow &window, const QString &outDir)
        : window(window), outDir(outDir)
    {
        view = window.findChild<QGraphicsView *>(QStringLiteral("graphicsView"));
    }

    bool ready() const { return view; }

    QAction *action(const char *name) const
    {
        QAction *found = window.findChild<QAction *>(QLatin1String(name));
        if (!found)
            std::fprintf(stderr, "no action %s\n", name);
        return found;
    }

    // A drag along the scene points, one mouse move every few screen pixels so that every
    // dab of the stroke lands.
    void stroke(const QList<QPointF> &points)
    {
        QWidget *port = view->viewport();
        QPoint last = view->mapFromScene(points.first());
        QTest::mouseMove(port, last + QPoint(1, 0)); // a cursor already there sends nothing
        QTest::mouseMove(port, last);
        QTest::mousePress(port, Qt::LeftButton, {}, last);
        for (int i = 1; i < points.size(); ++i) {
            const QPoint to = view->mapFromScene(points[i]);
            const QPoint step = to - last;
            const int steps = std::max(1, step.manhattanLength() / 3);
            for (int s = 1; s <= steps; ++s)
                QTest::mouseMove(port, last + step * s / steps);
            last = to;
        }
        QTest::mouseRelease(port, Qt::LeftButton, {}, last);
        settle();
    }

    void centre(QPointF at)
    {
        view->centerOn(at);
        settle();
    }

    QImage grab()
    {
        settle();
        return window.grab().toImage().convertToFormat(QImage::Format_RGB888);
    }

    bool shoot(const QString &name, int width = 360)
    {
        const QImage shot = grab().scaledToWidth(width, Qt::SmoothTransformation);
        const QString path = QDir(outDir).filePath(name);
        // The smallest files (zlib level 9): they are compiled into the program.
        if (!shot.save(path, "png", 0)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s %dx%d\n", qPrintable(path), shot.width(), shot.height());
        return true;
    }

    void chooseBackground(std::function<void(BackgroundDialog *)> fill)
    {
        whenModal<BackgroundDialog>([fill](BackgroundDialog *dialog) {
            fill(dialog);
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        action("actionSelect_Background")->trigger();
        settle();
    }

    MainWindow &window;
    QString outDir;
    QGraphicsView *view = nullptr;
};

void clickChild(QWidget *parent, const char *name)
{
    auto *button = parent->findChild<QAbstractButton *>(QLatin1String(name));
    if (button)
        QTest::mouseClick(button, Qt::LeftButton);
    else
        std::fprintf(stderr, "no button %s\n", name);
}

int run(const QString &outDir, const QString &readme)
{
    MainWindow window;
    window.resize(900, 640);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    Session s(window, outDir);
    if (!s.ready())
        return 1;

    answerFileDialog(photoFolder + QStringLiteral("LadyBird.jpg"));
    s.action("actionOpen")->trigger();
    settle();
    for (int i = 0; i < 5; ++i)
        s.action("actionZoom_In")->trigger();
    s.centre(ladybird);

    // 1. A few keep lines inside the ladybird, clear of its edge.
    s.action("actionKeep_arker")->trigger();
    s.stroke({{1735, 775}, {1800, 760}, {1865, 778}});
    s.stroke({{1710, 830}, {1800, 820}, {1890, 830}});
    s.stroke({{1800, 745}, {1800, 800}, {1795, 870}});
    if (!s.shoot(QStringLiteral("peltsmp02.png")))
        return 1;

    // 2. Remove strokes on the grass, the stalk and the blurred flowers around it.
    s.action("action_Remove_Marker")->trigger();
    s.stroke({{1600, 700}, {1700, 650}, {1900, 650}, {2000, 720}});
    s.stroke({{1570, 830}, {1640, 860}, {1700, 890}});
    s.stroke({{1935, 895}, {1990, 940}, {2060, 990}});
    s.stroke({{1960, 730}, {1950, 790}, {1948, 840}, {1935, 880}});
    s.stroke({{1620, 960}, {1720, 1010}, {1880, 1030}});
    if (!s.shoot(QStringLiteral("peltsmp03.png")))
        return 1;

    // 3. The mask over the photo.
    s.action("actionMask")->trigger();
    if (!s.shoot(QStringLiteral("peltsmp04.png")))
        return 1;

    // 4. The preview over the chessboard of the default transparent white.
    s.action("actionPreview")->trigger();
    s.centre(ladybird);
    if (!s.shoot(QStringLiteral("peltsmp06.png")))
        return 1;

    // 6. A colour background.
    s.chooseBackground([](BackgroundDialog *dialog) {
        clickChild(dialog, "colorradioButton");
        whenModal<QColorDialog>([](QColorDialog *colours) {
            colours->setCurrentColor(QColor(140, 200, 240));
            colours->accept();
        });
        clickChild(dialog, "pushButton");
    });
    s.centre(ladybird);
    if (!s.shoot(QStringLiteral("peltsmp07.png")))
        return 1;

    // 7. A picture background, the object moved onto it with the hand tool.
    const QString picture = photoFolder + QStringLiteral("Dune.jpg");
    s.chooseBackground([picture](BackgroundDialog *dialog) {
        clickChild(dialog, "pictureradioButton");
        answerFileDialog(picture);
        clickChild(dialog, "pushButton_2");
    });
    s.action("actionZoom_Out")->trigger();
    s.action("actionZoom_Out")->trigger();
    s.centre(ladybird);
    s.action("actionHandTool")->trigger();
    s.stroke({ladybird, ladybird + QPointF(-250, 120)});
    s.centre(ladybird + QPointF(-150, 60));
    if (!s.shoot(QStringLiteral("peltsmp08.png")))
        return 1;

    if (!readme.isEmpty()) {
        const QImage full = s.grab();
        if (!full.save(readme, "png", 0)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(readme));
            return 1;
        }
        std::printf("%s %dx%d\n", qPrintable(readme), full.width(), full.height());
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own dialogs, which the session can fill in, whatever the platform.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Peltrix Pro 2.8"));
    QCoreApplication::setOrganizationName(QStringLiteral("Trevalon software"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes the help document's screenshots."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("outdir"), QStringLiteral("Folder for peltsmp*.png"));
    const QCommandLineOption readmeOption(QStringLiteral("readme"),
                                          QStringLiteral("Also write a full-size window shot."),
                                          QStringLiteral("file"));
    const QCommandLineOption languageOption(QStringLiteral("language"),
                                            QStringLiteral("The program's language, for example de."),
                                            QStringLiteral("language"));
    const QCommandLineOption translationsOption(
        QStringLiteral("translations"), QStringLiteral("The folder with peltrix_<language>.qm (a build's app/)."),
        QStringLiteral("folder"));
    parser.addOptions({readmeOption, languageOption, translationsOption});
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    QTranslator qtTranslator;
    QTranslator programTranslator;
    if (parser.isSet(languageOption)) {
        const QLocale locale(parser.value(languageOption));
        QLocale::setDefault(locale);
        if (!programTranslator.load(locale, QStringLiteral("peltrix"), QStringLiteral("_"), parser.value(translationsOption))) {
            std::fprintf(stderr, "no peltrix_%s.qm in %s\n", qPrintable(parser.value(languageOption)),
                         qPrintable(parser.value(translationsOption)));
            return 1;
        }
        if (qtTranslator.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtTranslator);
        QCoreApplication::installTranslator(&programTranslator);
    }

    // The session's settings and the file dialogs' history stay out of the user's store.
    QTemporaryDir settingsDir;
    if (!settingsDir.isValid())
        return 1;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    // So do the window's recovery files.
    qputenv("XDG_DATA_HOME", QFile::encodeName(settingsDir.filePath(QStringLiteral("data"))));

    return run(parser.positionalArguments().first(), parser.value(readmeOption));
}
