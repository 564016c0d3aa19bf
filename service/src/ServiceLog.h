#pragma once

// The share service's log category, "vyo.service".

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcService)
