#include "crypto/MessageDigests.h"

#include "platform/Errors.h"

#include <algorithm>
#include <cstring>

namespace zarn {

namespace {

const char* const kSourceName = "Common\\MessageDigests";

// H0..H4 of SHA-1.
const std::uint32_t kSha1InitialValues[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

bool g_forcePortable = false;

std::uint32_t RotateLeft(std::uint32_t value, int bits) {
    return (value << bits) | (value >> (32 - bits));
}

std::uint32_t ReadBigEndian32(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

} // namespace

// ---- TMessageDigest ----

TMessageDigest::TMessageDigest(std::int32_t BlockSize, std::int32_t DigestSize) {
    ZARN_ASSERT(BlockSize > 0, "TMessageDigest.CreateInternal: BlockSize <= 0.", kSourceName);
    ZARN_ASSERT(DigestSize > 0, "TMessageDigest.CreateInternal: DigestSize <= 0.", kSourceName);
    this->BlockSize = BlockSize;
    this->DigestSize = DigestSize;
    TMessageDigest::Initialize();
}

void TMessageDigest::Initialize() {
    Buffer.assign(static_cast<std::size_t>(BlockSize), 0);
    Digest.assign(static_cast<std::size_t>(DigestSize), 0);
    BufferedCount = 0;
    BlockCount = 0;
    IsComplete = false;
}

void TMessageDigest::TransformBlocks(const unsigned char*, std::int32_t Count) {
    BlockCount += Count;
}

void TMessageDigest::Complete() {
    IsComplete = true;
}

void TMessageDigest::Transform(const void* M, std::int32_t Length) {
    CheckNotComplete();
    ZARN_ASSERT(M != nullptr, "Transform: M not assigned.", kSourceName);
    ZARN_ASSERT(Length >= 0, "Transform: Length < 0.", kSourceName);
    const auto* bytes = static_cast<const unsigned char*>(M);
    if (BufferedCount > 0) {
        const std::int32_t space = BlockSize - BufferedCount;
        if (space > Length) {
            std::memcpy(Buffer.data() + BufferedCount, bytes, static_cast<std::size_t>(Length));
            BufferedCount += Length;
            return;
        }
        std::memcpy(Buffer.data() + BufferedCount, bytes, static_cast<std::size_t>(space));
        bytes += space;
        Length -= space;
        TransformBlocks(Buffer.data(), 1);
    }
    TransformBlocks(bytes, Length / BlockSize);
    BufferedCount = Length % BlockSize;
    std::memcpy(Buffer.data(), bytes + (Length - BufferedCount), static_cast<std::size_t>(BufferedCount));
}

void TMessageDigest::Transform(const std::string& S) {
    // Fed in pieces below 2^31 bytes, so every length fits the 32-bit count.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    std::size_t done = 0;
    do {
        const std::size_t piece = std::min(kPiece, S.size() - done);
        Transform(S.data() + done, static_cast<std::int32_t>(piece));
        done += piece;
    } while (done < S.size());
}

std::string TMessageDigest::GetDigest() const {
    CheckComplete();
    return std::string(reinterpret_cast<const char*>(Digest.data()), Digest.size());
}

void TMessageDigest::CheckComplete() const {
    if (!IsComplete)
        throw Exception("Message digest not complete.");
}

void TMessageDigest::CheckNotComplete() const {
    if (IsComplete)
        throw Exception("Message digest already complete.");
}

// ---- TMD4Family ----

std::int32_t TMD4Family::InitializeChainingValues(const unsigned char* values, std::int32_t BlockSize) {
    ZARN_ASSERT(values != nullptr, "TMD4Family.InitializeChainingValues: InitialChainingValues = nil.",
                kSourceName);
    return BlockSize;
}

// The chaining values are checked before the sizes, and copied before the family's Initialize
// reads them.
TMD4Family::TMD4Family(std::int32_t BlockSize, std::int32_t DigestSize,
                       const unsigned char* InitialChainingValues, bool BigEndian)
    : TMessageDigest(InitializeChainingValues(InitialChainingValues, BlockSize), DigestSize),
      InitialChainingValues(InitialChainingValues, InitialChainingValues + DigestSize) {
    TMD4Family::Initialize();
    this->BigEndian = BigEndian;
}

void TMD4Family::Initialize() {
    TMessageDigest::Initialize();
    ChainingValues.assign((static_cast<std::size_t>(DigestSize) + 3) / 4, 0);
    std::memcpy(ChainingValues.data(), InitialChainingValues.data(), InitialChainingValues.size());
}

void TMD4Family::Complete() {
    CheckNotComplete();
    const std::uint64_t bitLength =
        (static_cast<std::uint64_t>(BlockSize) * static_cast<std::uint64_t>(BlockCount) +
         static_cast<std::uint64_t>(BufferedCount)) *
        8;
    Buffer[static_cast<std::size_t>(BufferedCount)] = 0x80;
    BufferedCount += 1;
    const std::int32_t rest = BlockSize - BufferedCount;
    if (rest < 8) {
        std::fill_n(Buffer.begin() + BufferedCount, rest, 0);
        TransformBlocks(Buffer.data(), 1);
        std::fill_n(Buffer.begin(), BlockSize - 8, 0);
    } else {
        std::fill_n(Buffer.begin() + BufferedCount, rest - 8, 0);
    }
    for (int i = 0; i < 8; ++i) {
        const int shift = BigEndian ? 8 * (7 - i) : 8 * i;
        Buffer[static_cast<std::size_t>(BlockSize - 8 + i)] = static_cast<unsigned char>(bitLength >> shift);
    }
    TransformBlocks(Buffer.data(), 1);
    for (std::int32_t i = 0; i < DigestSize; ++i) {
        const std::uint32_t word = ChainingValues[static_cast<std::size_t>(i / 4)];
        const int shift = BigEndian ? 8 * (3 - i % 4) : 8 * (i % 4);
        Digest[static_cast<std::size_t>(i)] = static_cast<unsigned char>(word >> shift);
    }
    TMessageDigest::Complete();
}

// ---- TSHA1 ----

TSHA1::TSHA1() : TMD4Family(64, 20, reinterpret_cast<const unsigned char*>(kSha1InitialValues), true) {}

void TSHA1::TransformBlocks(const unsigned char* Blocks, std::int32_t Count) {
    ZARN_ASSERT(Blocks != nullptr, "TSHA1.TransformBlocks: Addr(Blocks) = nil.", kSourceName);
    if (Count > 0) {
        if (!g_forcePortable && sha1::ShaInstructionsAvailable())
            sha1::CompressShaInstructions(ChainingValues.data(), Blocks, static_cast<std::size_t>(Count));
        else
            sha1::CompressPortable(ChainingValues.data(), Blocks, static_cast<std::size_t>(Count));
    }
    TMessageDigest::TransformBlocks(Blocks, Count);
}

namespace sha1 {

void CompressPortable(std::uint32_t state[5], const unsigned char* blocks, std::size_t count) {
    for (; count > 0; --count, blocks += 64) {
        std::uint32_t w[80];
        for (int t = 0; t < 16; ++t)
            w[t] = ReadBigEndian32(blocks + 4 * t);
        for (int t = 16; t < 80; ++t)
            w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        // One step: the round function's value f and constant k enter with the schedule word.
        const auto step = [&](std::uint32_t f, std::uint32_t k, std::uint32_t word) {
            const std::uint32_t temp = RotateLeft(a, 5) + f + e + k + word;
            e = d;
            d = c;
            c = RotateLeft(b, 30);
            b = a;
            a = temp;
        };
        for (int t = 0; t < 20; ++t)
            step((b & c) | (~b & d), 0x5A827999, w[t]);
        for (int t = 20; t < 40; ++t)
            step(b ^ c ^ d, 0x6ED9EBA1, w[t]);
        for (int t = 40; t < 60; ++t)
            step((b & c) | (b & d) | (c & d), 0x8F1BBCDC, w[t]);
        for (int t = 60; t < 80; ++t)
            step(b ^ c ^ d, 0xCA62C1D6, w[t]);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
    }
}

void ForcePortable(bool portable) {
    g_forcePortable = portable;
}

} // namespace sha1

} // namespace zarn
