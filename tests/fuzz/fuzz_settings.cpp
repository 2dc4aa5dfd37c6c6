// Settings values of any type under every key, as a hand-edited store or a stray program
// might leave them: read by the program's settings code, shown by Preferences and used by
// the window's tools, mask, matte and brushes.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>

#include "gui/optionsdialog.h"
#include "session/recentfiles.h"
#include "fuzzsupport.h"
#include "mainwindowprobe.h"

namespace {

const SettingKey *const allKeys[] = {
    &SettingKeys::KeepMarkerSize, &SettingKeys::RemoveMarkerSize, &SettingKeys::KeepBrushSize,
    &SettingKeys::RemoveBrushSize, &SettingKeys::EraserSize, &SettingKeys::BlueMarkerSize,
    &SettingKeys::MaskOpacity, &SettingKeys::KeepBrushIntensity, &SettingKeys::RemoveBrushIntensity,
    &SettingKeys::SmoothEdges, &SettingKeys::RefineEdges, &SettingKeys::GaussSize,
    &SettingKeys::SameSize, &SettingKeys::UndoStrokes, &SettingKeys::FillStrokes, &SettingKeys::CurrentDir,
    &SettingKeys::RecentFiles, &SettingKeys::WindowGeometry, &SettingKeys::WindowState};

struct Harness
{
    QTemporaryDir folder;
    MainWindow window;
    MainWindowProbe probe{window};
};

Harness *harness = nullptr;

QString fuzzString(FuzzedDataProvider &input)
{
    const std::string bytes = input.ConsumeRandomLengthString(64);
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

QVariant fuzzValue(FuzzedDataProvider &input)
{
    switch (input.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: return fuzzString(input);
    case 1: return input.ConsumeIntegral<int>();
    case 2: return input.ConsumeIntegral<qint64>();
    case 3: return input.ConsumeFloatingPoint<double>();
    case 4: return std::nan("");
    case 5: return input.ConsumeBool();
    case 6: return QByteArray::fromStdString(input.ConsumeRandomLengthString(64));
    case 7: return QStringList{fuzzString(input), fuzzString(input)};
    case 8: return QSize(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>());
    case 9: // from corners: a width and height would overflow in the constructor
        return QRect(QPoint(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>()),
                     QPoint(input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>()));
    case 10: return QVariantMap{{fuzzString(input), fuzzString(input)}};
    default: return QVariant();
    }
}

// Either the bytes of a settings file, read back by the store's own parser, or typed values.
void fillStore(FuzzedDataProvider &input, QSettings &store)
{
    store.clear();
    if (input.ConsumeBool()) {
        // A new name each time: the store caches files by name.
        static int generation = 0;
        const QString path = harness->folder.filePath(QStringLiteral("store-%1.conf").arg(generation++ % 64));
        QFile::remove(path);
        {
            QFile file(path);
            require(file.open(QIODevice::WriteOnly), "the settings file can be written");
            const std::string text = input.ConsumeRemainingBytesAsString();
            file.write(text.data(), qint64(text.size()));
        }
        const QSettings file(path, QSettings::IniFormat);
        for (const QString &key : file.allKeys())
            store.setValue(key, file.value(key));
        return;
    }
    while (input.remaining_bytes() > 0) {
        const int which = input.ConsumeIntegralInRange<int>(0, int(std::size(allKeys)));
        const QString key = which < int(std::size(allKeys)) ? QLatin1String(allKeys[which]->name)
                                                            : fuzzString(input);
        store.setValue(key, fuzzValue(input));
    }
}

void checkPreferences(QSettings &store)
{
    {
        OptionsDialog dialog(&store);
        QMetaObject::invokeMethod(&dialog, "on_buttonBox_accepted");
    }
    // Whatever the store held, OK writes values inside the dialog's ranges.
    const ToolSettings s = ToolSettings::read(store, ToolSettings::DialogDefaults);
    for (int size : {s.keepMarkerSize, s.removeMarkerSize, s.keepBrushSize, s.removeBrushSize,
                     s.eraserSize, s.blueMarkerSize})
        require(size >= 0 && size <= 99, "Preferences writes sizes from 0 to 99");
    require(s.keepBrushIntensity >= 0 && s.keepBrushIntensity <= 254
                && s.removeBrushIntensity >= 0 && s.removeBrushIntensity <= 254,
            "Preferences writes intensities from 0 to 254");
    require(s.gaussSize >= 1 && s.gaussSize <= largestGaussSize, "Preferences writes a smoothing size from 1 to 99");
    require(s.maskOpacity >= 0.0 && s.maskOpacity <= 1.0, "Preferences writes an opacity from 0 to 1");
}

void useTools(MainWindowProbe &probe)
{
    probe.readToolParameters();
    const ToolSettings &tools = probe.tools();
    for (int value : {tools.keepMarkerSize, tools.removeMarkerSize, tools.keepBrushSize,
                      tools.removeBrushSize, tools.eraserSize, tools.keepBrushIntensity,
                      tools.removeBrushIntensity})
        require(value >= 0 && value <= 255, "the window keeps sizes and intensities in bytes");

    // The File menu lists what the store holds as recent files, at most 8 of them.
    emit probe.menu("menuFile")->aboutToShow();
    require(probe.menu("menuRecent")->actions().size() <= RecentFiles::limit, "at most 8 recent files");

    OvoGraphicsView *view = probe.view();
    for (int tool : {ToolEraser, ToolKeepMarker, ToolRemoveMarker, ToolForegroundBrush,
                     ToolBackgroundBrush, ToolHand, ToolNone})
        view->setTool(tool);
    (void)view->toolRect(QPoint(10, 10), tools.viewEraserSize());

    // Marker sizes step in the editing scene, then the mask shows at the stored opacity.
    probe.action("actionKeep_arker")->setChecked(true);
    probe.action("actionIncreaseToolSize")->trigger();
    probe.action("actionDecreaseToolSoze")->trigger();
    probe.action("actionMask")->trigger();

    // The preview builds the matte with the stored smoothing; the brushes use the intensities.
    probe.action("actionPreview")->setChecked(true);
    for (const char *brush : {"actionForeground_Brush", "actionBackground_Brush"}) {
        probe.action(brush)->setChecked(true);
        probe.action("actionIncreaseBrushIntensity")->trigger();
        probe.action("actionIncreaseToolSize")->trigger();
        probe.brushRects() = {QRect(5, 5, 9, 9), QRect(30, 12, 12, 12)};
        QMetaObject::invokeMethod(&harness->window, "on_ProcessBrushMouseEvent");
        probe.skipTimer().stop();
    }
    probe.action("actionPreview")->setChecked(false);
    probe.undoStack().clear();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QTemporaryDir settingsHome;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settingsHome.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(settingsHome.filePath(QStringLiteral("data"))));
    static QApplication app(*argc, *argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Trevalon software"));
    QCoreApplication::setApplicationName(QStringLiteral("Peltrix Pro 2.8"));
    prepareFuzzing();

    harness = new Harness;
    QImage photo(48, 32, QImage::Format_ARGB32);
    QRandomGenerator noise(7);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(int(noise.bounded(256)), 120, x * 5));
    const QString path = harness->folder.filePath(QStringLiteral("photo.png"));
    photo.save(path);
    harness->window.resize(400, 300);
    harness->window.show();
    require(harness->probe.load(path), "the fuzzers' photo opens");
    // A few dabs, so that the mask and the preview have something to isolate.
    MarkerLayer &markers = harness->probe.markers();
    markers.add({true, QRectF(20, 14, 5, 5)});
    markers.add({false, QRectF(3, 3, 4, 4)});
    markers.add({false, QRectF(40, 25, 4, 4)});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    QSettings &store = harness->probe.settings();
    fillStore(input, store);

    for (auto defaults : {ToolSettings::WindowDefaults, ToolSettings::DialogDefaults}) {
        const ToolSettings read = ToolSettings::read(store, defaults);
        const ToolSettings bytes = read.inBytes();
        require(bytes.keepMarkerSize >= 0 && bytes.keepMarkerSize <= 255, "inBytes keeps a byte");
    }
    (void)currentDir(store);
    useTools(harness->probe);
    checkPreferences(store);
    useTools(harness->probe);
    return 0;
}
