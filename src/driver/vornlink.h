/* The driver's interface to its host: ten exported functions.
 *
 * All functions may be called from any thread of the host. Texts are 8-bit
 * and zero-terminated; a null pointer where a text is expected is taken as
 * the empty text. No function throws, and none keeps a pointer the host
 * passed beyond the call.
 */
#ifndef VORNLINK_DRIVER_VORNLINK_H_
#define VORNLINK_DRIVER_VORNLINK_H_

#include <stdint.h>

#if defined(_WIN32)
#define VORNLINK_CDECL __cdecl
#define VORNLINK_STDCALL __stdcall
#define VORNLINK_EXPORT /* exported by the module definition file */
#else
#define VORNLINK_CDECL
#define VORNLINK_STDCALL
#define VORNLINK_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The host's answer function for asynchronous job validation: `result` is 1
 * when the job number is valid, 0 when it is not or the validation failed;
 * `job_no` is the driver's copy, valid only during the call. */
typedef void(VORNLINK_CDECL* KmrValidationCallback)(int32_t result, const char* job_no);

/* The API version that GetAPIVersion reports. */
#define KMR_API_VERSION 102

/* Starts the service: log, cache worker, the host's GUI program. Returns 1. */
VORNLINK_EXPORT int32_t VORNLINK_CDECL ExecuteService(void);
/* Stops the cache worker (waits up to 10 seconds for it). Returns 0. */
VORNLINK_EXPORT int32_t VORNLINK_CDECL StopService(void);
/* Hands one dispense transaction to the driver, which caches it for
 * delivery unless a gate holds it back. */
VORNLINK_EXPORT void VORNLINK_CDECL ForwardTransaction2(
    const char* trans_no, const char* job_no, const char* date, const char* time,
    const char* user_id, const char* field04, const char* field05, const char* fluid_key,
    const char* fluid_name, const char* fluid_part_no, const char* quantity, const char* field08);
/* As ForwardTransaction2, with `fluid_name` also the default part number. */
VORNLINK_EXPORT void VORNLINK_CDECL ForwardTransaction(const char* trans_no, const char* job_no,
                                                       const char* date, const char* time,
                                                       const char* user_id, const char* field04,
                                                       const char* field05, const char* fluid_key,
                                                       const char* fluid_name, const char* quantity,
                                                       const char* field08);
/* 1 when the DMS knows the job, else 0. With a callback registered: 0 at
 * once, and the callback gets the answer from a thread of the driver. */
VORNLINK_EXPORT int32_t VORNLINK_CDECL IsJobnoValid(const char* job_no);
/* Registers the validation callback; null switches back to direct answers. */
VORNLINK_EXPORT void VORNLINK_CDECL SetCallback(KmrValidationCallback callback);
/* "Plexa KMR v[<version>]"; the text belongs to the driver and stays valid
 * and unchanged until the module is unloaded. */
VORNLINK_EXPORT const char* VORNLINK_CDECL GetServiceName(void);
/* Returns KMR_API_VERSION. */
VORNLINK_EXPORT int32_t VORNLINK_CDECL GetAPIVersion(void);
/* Shows the settings list dialog; returns 0 when it closes. */
VORNLINK_EXPORT int32_t VORNLINK_CDECL Properties(void);
/* Shows the emulated DMS server dialog (exported as _Server@0 on Windows). */
VORNLINK_EXPORT void VORNLINK_STDCALL Server(void);

#ifdef __cplusplus
}
#endif

#endif /* VORNLINK_DRIVER_VORNLINK_H_ */
