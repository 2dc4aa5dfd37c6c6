#include "session/toolsettings.h"

#include <QSettings>

QVariant settingValue(const QSettings &store, const SettingKey &key, ToolSettings::Defaults defaults)
{
    // Defaults go to the store as strings and are converted like stored values.
    const char *fallback = defaults == ToolSettings::WindowDefaults ? key.windowDefault : key.dialogDefault;
    return store.value(QLatin1String(key.name), QLatin1String(fallback));
}

void writeSetting(QSettings &store, const SettingKey &key, const QVariant &value)
{
    store.setValue(QLatin1String(key.name), value);
}

namespace {

template <typename Lookup>
ToolSettings convert(const Lookup &value)
{
    using namespace SettingKeys;
    const auto integer = [&](const SettingKey &key) { return value(key).toInt(); };
    const auto boolean = [&](const SettingKey &key) { return value(key).toBool(); };
    ToolSettings s;
    s.keepMarkerSize = integer(KeepMarkerSize);
    s.removeMarkerSize = integer(RemoveMarkerSize);
    s.keepBrushSize = integer(KeepBrushSize);
    s.removeBrushSize = integer(RemoveBrushSize);
    s.eraserSize = integer(EraserSize);
    s.blueMarkerSize = integer(BlueMarkerSize);
    s.edgeMarkerSize = integer(EdgeMarkerSize);
    s.maskOpacity = value(MaskOpacity).toDouble();
    s.keepBrushIntensity = integer(KeepBrushIntensity);
    s.removeBrushIntensity = integer(RemoveBrushIntensity);
    s.smoothEdges = boolean(SmoothEdges);
    s.refineEdges = boolean(RefineEdges);
    s.gaussSize = integer(GaussSize);
    s.sameSize = boolean(SameSize);
    s.undoStrokes = boolean(UndoStrokes);
    s.fillStrokes = boolean(FillStrokes);
    s.isolation = isolationMethodFromName(value(Isolation).toString()).value_or(IsolationMethod::ColourClusters);
    return s;
}

} // namespace

ToolSettings ToolSettings::read(const QSettings &store, Defaults defaults)
{
    return convert([&](const SettingKey &key) { return settingValue(store, key, defaults); });
}

ToolSettings ToolSettings::defaults(Defaults defaults)
{
    return convert([&](const SettingKey &key) {
        return QVariant(QLatin1String(defaults == WindowDefaults ? key.windowDefault : key.dialogDefault));
    });
}

void ToolSettings::write(QSettings &store) const
{
    using namespace SettingKeys;
    writeSetting(store, SameSize, sameSize);
    writeSetting(store, SmoothEdges, smoothEdges);
    writeSetting(store, RefineEdges, refineEdges);
    writeSetting(store, KeepMarkerSize, keepMarkerSize);
    writeSetting(store, RemoveMarkerSize, removeMarkerSize);
    writeSetting(store, KeepBrushSize, keepBrushSize);
    writeSetting(store, RemoveBrushSize, removeBrushSize);
    writeSetting(store, EraserSize, eraserSize);
    writeSetting(store, EdgeMarkerSize, edgeMarkerSize);
    writeSetting(store, MaskOpacity, maskOpacity);
    writeSetting(store, KeepBrushIntensity, keepBrushIntensity);
    writeSetting(store, RemoveBrushIntensity, removeBrushIntensity);
    writeSetting(store, BlueMarkerSize, blueMarkerSize);
    writeSetting(store, GaussSize, gaussSize);
    writeSetting(store, UndoStrokes, undoStrokes);
    writeSetting(store, FillStrokes, fillStrokes);
    writeSetting(store, Isolation, isolationMethodName(isolation));
}

ToolSettings ToolSettings::inBytes() const
{
    ToolSettings s = *this;
    for (int *value : {&s.keepMarkerSize, &s.removeMarkerSize, &s.keepBrushSize, &s.removeBrushSize,
                       &s.eraserSize, &s.blueMarkerSize, &s.edgeMarkerSize, &s.keepBrushIntensity,
                       &s.removeBrushIntensity})
        *value = quint8(*value);
    return s;
}

QString currentDir(const QSettings &store)
{
    return settingValue(store, SettingKeys::CurrentDir).toString();
}

void setCurrentDir(QSettings &store, const QString &folder)
{
    writeSetting(store, SettingKeys::CurrentDir, folder);
}
