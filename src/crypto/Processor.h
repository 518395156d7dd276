// What the processor and the operating system offer the fast kernels: probed once, on first asking.
#pragma once

namespace zarn::processor {

struct TFeatures {
    // AVX-512 F and IFMA, with the vector and mask state saved by the operating system.
    bool Ifma = false;
    // The SHA extensions with SSSE3 and SSE4.1.
    bool Sha = false;
};

const TFeatures& Features();

} // namespace zarn::processor
