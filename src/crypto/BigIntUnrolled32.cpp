// The Montgomery product and square unrolled for 32 words.
#include "BigIntWords.h"

namespace zarn::bigint {

TWordKernels UnrolledWords32(std::size_t n) {
    return KernelsFor<32>(n);
}

} // namespace zarn::bigint
