#pragma once

#include <QString>
#include <QtGlobal>

#include "isolation/isolation.h"

class QSettings;
class QVariant;

// One persistent option: its key, and the default that the window and the Preferences
// dialog each assume while the key is absent. The two differ only for the brush
// intensities: the window starts strong, the dialog offers gentle values.
struct SettingKey
{
    const char *name;
    const char *windowDefault;
    const char *dialogDefault;
};

namespace SettingKeys {
inline constexpr SettingKey KeepMarkerSize{"KEEPMSIZE", "10", "10"};
inline constexpr SettingKey RemoveMarkerSize{"REMOVEMSIZE", "10", "10"};
inline constexpr SettingKey KeepBrushSize{"KEEPBSIZE", "10", "10"};
inline constexpr SettingKey RemoveBrushSize{"REMOVEBSIZE", "10", "10"};
inline constexpr SettingKey EraserSize{"ERASERMSIZE", "10", "10"};
inline constexpr SettingKey BlueMarkerSize{"BLUEMSIZE", "10", "10"};
inline constexpr SettingKey EdgeMarkerSize{"EDGEMSIZE", "10", "10"};
inline constexpr SettingKey MaskOpacity{"MOPACITY", "0.6", "0.6"};
inline constexpr SettingKey KeepBrushIntensity{"KEEPBINTEN", "150", "50"};
inline constexpr SettingKey RemoveBrushIntensity{"REMOVEBINTEN", "100", "20"};
inline constexpr SettingKey SmoothEdges{"SMOOTHEDGESCHECKED", "true", "true"};
inline constexpr SettingKey RefineEdges{"REFINEEDGES", "false", "false"};
inline constexpr SettingKey GaussSize{"GOUSSIZE", "5", "5"};
inline constexpr SettingKey SameSize{"SAMESIZECHECKED", "false", "false"};
inline constexpr SettingKey UndoStrokes{"UNDOSTROKES", "false", "false"};
inline constexpr SettingKey FillStrokes{"FILLSTROKES", "false", "false"};
inline constexpr SettingKey CurrentDir{"CurrDir", "", ""};
// Kept by the window itself, not by Preferences.
inline constexpr SettingKey LiveMask{"LIVEMASK", "false", "false"};
inline constexpr SettingKey RecentFiles{"RECENTFILES", "", ""};
inline constexpr SettingKey WindowGeometry{"WINDOWGEOMETRY", "", ""};
inline constexpr SettingKey WindowState{"WINDOWSTATE", "", ""};
// "clusters" or "precise" (isolationMethodName); anything else reads as "clusters".
inline constexpr SettingKey Isolation{"ISOLATION", "clusters", "clusters"};
} // namespace SettingKeys

// The persistent options as plain values, converted the way the store converts them: a
// missing key gives its default, a value that does not convert gives 0 or false. Sizes and
// intensities are kept as read; the window uses their low 8 bits.
struct ToolSettings
{
    enum Defaults { WindowDefaults, DialogDefaults };

    int keepMarkerSize = 0;
    int removeMarkerSize = 0;
    int keepBrushSize = 0;
    int removeBrushSize = 0;
    int eraserSize = 0;
    int blueMarkerSize = 0;
    int edgeMarkerSize = 0;
    double maskOpacity = 0.0;
    int keepBrushIntensity = 0;
    int removeBrushIntensity = 0;
    bool smoothEdges = false;
    bool refineEdges = false;
    int gaussSize = 0;
    bool sameSize = false;
    bool undoStrokes = false; // one undo step per stroke instead of per dab or batch
    bool fillStrokes = false; // dabs placed between the mouse positions of a stroke
    IsolationMethod isolation = IsolationMethod::ColourClusters;

    static ToolSettings read(const QSettings &store, Defaults defaults = WindowDefaults);
    // What read() gives on an empty store.
    static ToolSettings defaults(Defaults defaults = WindowDefaults);
    // Writes every option (what OK in Preferences does).
    void write(QSettings &store) const;
    // The values as the tools keep them: sizes and intensities in 8 bits (a stored 300 is 44).
    ToolSettings inBytes() const;

    // The size each canvas tool uses: with "same size" set, the keep marker's size for all.
    quint8 viewRemoveMarkerSize() const { return quint8(sameSize ? keepMarkerSize : removeMarkerSize); }
    quint8 viewKeepBrushSize() const { return quint8(sameSize ? keepMarkerSize : keepBrushSize); }
    quint8 viewRemoveBrushSize() const { return quint8(sameSize ? keepMarkerSize : removeBrushSize); }
    quint8 viewEraserSize() const { return quint8(sameSize ? keepMarkerSize : eraserSize); }
    quint8 viewEdgeMarkerSize() const { return quint8(sameSize ? keepMarkerSize : edgeMarkerSize); }
};

// The largest smoothing kernel, in Preferences and in peltrix-cut alike.
inline constexpr int largestGaussSize = 99;

// The value of one key, with the given default while it is absent.
QVariant settingValue(const QSettings &store, const SettingKey &key,
                      ToolSettings::Defaults defaults = ToolSettings::WindowDefaults);
void writeSetting(QSettings &store, const SettingKey &key, const QVariant &value);

// Where the open and export file dialogs start.
QString currentDir(const QSettings &store);
void setCurrentDir(QSettings &store, const QString &folder);
