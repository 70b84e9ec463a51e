// How the module marks a function the host (or a test) finds by name: C
// linkage, and visible outside the module on each platform.
#ifndef VANTOREL_MODULE_EXPORT_H
#define VANTOREL_MODULE_EXPORT_H

#if defined(_WIN32)
#define VANTOREL_EXPORT extern "C" __declspec(dllexport)
#else
#define VANTOREL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#endif
