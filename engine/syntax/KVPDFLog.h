#pragma once
// The engine logs through the program's log (kvLog, KVPDFLogCapture, kvpdf::restartLogBudget);
// engine files keep including this header.
#include "KVLog.h"
