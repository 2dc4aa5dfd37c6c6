#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "gui/mainwindow.h"

namespace {

// The user's languages in order of preference, up to English: the program's own texts are
// English, so a language the user ranks below it is not wanted.
QList<QLocale> wantedLocales()
{
    QList<QLocale> wanted;
    for (const QString &name : QLocale::system().uiLanguages()) {
        const QLocale locale(name);
        if (locale.language() == QLocale::English)
            break;
        wanted << locale;
    }
    return wanted;
}

// Loads the first translation named prefix + "_" + a wanted language found in the folders,
// trying the languages in order and each in every folder. Nothing found leaves the English
// texts in force, without a message.
void installTranslation(QTranslator &translator, const QString &prefix, const QStringList &folders)
{
    for (const QLocale &locale : wantedLocales()) {
        for (const QString &folder : folders) {
            if (translator.load(locale, prefix, QStringLiteral("_"), folder)) {
                QCoreApplication::installTranslator(&translator);
                return;
            }
        }
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Peltrix Pro 2.8"));
    QCoreApplication::setOrganizationName(QStringLiteral("Trevalon software"));
    // Lets Wayland desktops find the installed launcher and its icon for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.peltrix.PeltrixPro"));

    // Qt 6's qt_ file only lists module files, and not for every language; the texts of the
    // toolkit's own dialogs are in qtbase_.
    const QStringList qtFolder{QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    QTranslator qtTranslator;
    installTranslation(qtTranslator, QStringLiteral("qt"), qtFolder);
    QTranslator qtBaseTranslator;
    installTranslation(qtBaseTranslator, QStringLiteral("qtbase"), qtFolder);

    // Beside the program in a build folder, in the data folder once installed.
    const QString programFolder = QCoreApplication::applicationDirPath();
    QTranslator appTranslator;
    installTranslation(appTranslator, QStringLiteral("peltrix"),
                       {programFolder, programFolder + QStringLiteral("/" PELTRIX_INSTALLED_TRANSLATIONS)});

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "Cuts an object out of a photograph. Opens PHOTO if one is given."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("PHOTO"),
                                 QCoreApplication::translate("main", "The photo, or a project (.peltrix), to open (the first of several)."));
    parser.process(app);

    MainWindow window;
    QObject::connect(&window, &MainWindow::mwquit, &app, &QCoreApplication::quit);
    window.show();
    window.openFiles(parser.positionalArguments());
    window.offerRecovery();
    return app.exec();
}
