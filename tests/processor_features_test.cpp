// The exactness suites prove the row kernels that this process's processor
// check picks. Where the build machine's processor has the instructions of
// the AVX-512 kernels (and the tests run on it, natively or under Wine), the
// check must see them too; otherwise a runtime or emulator that hides them
// would quietly leave those kernels untested. The module's own reader
// (processor_features.h) must answer as the compiler's runtime does.
#include "processor_features.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessorFeatures, TheAvx512KernelsAreExercisedWhereTheMachineHasThem) {
#if defined(VANTOREL_MACHINE_HAS_AVX512)
  EXPECT_TRUE(__builtin_cpu_supports("avx512f") &&
              __builtin_cpu_supports("avx512bw") &&
              __builtin_cpu_supports("avx512vbmi"))
      << "this machine has AVX-512 (F, BW, VBMI) but the program cannot see it";
  EXPECT_TRUE(processorFeatures().avx512);
#else
  GTEST_SKIP() << "no AVX-512 on this machine, or not an x86-64 build";
#endif
}

TEST(ProcessorFeatures, TheModulesReaderAgreesWithTheCompilersRuntime) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  const ProcessorFeatures features = processorFeatures();
  EXPECT_EQ(features.sse41, __builtin_cpu_supports("sse4.1") != 0);
  EXPECT_EQ(features.avx2, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(features.avx512, __builtin_cpu_supports("avx512f") &&
                                 __builtin_cpu_supports("avx512bw") &&
                                 __builtin_cpu_supports("avx512vbmi"));
#else
  GTEST_SKIP() << "not an x86-64 build";
#endif
}

} // namespace
