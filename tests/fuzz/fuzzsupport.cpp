#include "fuzzsupport.h"

#include <QBuffer>
#include <QImageReader>
#include <QLoggingCategory>

#include "analysis/parallel.h"
#include "blobphoto.h"
#include "output/pictureio.h"
#include "session/cutsession.h"

void prepareFuzzing()
{
    Parallel::setThreadCount(1);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void lowerAllocationLimit(int mebibytes)
{
    QBuffer nothing;
    nothing.open(QIODevice::ReadOnly);
    (void)readPicture(&nothing);
    QImageReader::setAllocationLimit(mebibytes);
}

CutSession &blobSession()
{
    static CutSession *const cut = [] {
        auto *made = new CutSession;
        made->setPhoto(blobPhoto());
        made->analyse();
        return made;
    }();
    return *cut;
}
