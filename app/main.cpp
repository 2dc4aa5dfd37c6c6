#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/mainwindow.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Peltrix Pro 2.8"));
    QCoreApplication::setOrganizationName(QStringLiteral("Trevalon software"));

    // A missing translation leaves the English texts in force.
    QTranslator qtTranslator;
    (void)qtTranslator.load(QStringLiteral("qt_") + QLocale::system().name(),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    app.installTranslator(&qtTranslator);

    QTranslator appTranslator;
    (void)appTranslator.load(QCoreApplication::applicationDirPath() + QStringLiteral("/peltrix_")
                             + QLocale::system().name());
    app.installTranslator(&appTranslator);

    MainWindow window;
    QObject::connect(&window, &MainWindow::mwquit, &app, &QCoreApplication::quit);
    window.show();
    return app.exec();
}
