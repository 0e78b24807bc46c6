// Reads of the stored block and its debug data: bytes taken from module
// files, where every read that would run past the end raises
// EDebugDataError.
#pragma once

#include "exceptlog/common/binary/byte_cursor.h"
#include "exceptlog/common/binary/little_endian.h"
#include "runtime/exception.h"

namespace vellum::exceptlog {

VELLUM_EXCEPTION_CLASS(EDebugDataError, Exception);

using DebugDataCursor = ByteCursor<EDebugDataError>;

}  // namespace vellum::exceptlog
