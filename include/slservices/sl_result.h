/* Result codes, fixed-width helper types and the layout assertion macro shared by every
 * public header. C11 and C++17. */
#ifndef SLSERVICES_SL_RESULT_H_
#define SLSERVICES_SL_RESULT_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define SL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#define SL_EXTERN_C_BEGIN extern "C" {
#define SL_EXTERN_C_END }
/* UTF-16 code unit: char16_t in C++, a 16-bit unsigned integer in C (same ABI). */
typedef char16_t SLChar16;
#else
#define SL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#define SL_EXTERN_C_BEGIN
#define SL_EXTERN_C_END
typedef uint16_t SLChar16;
#endif

SL_STATIC_ASSERT(sizeof(void*) == 8, "the module's binary interface is 64-bit only");
SL_STATIC_ASSERT(sizeof(SLChar16) == 2, "UTF-16 code units are 16 bits wide");

/* Every interface entry and every export returns one of these. */
typedef uint32_t SLResult;

/* The one list of result codes: constant, value, whether it counts as a failure, and what it
 * means. The constants, SLIsFailure (SL_FAILED) and SLResultText below are all made from it, so
 * they cannot drift apart. 0, 1 and 13 are the codes that are not failures. */
#define SL_RESULT_CODES(X)                                                                   \
  X(SL_OK, 0, 0, "success")                                                                  \
  X(SL_NOT_DONE, 1, 0, "not carried out (not a failure)")                                    \
  X(SL_INVALID_ARGUMENT, 3, 1,                                                               \
    "invalid argument: a null pointer, a bad mode, an index out of range, or a search that " \
    "found nothing")                                                                         \
  X(SL_OS_FAILURE, 7, 1,                                                                     \
    "operating-system failure: a missing folder on the way, a file in use, a folder not "    \
    "empty, a bad handle")                                                                   \
  X(SL_NO_MEMORY, 8, 1, "out of memory, or of room for another atom (the atom library)")     \
  X(SL_NOT_FOUND, 11, 1, "not found: no such file, class, registered name or record")        \
  X(SL_RESERVED_13, 13, 0, "reserved (treated as success)")                                  \
  X(SL_ACCESS_DENIED, 15, 1, "access denied, or the file is read-only")                      \
  X(SL_ALREADY_EXISTS, 16, 1, "already exists")                                              \
  X(SL_NO_OBJECT, 22, 1, "the class produced no object")

#ifdef __cplusplus
#define SL_RESULT_CONSTEXPR_ constexpr
#define SL_RESULT_CONSTANT_(name, value, failure, text) inline constexpr SLResult name = value;
SL_RESULT_CODES(SL_RESULT_CONSTANT_)
#else
#define SL_RESULT_CONSTEXPR_
#define SL_RESULT_CONSTANT_(name, value, failure, text) name = value,
enum SLResultCode { SL_RESULT_CODES(SL_RESULT_CONSTANT_) };
#endif
#undef SL_RESULT_CONSTANT_

/* True (1) for the codes that count as failures: every code but 0, 1 and 13, unknown ones too. */
static SL_RESULT_CONSTEXPR_ inline int SLIsFailure(SLResult code) {
  switch (code) {
#define SL_RESULT_FAILURE_(name, value, failure, text) \
  case value:                                          \
    return failure;
    SL_RESULT_CODES(SL_RESULT_FAILURE_)
#undef SL_RESULT_FAILURE_
    default:
      return 1;
  }
}
#define SL_FAILED(code) SLIsFailure(code)

/* A short explanation of a result code, for people ("unknown result code" for any other). */
static inline const char* SLResultText(SLResult code) {
  switch (code) {
#define SL_RESULT_TEXT_(name, value, failure, text) \
  case value:                                       \
    return text;
    SL_RESULT_CODES(SL_RESULT_TEXT_)
#undef SL_RESULT_TEXT_
    default:
      return "unknown result code";
  }
}

/* The atom that marks a class or file-system name not yet resolved. */
#define SL_UNRESOLVED_ATOM ((uint32_t)0xFFFFFFFFu)

#endif /* SLSERVICES_SL_RESULT_H_ */
