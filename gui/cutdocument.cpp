#include "gui/cutdocument.h"

#include "gui/brushcommand.h"
#include "gui/cutoutdocument.h"
#include "gui/markercommand.h"
#include "gui/markerlayer.h"

CutDocument::CutDocument(QGraphicsScene &editScene, QObject *parent)
    : QObject(parent)
    , markerLayer(std::make_shared<MarkerLayer>(editScene, cut))
    , cutoutDocument(std::make_shared<CutoutDocument>(cut))
{
    history.setUndoLimit(200);
    cutoutDocument->undoFailed = [this] { emit undoFailed(); };
}

CutDocument::~CutDocument()
{
    // Commands go first, then what they describe; their weak handles make any other order
    // safe too.
    history.clear();
    cutoutDocument->undoFailed = nullptr;
}

bool CutDocument::open(const QString &path, QString *reason)
{
    // Commands describe the old picture's dabs and cut-out.
    history.clear();
    markerLayer->clear();
    // The session drops the old dabs, keep pixels and cut-out whether or not the read works.
    return cut.open(path, reason);
}

void CutDocument::analyse(const std::function<void()> &processEvents)
{
    AnalysisHooks hooks;
    hooks.progress = [this](int value) { emit progress(value); };
    hooks.processEvents = processEvents;
    cut.analyse(hooks);
}

void CutDocument::addDab(const MarkerDab &dab)
{
    history.push(new CMarkerCommand(markerLayer, markerLayer->add(dab)));
}

int CutDocument::eraseIn(const QRectF &area)
{
    return markerLayer->eraseIn(area);
}

void CutDocument::loadStrokes(const QList<MarkerDab> &drawingOrder, const QString &text)
{
    history.push(new CStrokesCommand(markerLayer, drawingOrder, text));
}

const QList<qint32> &CutDocument::isolate()
{
    IsolationHooks hooks;
    hooks.progress = [this](int value) { emit progress(value); };
    return cut.isolate(hooks);
}

void CutDocument::buildMatte(bool smooth, int gaussSize, bool refine)
{
    cut.setSmoothing(smooth, gaussSize);
    cut.setRefine(refine);
    cut.buildMatte([this](int value) { emit progress(value); });
}

void CutDocument::dropCutout()
{
    cut.dropCutout();
    cutoutDocument->rebuilt();
}

void CutDocument::applyBrush(const QList<QRect> &rects, bool keep, int intensity)
{
    CutoutDocument::Edit edit = cutoutDocument->paint(rects, cut.objectOffset(), keep, intensity);
    history.push(new CBrushCommand(cutoutDocument, edit.bounds, std::move(edit.before)));
}
