// The one probe of CPUID and of the operating system's saved state (XGETBV).
#include "Processor.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace zarn::processor {

namespace {

#if defined(__x86_64__) || defined(__i386__)
// The operating system's saved-state mask; only called once OSXSAVE is known.
__attribute__((target("xsave"))) unsigned long long SavedState() {
    return _xgetbv(0);
}

TFeatures Probe() {
    TFeatures found;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0)
        return found;
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0)
        return found;
    found.Sha = ssse3 && sse41 && (ebx & bit_SHA) != 0;
    // The vector state the operating system saves: SSE, AVX, the mask registers and both zmm halves.
    const bool avx512State = osxsave && (SavedState() & 0xE6) == 0xE6;
    found.Ifma = avx512State && (ebx & bit_AVX512F) != 0 && (ebx & bit_AVX512IFMA) != 0;
    return found;
}
#else
TFeatures Probe() {
    return {};
}
#endif

} // namespace

const TFeatures& Features() {
    static const TFeatures features = Probe();
    return features;
}

} // namespace zarn::processor
