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

/* Every interface entry and every export returns one of these. 0, 1 and 13 are not failures. */
typedef uint32_t SLResult;

#define SL_OK ((SLResult)0)                 /* success */
#define SL_NOT_DONE ((SLResult)1)           /* request not carried out; not a failure */
#define SL_INVALID_ARGUMENT ((SLResult)3)   /* null pointer, bad mode, index out of range... */
#define SL_OS_FAILURE ((SLResult)7)         /* operating-system failure without a finer code */
#define SL_NOT_FOUND ((SLResult)11)         /* not found, or nothing to give */
#define SL_RESERVED_13 ((SLResult)13)       /* never produced; treated like success */
#define SL_ACCESS_DENIED ((SLResult)15)     /* access denied or read-only */
#define SL_ALREADY_EXISTS ((SLResult)16)    /* name or file already exists */
#define SL_NO_OBJECT ((SLResult)22)         /* the class's factory produced no object */

/* True for the codes that count as failures (everything but 0, 1 and 13). */
#define SL_FAILED(code) ((code) != 0u && (code) != 1u && (code) != 13u)

/* The atom that marks a class or file-system name not yet resolved. */
#define SL_UNRESOLVED_ATOM ((uint32_t)0xFFFFFFFFu)

#endif /* SLSERVICES_SL_RESULT_H_ */
