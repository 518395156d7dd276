#include "crypto/BigIntPrimeGeneration.h"

#include "crypto/BigIntPrimality.h"
#include "platform/Errors.h"

namespace zarn {

namespace {

const char* const kSourceName = "Common\\BigIntPrimeGeneration";

constexpr std::int32_t kRounds = 4;

} // namespace

void BigIntNextPrime(TBigInt& N, const std::function<void()>& ProcessPendingEvents) {
    ZARN_ASSERT(N.Digits.size() >= 2, "BigIntNextPrime: N holds no value.", kSourceName);
    // The lowest digit of an even number is at most 2^31 - 2, so adding 1 carries nowhere.
    if ((N.Digits[1] & 1) == 0)
        N.Digits[1] += 1;
    TBigInt two;
    BigIntFromDecimal("2", two);
    TBigInt sum;
    bool found = false;
    while (!found) {
        BigIntAdd(N, two, sum);
        BigIntCopy(sum, N);
        found = BigIntIsProbablePrime(N, kRounds);
        if (ProcessPendingEvents)
            ProcessPendingEvents();
    }
}

} // namespace zarn
