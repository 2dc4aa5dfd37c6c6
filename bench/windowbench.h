#pragma once

#include <QApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include "testsupport.h"

// The application of a benchmark that drives the main window: offscreen unless another
// platform is asked for, its settings in a folder of its own, and without the stages'
// diagnostic lines, which would swamp the figures.
class WindowBenchApplication
{
public:
    WindowBenchApplication(int &argc, char **argv)
        : prepared(prepare(scratch))
        , app(argc, argv)
    {
        isolateSettings();
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    }

    // A file in the benchmark's own temporary folder, gone when the benchmark ends.
    QString scratchFile(const QString &name) const { return scratch.filePath(name); }

private:
    static bool prepare(const QTemporaryDir &scratch)
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.filePath(QStringLiteral("settings"))));
    }

    QTemporaryDir scratch;
    bool prepared;
    QApplication app;
};
