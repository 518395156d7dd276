#include "crypto/MessageDigests.h"
#include "encoding/UTHHexUtilities.h"
#include "platform/Errors.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

namespace zarn {
namespace {

std::string OpenSslSha1(const std::string& message) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), SHA_DIGEST_LENGTH);
}

std::string Sha1Hex(const std::string& message) {
    TSHA1 digest;
    digest.Transform(message);
    digest.Complete();
    return BytesToHex(digest.GetDigest());
}

// Every test runs once with the portable compression and once with the fastest available one.
class Sha1 : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!GetParam() && !sha1::ShaInstructionsAvailable())
            GTEST_SKIP() << "this processor has no SHA instructions";
        sha1::ForcePortable(GetParam());
    }
    void TearDown() override { sha1::ForcePortable(false); }
};

INSTANTIATE_TEST_SUITE_P(Engines, Sha1, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Portable" : "ShaInstructions"; });

TEST_P(Sha1, KnownAnswers) {
    EXPECT_EQ(Sha1Hex(""), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
    EXPECT_EQ(Sha1Hex("abc"), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    // 56 bytes: the end marker and the length need a second block.
    EXPECT_EQ(Sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983E441C3BD26EBAAE4AA1F95129E5E54670F1");
    EXPECT_EQ(Sha1Hex(std::string(1000000, 'a')), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F");
}

TEST_P(Sha1, TailsAroundTheBlockEnd) {
    for (const std::size_t blocks : {0u, 1u, 3u}) {
        for (const std::size_t tail : {0u, 1u, 54u, 55u, 56u, 57u, 63u, 64u}) {
            const std::string message(64 * blocks + tail, static_cast<char>('a' + tail % 26));
            SCOPED_TRACE(message.size());
            EXPECT_EQ(Sha1Hex(message), BytesToHex(OpenSslSha1(message)));
        }
    }
}

TEST_P(Sha1, RandomMessagesInRandomPiecesMatchOpenSsl) {
    SCOPED_TRACE(test::SeedTrace());
    auto generator = test::SeededGenerator(11);
    for (int round = 0; round < 300; ++round) {
        const std::size_t length = round < 200 ? generator() % 300 : generator() % 10001;
        const std::string message = test::RandomBytes(generator, length);
        TSHA1 digest;
        std::size_t done = 0;
        while (done < length) {
            std::size_t piece = 0;
            switch (generator() % 4) {
            case 0: // a piece of length 0
                break;
            case 1: // up to the next block boundary
                piece = 64 - done % 64;
                break;
            default:
                piece = generator() % 150;
            }
            piece = std::min(piece, length - done);
            digest.Transform(message.data() + done, static_cast<std::int32_t>(piece));
            done += piece;
        }
        digest.Complete();
        ASSERT_EQ(BytesToHex(digest.GetDigest()), BytesToHex(OpenSslSha1(message)))
            << "length " << length << " round " << round;
    }
}

TEST_P(Sha1, ByteByByteAndAtEveryOffsetAroundABlock) {
    const std::string message = test::RandomBytes(*std::make_unique<std::mt19937_64>(5), 200);
    const std::string expected = OpenSslSha1(message);
    TSHA1 bytewise;
    for (const char c : message)
        bytewise.Transform(&c, 1);
    bytewise.Complete();
    EXPECT_EQ(bytewise.GetDigest(), expected);
    for (std::size_t split = 50; split <= 140; ++split) {
        TSHA1 digest;
        digest.Transform(message.substr(0, split));
        digest.Transform(message.substr(split));
        digest.Complete();
        ASSERT_EQ(digest.GetDigest(), expected) << "split at " << split;
    }
}

TEST(Sha1Engines, CompressionFunctionsAgree) {
    if (!sha1::ShaInstructionsAvailable())
        GTEST_SKIP() << "this processor has no SHA instructions";
    auto generator = test::SeededGenerator(12);
    for (int round = 0; round < 100; ++round) {
        const std::size_t blocks = 1 + generator() % 5;
        const std::string data = test::RandomBytes(generator, 64 * blocks);
        std::uint32_t portable[5];
        for (std::uint32_t& word : portable)
            word = static_cast<std::uint32_t>(generator());
        std::uint32_t instructions[5];
        std::copy(portable, portable + 5, instructions);
        const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
        sha1::CompressPortable(portable, bytes, blocks);
        sha1::CompressShaInstructions(instructions, bytes, blocks);
        ASSERT_TRUE(std::equal(portable, portable + 5, instructions)) << "round " << round;
    }
}

TEST(Sha1State, ErrorsBeforeAndAfterComplete) {
    TSHA1 digest;
    EXPECT_EQ(digest.AlgorithmName(), "SHA-1");
    EXPECT_EQ(digest.GetBlockSize(), 64);
    EXPECT_EQ(digest.GetDigestSize(), 20);
    try {
        digest.GetDigest();
        FAIL() << "no error before Complete";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "Message digest not complete.");
    }
    digest.Transform("abc");
    digest.Complete();
    const std::string expected = HexToBytes("A9993E364706816ABA3E25717850C26C9CD0D89D");
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (attempt == 0)
                digest.Transform("more");
            else
                digest.Complete();
            FAIL() << "no error after Complete";
        } catch (const Exception& error) {
            EXPECT_EQ(error.Message(), "Message digest already complete.");
        }
        EXPECT_EQ(digest.GetDigest(), expected) << "the digest stays readable";
    }
    EXPECT_EQ(digest.GetDigest().size(), 20u);
    // An empty piece after Complete is still misuse.
    EXPECT_THROW(digest.Transform(""), Exception);
}

TEST(Sha1State, InitializeStartsAnIndependentMessage) {
    TSHA1 digest;
    digest.Transform(std::string(100, 'x'));
    digest.Complete();
    digest.Initialize();
    EXPECT_FALSE(digest.GetIsComplete());
    digest.Transform("abc");
    digest.Complete();
    EXPECT_EQ(BytesToHex(digest.GetDigest()), "A9993E364706816ABA3E25717850C26C9CD0D89D");
    // Also in the middle of a message.
    digest.Initialize();
    digest.Transform(std::string(70, 'y'));
    digest.Initialize();
    digest.Complete();
    EXPECT_EQ(BytesToHex(digest.GetDigest()), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
}

TEST(Sha1State, NullPointersAreAssertionFailures) {
    TSHA1 digest;
    try {
        digest.Transform(nullptr, 0);
        FAIL() << "accepted a null message";
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message().rfind("Transform: M not assigned. (Common\\MessageDigests, line ", 0), 0u)
            << error.Message();
    }
}

// A family member with chosen sizes and chaining values, to reach the constructor checks.
class TTestDigest : public TMD4Family {
public:
    TTestDigest(std::int32_t blockSize, std::int32_t digestSize, const unsigned char* values)
        : TMD4Family(blockSize, digestSize, values, false) {}
    std::string AlgorithmName() const override { return "test"; }
};

std::string ConstructionError(std::int32_t blockSize, std::int32_t digestSize, const unsigned char* values) {
    try {
        TTestDigest digest(blockSize, digestSize, values);
    } catch (const EAssertionFailed& error) {
        const std::string text = error.Message();
        return text.substr(0, text.find(" (Common\\MessageDigests, line "));
    }
    return "no error";
}

TEST(Sha1State, ConstructorPreconditions) {
    const unsigned char values[20] = {};
    EXPECT_EQ(ConstructionError(0, 20, values), "TMessageDigest.CreateInternal: BlockSize <= 0.");
    EXPECT_EQ(ConstructionError(64, -1, values), "TMessageDigest.CreateInternal: DigestSize <= 0.");
    EXPECT_EQ(ConstructionError(0, 0, nullptr),
              "TMD4Family.InitializeChainingValues: InitialChainingValues = nil.");
    EXPECT_EQ(ConstructionError(64, 20, values), "no error");
}

} // namespace
} // namespace zarn
