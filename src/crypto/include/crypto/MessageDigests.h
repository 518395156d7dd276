// Block-oriented message digests: a small class frame with SHA-1 as its one concrete algorithm.
//
//   TMessageDigest  block buffering, block count, the accumulating/complete state
//   TMD4Family      chaining values, the 0x80 end marker with zero fill, the 64-bit bit-length field
//   TSHA1           the SHA-1 compression function (FIPS 180-1)
//
// Use: construct a TSHA1, feed the message with Transform (in one call or in pieces of any size),
// call Complete, read the raw digest with GetDigest. Initialize starts a new message on the same
// object. Whole blocks are compressed straight from the caller's memory; only a call's tail is
// copied into Buffer.
//
// State errors raise Exception ("Message digest not complete." / "Message digest already
// complete.") before anything changes. Broken preconditions raise EAssertionFailed naming
// Common\MessageDigests and the line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zarn {

class TMessageDigest {
public:
    virtual ~TMessageDigest() = default;
    TMessageDigest(const TMessageDigest&) = delete;
    TMessageDigest& operator=(const TMessageDigest&) = delete;

    // Feeds `Length` bytes at `M` (which must not be null; Length must not be negative).
    void Transform(const void* M, std::int32_t Length);
    // Feeds every byte of `S`; an empty string changes nothing.
    void Transform(const std::string& S);

    // Pads the message and computes the digest; the object is complete afterwards.
    virtual void Complete();
    // Starts a new message: clears the buffers and counters and leaves the complete state.
    virtual void Initialize();
    virtual std::string AlgorithmName() const = 0;

    // Exactly DigestSize raw bytes; raises when the digest is not complete. Can be read repeatedly.
    std::string GetDigest() const;

    std::int32_t GetBlockSize() const { return BlockSize; }
    std::int32_t GetDigestSize() const { return DigestSize; }
    bool GetIsComplete() const { return IsComplete; }

protected:
    // Asserts BlockSize > 0 and DigestSize > 0, then sets up the buffers (the base Initialize).
    TMessageDigest(std::int32_t BlockSize, std::int32_t DigestSize);

    // Compresses `Count` consecutive blocks at `Blocks`; the base counts them.
    virtual void TransformBlocks(const unsigned char* Blocks, std::int32_t Count);

    void CheckComplete() const;
    void CheckNotComplete() const;

    std::vector<unsigned char> Digest; // empty until allocated
    std::vector<unsigned char> Buffer; // empty until allocated
    std::int32_t BufferedCount = 0;    // 0 <= BufferedCount < BlockSize between calls
    std::int32_t BlockSize = 0;
    std::int32_t DigestSize = 0;
    // Whole blocks compressed since Initialize. 64 bits wide so that the bit length of a message
    // beyond 2^31 blocks is still exact.
    std::int64_t BlockCount = 0;
    bool IsComplete = false;
};

class TMD4Family : public TMessageDigest {
public:
    void Complete() override;
    void Initialize() override;

protected:
    // `InitialChainingValues` points to DigestSize bytes (native 32-bit words) and must not be
    // null; they are copied. `BigEndian` selects the byte order of the length field and the digest.
    TMD4Family(std::int32_t BlockSize, std::int32_t DigestSize, const unsigned char* InitialChainingValues,
               bool BigEndian);

    std::vector<unsigned char> InitialChainingValues;
    std::vector<std::uint32_t> ChainingValues; // empty until allocated
    bool BigEndian = false;

private:
    static std::int32_t InitializeChainingValues(const unsigned char* values, std::int32_t BlockSize);
};

class TSHA1 : public TMD4Family {
public:
    TSHA1();
    std::string AlgorithmName() const override { return "SHA-1"; }

protected:
    void TransformBlocks(const unsigned char* Blocks, std::int32_t Count) override;
};

// The SHA-1 compression of `count` 64-byte blocks into `state` (H0..H4). The processor's SHA
// instructions are used when present; the portable function is always built and can be forced.
namespace sha1 {
void CompressPortable(std::uint32_t state[5], const unsigned char* blocks, std::size_t count);
bool ShaInstructionsAvailable();
void CompressShaInstructions(std::uint32_t state[5], const unsigned char* blocks, std::size_t count);
// Makes TSHA1 use the portable function (true) or the fastest available one (false).
void ForcePortable(bool portable);
} // namespace sha1

} // namespace zarn
