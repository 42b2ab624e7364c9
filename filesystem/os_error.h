// The one table that turns an operating-system error into a result code.
#pragma once

#include <cstdint>

#include "slservices/sl_result.h"

namespace sl::filesystem {

// 0 -> 0, file not found -> 11, access denied -> 15, invalid parameter -> 3,
// already exists -> 16; every other error -> 7.
SLResult TranslateOsError(uint32_t error);

// The translation of the calling thread's last OS error; call it right after the failing call.
SLResult TranslateLastOsError();

}  // namespace sl::filesystem
