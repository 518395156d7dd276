// The Montgomery product and square unrolled for 9 to 12 words.
#include "BigIntWords.h"

namespace zarn::bigint {

TWordKernels UnrolledWords9To12(std::size_t n) {
    return KernelsFor<9, 10, 11, 12>(n);
}

} // namespace zarn::bigint
