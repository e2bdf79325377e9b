// The vector-scan guard of the engine's scans: its home is the leaf's
// filters/vector_scan.h, which the request facts' page scan reads too.
#ifndef QUIBEX_ENGINE_VECTOR_SCAN_H_
#define QUIBEX_ENGINE_VECTOR_SCAN_H_

#include "filters/vector_scan.h"

#endif  // QUIBEX_ENGINE_VECTOR_SCAN_H_
