/* The project's own math.h for the plug-in module's macOS builds: the
   module takes only the constants from it; its arithmetic is the
   compiler's. */
#ifndef VANTOREL_MACOS_MATH_H
#define VANTOREL_MACOS_MATH_H

#define INFINITY __builtin_inff()
#define NAN __builtin_nanf("")

#endif
