#include "ServiceLog.h"

Q_LOGGING_CATEGORY(lcService, "vyo.service", QtInfoMsg)
