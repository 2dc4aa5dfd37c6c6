#pragma once

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRgb>
#include <QSize>
#include <QString>

#include <optional>

#include "session/cutsession.h"
#include "session/project.h"
#include "session/toolsettings.h"
#include "isolation/markers.h"

// peltrix-cut's run of one cut session, forward from the picture to the export, with the
// stage times on standard error and the intermediate pictures in the dump folder.

struct CutOptions
{
    QString picture;
    QString dumpFolder; // empty: no dump
    bool time = false;

    QList<MarkerDab> drawingOrder; // from --markers
    QImage markerPicture;          // from --marker-image
    IsolationMethod method = ToolSettings::defaults().isolation;
    QImage trimap;                 // from --trimap, in place of the two above
    // The window's defaults, not whatever the user last chose there.
    bool smooth = ToolSettings::defaults().smoothEdges;
    int gaussSize = ToolSettings::defaults().gaussSize;
    bool refine = ToolSettings::defaults().refineEdges;

    QString outputPath; // empty: no export
    std::optional<QSize> exportSize;
    QRgb backgroundColour = CutSession::defaultBackgroundColour;
    QImage backgroundPicture; // null: the colour
    double backgroundZoom = 1.0;
    QPoint offset;
    BrushEdits edits; // from a project: the cut-out's alpha where the brushes changed it

    // Without markers or an export only the colour analysis runs.
    bool cutting = false;
};

// Returns false with the reason in `error`.
bool runCut(const CutOptions &options, QString &error);
