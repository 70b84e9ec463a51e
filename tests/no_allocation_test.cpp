// The module allocates nothing while it renders. This program replaces the
// C allocator's entry points and, while a render runs, counts the calls
// made from the module's own code (the caller's return address lies in the
// module's mapped segments). The host library allocates on the same call
// stack when the module calls back into it; those calls come from elsewhere
// and do not count. Sanitizer runtimes replace the allocator themselves,
// so under them the test is skipped.
#include "plugin_fixture.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <link.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VANTOREL_ALLOCATOR_TAKEN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||     \
    __has_feature(memory_sanitizer)
#define VANTOREL_ALLOCATOR_TAKEN 1
#endif
#endif

namespace {

// Calls counted while `counting` is on and the caller lies in
// [watchedFrom, watchedTo).
std::atomic<bool> counting{false};
std::atomic<std::uintptr_t> watchedFrom{0}, watchedTo{0};
std::atomic<int> watchedCalls{0};

void note(void *caller) {
  if (!counting.load(std::memory_order_relaxed)) {
    return;
  }
  const auto at = reinterpret_cast<std::uintptr_t>(caller);
  if (at >= watchedFrom.load() && at < watchedTo.load()) {
    watchedCalls.fetch_add(1);
  }
}

} // namespace

#if !defined(VANTOREL_ALLOCATOR_TAKEN)
// Out of line, so each sees its real caller.
#define REPLACEMENT __attribute__((noinline))
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void __libc_free(void *);

REPLACEMENT void *malloc(std::size_t n) {
  note(__builtin_return_address(0));
  return __libc_malloc(n);
}
REPLACEMENT void *calloc(std::size_t n, std::size_t size) {
  note(__builtin_return_address(0));
  return __libc_calloc(n, size);
}
REPLACEMENT void *realloc(void *p, std::size_t n) {
  note(__builtin_return_address(0));
  return __libc_realloc(p, n);
}
REPLACEMENT void free(void *p) {
  note(__builtin_return_address(0));
  __libc_free(p);
}
REPLACEMENT void *memalign(std::size_t alignment, std::size_t n) {
  note(__builtin_return_address(0));
  return __libc_memalign(alignment, n);
}
REPLACEMENT void *aligned_alloc(std::size_t alignment, std::size_t n) {
  note(__builtin_return_address(0));
  return __libc_memalign(alignment, n);
}
REPLACEMENT int posix_memalign(void **out, std::size_t alignment,
                               std::size_t n) {
  note(__builtin_return_address(0));
  *out = __libc_memalign(alignment, n);
  return *out ? 0 : ENOMEM;
}
}
#endif

namespace vt {
namespace {

// The address range of the loaded object (program or module) holding
// `address`: from its lowest to its highest loaded segment.
struct Range {
  std::uintptr_t from = 0, to = 0;
};

Range rangeHolding(const void *address) {
  struct Search {
    std::uintptr_t address;
    Range range;
  } search{reinterpret_cast<std::uintptr_t>(address), {}};
  dl_iterate_phdr(
      [](dl_phdr_info *info, std::size_t, void *data) {
        auto *s = static_cast<Search *>(data);
        Range r{std::numeric_limits<std::uintptr_t>::max(), 0};
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr) &h = info->dlpi_phdr[i];
          if (h.p_type == PT_LOAD) {
            const std::uintptr_t start = info->dlpi_addr + h.p_vaddr;
            r.from = std::min(r.from, start);
            r.to = std::max<std::uintptr_t>(r.to, start + h.p_memsz);
          }
        }
        if (s->address < r.from || s->address >= r.to) {
          return 0;
        }
        s->range = r;
        return 1;
      },
      &search);
  return search.range;
}

void watch(Range range) {
  watchedFrom = range.from;
  watchedTo = range.to;
  watchedCalls = 0;
}

class NoAllocationTest : public RenderTest {
protected:
  void SetUp() override {
#if defined(VANTOREL_ALLOCATOR_TAKEN)
    GTEST_SKIP() << "a sanitizer runtime owns the allocator";
#endif
    RenderTest::SetUp();
    host.logging = false;
  }

  // Sends the render action straight to mainEntry with prepared arguments
  // and answers how many allocator calls the module made meanwhile.
  int moduleAllocationsDuringRender(OfxRectI window) {
    ofxhost::PropertySet inArgs(&host, "inArgs"), outArgs(&host, "outArgs");
    inArgs.setDouble(kOfxPropTime, {0.0});
    inArgs.setInt(kOfxImageEffectPropRenderWindow,
                  {window.x1, window.y1, window.x2, window.y2});
    watch(rangeHolding(reinterpret_cast<const void *>(plugin->mainEntry)));
    EXPECT_LT(watchedFrom.load(), watchedTo.load());
    counting = true;
    const OfxStatus status =
        plugin->mainEntry(kOfxImageEffectActionRender, instance->handle(),
                          inArgs.handle(), outArgs.handle());
    counting = false;
    EXPECT_EQ(status, kOfxStatOK);
    return watchedCalls.load();
  }
};

// The counter itself: calls from the watched object count, calls from
// elsewhere do not.
TEST_F(NoAllocationTest, CountsCallsFromTheWatchedCodeOnly) {
  watch(rangeHolding(reinterpret_cast<const void *>(&note)));
  counting = true;
  void *volatile p = std::malloc(16);
  std::free(p);
  counting = false;
  EXPECT_EQ(watchedCalls.load(), 2);
  watch(rangeHolding(reinterpret_cast<const void *>(plugin->mainEntry)));
  counting = true;
  p = std::malloc(16);
  std::free(p);
  counting = false;
  EXPECT_EQ(watchedCalls.load(), 0);
}

// Every way through the renderer: each pixel path, every overlay, bar rows
// light, black and with a NaN factor, pixels outside the source, float NaNs.
TEST_F(NoAllocationTest, RenderingAllocatesNothing) {
  const char *const switches[] = {"ShowSkinTonePatches", "ShowSkinToneLine",
                                  "ShowMiddleGray",      "LegalizeLevels",
                                  "GuideThirds",         "GuideGolden",
                                  "GuideCrosshair",      "Crop239"};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (Depth depth : {Depth::Byte, Depth::Float}) {
    for (double falseColour : {0.0, 1.0}) {
      for (double opacity : {0.5, 1.0, nan}) {
        SCOPED_TRACE(::testing::Message()
                     << (depth == Depth::Float ? "float" : "8-bit")
                     << " false colour " << falseColour << " opacity "
                     << opacity);
        const OfxRectI bounds{-10, 5, 310, 185};
        ImageSpec s =
            depth == Depth::Float ? floatSpec(bounds) : byteSpec(bounds);
        ImageSpec o = s;
        o.bounds = {-20, 0, 330, 200};
        attach(s, o);
        fillPattern(*source, 3);
        if (depth == Depth::Float) {
          source->floatAt(7, 50)[1] = std::numeric_limits<float>::quiet_NaN();
        }
        for (const char *name : switches) {
          set(name, 1);
        }
        set("FalseColorMode", falseColour);
        set("CropOpacity", opacity);
        EXPECT_EQ(moduleAllocationsDuringRender(o.bounds), 0);
      }
    }
  }
}

} // namespace
} // namespace vt
