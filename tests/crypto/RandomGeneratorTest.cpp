#include "crypto/RandomGenerator.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

namespace zarn {
namespace {

std::uint32_t FixedSeed() {
    return 0x12345678;
}

// Restores the clock as the seed source and a known state after each test.
class RandomGenerator : public ::testing::Test {
protected:
    void TearDown() override {
        SetRandomSeedSource(nullptr);
        SetRandomState(0);
    }
};

TEST_F(RandomGenerator, FollowsTheLinearCongruentialRecurrence) {
    SetRandomState(0);
    // x: 1, 134775814, 3698175007, 870078620, 1172187917, 2884733762; the result is (N x) >> 32.
    EXPECT_EQ(RandomBelow(1000), 0u);
    EXPECT_EQ(RandomState(), 1u);
    EXPECT_EQ(RandomBelow(1000), 31u);
    EXPECT_EQ(RandomBelow(9), 7u);
    EXPECT_EQ(RandomBelow(255), 51u);
    EXPECT_EQ(RandomBelow(1227), 334u);
    EXPECT_EQ(RandomBelow(0xFFFFFFFFu), 2884733761u);
    EXPECT_EQ(RandomState(), 2884733762u);

    // The state wraps modulo 2^32.
    SetRandomState(0x12345678);
    std::vector<std::uint32_t> draws;
    for (int k = 0; k < 5; ++k)
        draws.push_back(RandomBelow(1227));
    EXPECT_EQ(draws, (std::vector<std::uint32_t>{974, 584, 1043, 1161, 1102}));
    EXPECT_EQ(RandomState(), 0xE60911E5u);

    // N = 0 gives 0 and still advances the state.
    SetRandomState(5);
    EXPECT_EQ(RandomBelow(0), 0u);
    EXPECT_EQ(RandomState(), 5u * 134775813u + 1u);
}

TEST_F(RandomGenerator, StaysBelowItsBound) {
    SetRandomState(77);
    std::array<int, 9> seen{};
    for (int k = 0; k < 9000; ++k) {
        const std::uint32_t value = RandomBelow(9);
        ASSERT_LT(value, 9u);
        ++seen[value];
    }
    for (const int count : seen)
        EXPECT_GT(count, 800);
}

TEST_F(RandomGenerator, SeedsFromTheSeedSourceOrTheClock) {
    SetRandomSeedSource(FixedSeed);
    SetRandomState(1);
    SeedRandomFromClock();
    EXPECT_EQ(RandomState(), 0x12345678u);

    // The clock's nanosecond counter gives a different seed on each call.
    SetRandomSeedSource(nullptr);
    std::set<std::uint32_t> seeds;
    for (int k = 0; k < 5; ++k) {
        SeedRandomFromClock();
        seeds.insert(RandomState());
    }
    EXPECT_GT(seeds.size(), 1u);
}

TEST(SystemCandidateSource, GivesEveryValueBelowTheBoundAndNothingElse) {
    TSystemCandidateSource source;
    for (const std::uint32_t bound : {9u, 255u}) {
        std::vector<int> seen(bound, 0);
        const int draws = static_cast<int>(bound) * 200;
        for (int k = 0; k < draws; ++k) {
            const std::uint32_t value = source.Below(bound);
            ASSERT_LT(value, bound);
            ++seen[value];
        }
        // Each value is expected 200 times; 100 or 300 lie more than 7 standard deviations away.
        for (std::uint32_t value = 0; value < bound; ++value) {
            EXPECT_GT(seen[value], 100) << bound << " " << value;
            EXPECT_LT(seen[value], 300) << bound << " " << value;
        }
    }
    EXPECT_EQ(source.Below(1), 0u);
    TSystemCandidateSource unused; // its destructor wipes an empty buffer (checked by the sanitizers)
}

TEST(SystemCandidateSource, TwoSourcesGiveDifferentSequences) {
    TSystemCandidateSource first;
    TSystemCandidateSource second;
    std::vector<std::uint32_t> a, b;
    for (int k = 0; k < 32; ++k) {
        a.push_back(first.Below(255));
        b.push_back(second.Below(255));
    }
    EXPECT_NE(a, b);
}

} // namespace
} // namespace zarn
