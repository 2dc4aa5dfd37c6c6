#pragma once

#include <QLoggingCategory>

// The pipeline's trace lines ("iteration", "mapped lenth", "ws: 1", "Done", the export's
// overlap): silent unless asked for, for example with QT_LOGGING_RULES="peltrix.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcAnalysis)  // peltrix.analysis: the colour clustering
Q_DECLARE_LOGGING_CATEGORY(lcIsolation) // peltrix.isolation: vote, flood
Q_DECLARE_LOGGING_CATEGORY(lcExport)    // peltrix.export: where the object lands
