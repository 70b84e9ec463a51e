/* The project's own fenv.h for the plug-in module's macOS builds: the
   rounding-mode query. The modes' values are the control-register fields,
   the same on macOS as on Linux for each processor. */
#ifndef VANTOREL_MACOS_FENV_H
#define VANTOREL_MACOS_FENV_H

#if defined(__x86_64__)
#define FE_TONEAREST 0x0000
#define FE_DOWNWARD 0x0400
#define FE_UPWARD 0x0800
#define FE_TOWARDZERO 0x0c00
#elif defined(__aarch64__)
#define FE_TONEAREST 0x00000000
#define FE_UPWARD 0x00400000
#define FE_DOWNWARD 0x00800000
#define FE_TOWARDZERO 0x00c00000
#endif

#ifdef __cplusplus
extern "C" {
#endif

int fegetround(void);

#ifdef __cplusplus
}
#endif

#endif
