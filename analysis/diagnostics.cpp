#include "analysis/diagnostics.h"

// Information and above pass; the trace itself is debug.
Q_LOGGING_CATEGORY(lcAnalysis, "peltrix.analysis", QtInfoMsg)
Q_LOGGING_CATEGORY(lcIsolation, "peltrix.isolation", QtInfoMsg)
Q_LOGGING_CATEGORY(lcExport, "peltrix.export", QtInfoMsg)
