// Project files as a damaged disk, a hand edit or a stray program might leave them: the reader
// either refuses them with a reason or gives a project within its bounds, which the writer
// writes back to the same project, and whose dabs and brush edits a cut of the blob photo takes.
#include <QCoreApplication>

#include <cstdint>

#include "fuzzsupport.h"
#include "session/cutsession.h"
#include "session/project.h"

namespace {

// The isolation's cost grows with the dabs' area; the reader sees them all.
constexpr qsizetype cutDabs = 64;

bool sameEdits(const BrushEdits &a, const BrushEdits &b)
{
    return a.area == b.area && a.alpha == b.alpha;
}

bool sameProject(const CutProject &a, const CutProject &b)
{
    return a.photoPath == b.photoPath && a.photoSha256 == b.photoSha256 && a.photoSize == b.photoSize
           && a.dabs == b.dabs && a.smoothEdges == b.smoothEdges && a.gaussSize == b.gaussSize
           && a.refineEdges == b.refineEdges && a.isolation == b.isolation && a.backgroundColour == b.backgroundColour
           && a.backgroundPath == b.backgroundPath && a.backgroundSha256 == b.backgroundSha256
           && a.backgroundZoom == b.backgroundZoom && a.objectOffset == b.objectOffset
           && a.preview == b.preview && sameEdits(a.edits, b.edits);
}

void checkBounds(const CutProject &p)
{
    require(!p.photoPath.isEmpty() && p.photoSha256.size() == 64, "the photo is named and summed");
    require(p.photoSize.width() >= 1 && p.photoSize.height() >= 1
                && qint64(p.photoSize.width()) * p.photoSize.height() <= ProjectLimits::mostPhotoPixels,
            "the photo's size is within the bounds");
    require(p.dabs.size() <= ProjectLimits::mostDabs, "the dabs are within the bounds");
    for (const MarkerDab &dab : p.dabs)
        require(dab.rect.width() >= 0 && dab.rect.width() <= 255 && dab.rect.width() == dab.rect.height(),
                "dab sizes are whole squares from 0 to 255");
    require(p.backgroundZoom > 0, "the zoom is above 0");
    require(p.edits.isEmpty() || (p.preview && QRect(QPoint(0, 0), p.photoSize).contains(p.edits.area)
                                  && p.edits.alpha.size() == p.edits.area.size()
                                  && p.edits.alpha.format() == QImage::Format_Grayscale8),
            "brush edits lie on the photo, in the preview");
}

void cut(const CutProject &p)
{
    CutSession &cut = blobSession();
    if (p.photoSize != cut.size())
        return;
    cut.setDabs(p.dabs.mid(0, cutDabs));
    cut.setSmoothing(p.smoothEdges, p.gaussSize);
    cut.isolate();
    cut.buildMatte();
    cut.buildCutout();
    const QImage matte = cut.matte();
    require(applyEdits(cut.cutout(), p.edits), "edits of the photo's size fit its cut-out");
    const BrushEdits narrowed = narrowedEdits(captureEdits(cut.cutout(), p.edits.area), matte);
    require(narrowed.isEmpty() || p.edits.area.contains(narrowed.area), "narrowed edits lie within the edits");
    // Any zoom and offset a file may hold reach the export.
    cut.setBackgroundColour(p.backgroundColour);
    cut.setBackgroundZoom(p.backgroundZoom);
    cut.setObjectOffset(p.objectOffset);
    (void)cut.exportImage(QSize(12, 8));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    prepareFuzzing();
    lowerAllocationLimit(16);
    (void)blobSession();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    CutProject project;
    QString error;
    if (!readProject(bytes, project, error)) {
        require(!error.isEmpty(), "a refusal says why");
        return 0;
    }
    checkBounds(project);
    CutProject again;
    require(readProject(projectJson(project), again, error), "a written project reads back");
    require(sameProject(again, project), "a written project reads back as it was");
    cut(project);
    return 0;
}
