/* The project's own declarations of the C library's string functions the
   plug-in module calls, for its macOS builds (see usr/lib/libSystem.tbd). */
#ifndef VANTOREL_MACOS_STRING_H
#define VANTOREL_MACOS_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void *memcpy(void *to, const void *from, size_t size);
void *memmove(void *to, const void *from, size_t size);
void *memset(void *to, int byte, size_t size);
int strcmp(const char *a, const char *b);
char *strstr(const char *text, const char *part);

#ifdef __cplusplus
}
#endif

#endif
