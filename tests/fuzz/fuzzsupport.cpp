#include "fuzzsupport.h"

#include <QBuffer>
#include <QImageReader>
#include <QLoggingCategory>

#include "analysis/parallel.h"
#include "output/pictureio.h"

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
