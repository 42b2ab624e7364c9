// The failure record as the module stores it, and the exception a C++ host may receive when an
// entry calls into one of the host's own objects and that object reports a failure with error
// information. No entry catches it; it leaves the entry unchanged.
#ifndef SLSERVICES_SL_EXCEPTION_HPP_
#define SLSERVICES_SL_EXCEPTION_HPP_

#include "slservices/sl_object.h"

// One thread's last failure on one object.
struct ErrorInfo {
  static constexpr uint32_t kMessageUnits = 512;  // 511 units and the terminator
  uint32_t code = 0;
  uint32_t line = 0;
  uint32_t length = 0;  // units before the terminator, at most 511
  SLChar16 message[kMessageUnits] = {};
  const char* functionName = nullptr;
  const char* sourceFile = nullptr;
};

// Thrown and caught by value; owns nothing (its strings are static in the reporting module).
class ServiceObjectException {
 public:
  explicit ServiceObjectException(const ErrorInfo& info) : info_(info) {}
  const ErrorInfo& info() const { return info_; }
  uint32_t code() const { return info_.code; }

 private:
  ErrorInfo info_;
};

#endif  // SLSERVICES_SL_EXCEPTION_HPP_
