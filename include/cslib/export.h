// Export markers of the library's interface. Everything else is hidden: the
// library is built with -fvisibility=hidden and exports only what is marked here.
#ifndef CSLIB_EXPORT_H
#define CSLIB_EXPORT_H

#if defined(_WIN32)
#if defined(CSLIB_BUILDING)
#define CSLIB_API __declspec(dllexport)
#else
#define CSLIB_API __declspec(dllimport)
#endif
#else
#define CSLIB_API __attribute__((visibility("default")))
#endif

// Free functions keep plain, unmangled names.
#ifdef __cplusplus
#define CSLIB_C_BEGIN extern "C" {
#define CSLIB_C_END }
#else
#define CSLIB_C_BEGIN
#define CSLIB_C_END
#endif

#endif  // CSLIB_EXPORT_H
