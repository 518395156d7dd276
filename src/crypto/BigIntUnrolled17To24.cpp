// The Montgomery product and square unrolled for 17 to 24 words.
#include "BigIntWords.h"

namespace zarn::bigint {

TWordKernels UnrolledWords17To24(std::size_t n) {
    return KernelsFor<17, 18, 19, 20, 21, 22, 23, 24>(n);
}

} // namespace zarn::bigint
