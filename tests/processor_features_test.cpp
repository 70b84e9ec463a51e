// The exactness suites prove the row kernels that this process's processor
// check picks. Where the build machine's processor has the instructions of
// the AVX-512 kernels (and the tests run on it, natively or under Wine), the
// check must see them too; otherwise a runtime or emulator that hides them
// would quietly leave those kernels untested.
#include <gtest/gtest.h>

namespace {

TEST(ProcessorFeatures, TheAvx512KernelsAreExercisedWhereTheMachineHasThem) {
#if defined(VANTOREL_MACHINE_HAS_AVX512)
  EXPECT_TRUE(__builtin_cpu_supports("avx512f") &&
              __builtin_cpu_supports("avx512bw") &&
              __builtin_cpu_supports("avx512vbmi"))
      << "this machine has AVX-512 (F, BW, VBMI) but the program cannot see it";
#else
  GTEST_SKIP() << "no AVX-512 on this machine, or not an x86-64 build";
#endif
}

} // namespace
