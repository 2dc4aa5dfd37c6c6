#include "fuzzsupport.h"

#include <QLoggingCategory>

#include "analysis/parallel.h"

void prepareFuzzing()
{
    Parallel::setThreadCount(1);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}
