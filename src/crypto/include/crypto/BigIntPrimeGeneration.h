// The prime search: the next probable prime above a start value, with an event pump run between
// candidates so that a window stays responsive while it searches.
#pragma once

#include "crypto/BigInt.h"

#include <functional>

namespace zarn {

// Replaces N by the first probable prime of the form N' + 2k (k >= 1), N' being N made odd (an even
// N is raised by 1 first); N' itself is never tested. Each candidate gets the trial division and
// 4 Miller-Rabin rounds (BigIntIsProbablePrime), so the result is at least 10007. After every
// candidate `ProcessPendingEvents` runs (nothing when it is empty); it must leave N alone. There is no
// other exit: the search runs until it finds a prime, which it does for every start value (a negative
// one climbs through the odd numbers up to 10007).
void BigIntNextPrime(TBigInt& N, const std::function<void()>& ProcessPendingEvents = {});

} // namespace zarn
