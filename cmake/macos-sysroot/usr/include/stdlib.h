/* The project's own stdlib.h for the plug-in module's macOS builds. The
   compiler's immintrin.h reaches it (for _mm_malloc, which the module never
   calls); the module allocates nothing, and libSystem.tbd does not list an
   allocator, so a call to one fails the link. */
#ifndef VANTOREL_MACOS_STDLIB_H
#define VANTOREL_MACOS_STDLIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *malloc(size_t size);
void free(void *memory);

#ifdef __cplusplus
}
#endif

#endif
