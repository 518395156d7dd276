// TBigInt lifetime, the record helpers, and the conversions to and from decimal text, bit text and bytes.
#include "BigIntInternal.h"
#include "crypto/BigInt.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"

#include <algorithm>
#include <string_view>

namespace zarn {

namespace bigint {

namespace {
const char* const kSourceName = "Common\\BigInt";
} // namespace

void CheckValue(const TBigInt& A, const char* operation) {
    const bool holdsValue = A.Digits.size() >= 2 && A.Digits[0] >= 1 &&
                            static_cast<std::size_t>(A.Digits[0]) == A.Digits.size() - 1;
    ZARN_ASSERT(holdsValue, std::string(operation) + ": the record holds no value.", kSourceName);
    const Digit top = A.Digits.back();
    const bool normal = top >= 0 && top <= static_cast<Digit>(kDigitMask) && (top != 0 || A.Digits[0] == 1);
    ZARN_ASSERT(normal, std::string(operation) + ": the record is not in normal form.", kSourceName);
}

void Resize(TBigInt& A, std::size_t n) {
    A.Digits.resize(n + 1);
    A.Digits[0] = static_cast<Digit>(n);
}

void Normalize(TBigInt& A) {
    const std::size_t n = SignificantCount(DigitsOf(A), A.Digits.size() - 1);
    Resize(A, n);
}

void SetSmall(TBigInt& A, std::uint64_t value) {
    A.Positive = 1;
    Resize(A, 3);
    A.Digits[1] = static_cast<Digit>(value & kDigitMask);
    A.Digits[2] = static_cast<Digit>((value >> kDigitBits) & kDigitMask);
    A.Digits[3] = static_cast<Digit>(value >> (2 * kDigitBits));
    Normalize(A);
}

void Repack(const std::uint64_t* in, std::size_t inCount, int inBits, std::uint64_t* out,
            std::size_t outCount, int outBits) {
    // Two elements to one and one to two, as the digit-pair products regroup digits, in loops of
    // their own: the general loop below costs more than the products it serves at these sizes.
    if (outBits == 2 * inBits) {
        const std::size_t whole = std::min(outCount, inCount / 2);
        for (std::size_t j = 0; j < whole; ++j)
            out[j] = in[2 * j] | (in[2 * j + 1] << inBits);
        for (std::size_t j = whole; j < outCount; ++j)
            out[j] = 2 * j < inCount ? in[2 * j] : 0;
        return;
    }
    if (inBits == 2 * outBits) {
        const std::uint64_t mask = (std::uint64_t{1} << outBits) - 1;
        const std::size_t whole = std::min(outCount / 2, inCount);
        for (std::size_t m = 0; m < whole; ++m) {
            out[2 * m] = in[m] & mask;
            out[2 * m + 1] = in[m] >> outBits;
        }
        for (std::size_t j = 2 * whole; j < outCount; ++j)
            out[j] = j / 2 < inCount ? (in[j / 2] >> (j % 2 * outBits)) & mask : 0;
        return;
    }
    std::size_t at = 0; // out[j] starts at bit `offset` of in[at]
    int offset = 0;
    for (std::size_t j = 0; j < outCount; ++j) {
        std::uint64_t value = at < inCount ? in[at] >> offset : 0;
        std::size_t i = at;
        for (int filled = inBits - offset; filled < outBits && ++i < inCount; filled += inBits)
            value |= in[i] << filled;
        out[j] = outBits == 64 ? value : value & ((std::uint64_t{1} << outBits) - 1);
        for (offset += outBits; offset >= inBits; offset -= inBits)
            ++at;
    }
}

} // namespace bigint

using namespace bigint;

namespace detail {

std::uint8_t BitsToByte(const std::string& Bits) {
    std::uint8_t value = 0;
    for (std::size_t k = 1; k <= 8 && k <= Bits.size(); ++k) {
        if (Bits[k - 1] == '1')
            value = static_cast<std::uint8_t>(value | (1u << (8 - k)));
    }
    return value;
}

std::array<std::string, 256> BuildByteBitTable() {
    std::array<std::string, 256> table;
    for (unsigned v = 0; v < 256; ++v) {
        std::string text(8, '0');
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((v >> bit) & 1u)
                text[7 - bit] = '1';
        }
        table[BitsToByte(text)] = text;
    }
    return table;
}

namespace {

// r * 10^9 + chunk stays below 2^63 for r < d <= 2^32 and chunk < 2^31.
std::int64_t DivideChunks(TBigInt& Chunks, std::uint64_t d) {
    std::uint64_t r = 0;
    const std::size_t c = Count(Chunks);
    for (std::size_t i = c; i >= 1; --i) {
        const std::uint64_t v = r * 1000000000u + static_cast<std::uint64_t>(Chunks.Digits[i]);
        Chunks.Digits[i] = static_cast<Digit>(v / d);
        r = v % d;
    }
    Normalize(Chunks);
    return static_cast<std::int64_t>(r);
}

} // namespace

std::int64_t DecimalChunksDivSmall(TBigInt& Chunks, std::int64_t d) {
    CheckValue(Chunks, "DecimalChunksDivSmall");
    if (d == 0)
        throw EDivByZero();
    ZARN_ASSERT(d > 0 && d <= (std::int64_t{1} << 32), "DecimalChunksDivSmall: divisor out of range.",
                kSourceName);
    return DivideChunks(Chunks, static_cast<std::uint64_t>(d));
}

} // namespace detail

namespace {

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

// One chunk of 1 to 9 decimal digits; anything else is the conversion error for that chunk.
Digit ChunkValue(std::string_view chunk) {
    const bool valid =
        !chunk.empty() && chunk.size() <= 9 && std::all_of(chunk.begin(), chunk.end(), IsDecimalDigit);
    if (!valid)
        throw EConvertError(InvalidIntegerMessage(std::string(chunk)));
    Digit value = 0;
    for (const char c : chunk)
        value = value * 10 + (c - '0');
    return value;
}

} // namespace

void BigIntFromDecimal(const std::string& Text, TBigInt& R) {
    if (Text.empty())
        throw EConvertError(InvalidIntegerMessage(""));
    std::string_view text(Text);
    while (text.size() > 1 && text.front() != '-' && !IsDecimalDigit(text.front()))
        text.remove_prefix(1);
    const bool negative = text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    while (text.size() > 1 && text.front() == '0')
        text.remove_prefix(1);

    // Base-10^9 chunks in the record layout, least significant first.
    const std::size_t c = (text.size() + 8) / 9;
    if (c == 0)
        throw EConvertError(InvalidIntegerMessage(""));
    TBigInt chunks;
    Resize(chunks, c);
    for (std::size_t i = 1; i < c; ++i) {
        chunks.Digits[i] = ChunkValue(text.substr(text.size() - 9));
        text.remove_suffix(9);
    }
    chunks.Digits[c] = ChunkValue(text);

    // Halving the chunk number yields the bits from the least significant up.
    std::string bits;
    while (!IsZero(chunks))
        bits.push_back(static_cast<char>('0' + detail::DivideChunks(chunks, 2)));
    if (bits.empty())
        bits.push_back('0');
    std::reverse(bits.begin(), bits.end());
    BigIntDestroy(chunks);

    BigIntFromBinary(bits, R);
    R.Positive = negative ? 0 : 1;
}

void BigIntFromBinary(const std::string& Bits, TBigInt& R) {
    if (Bits.empty())
        throw EConvertError(InvalidIntegerMessage(""));
    const std::size_t n = (Bits.size() + kDigitBits - 1) / kDigitBits;
    Resize(R, n);
    std::fill(R.Digits.begin() + 1, R.Digits.end(), 0);
    const std::size_t length = Bits.size();
    for (std::size_t k = 0; k < length; ++k) {
        if (Bits[length - 1 - k] == '1')
            R.Digits[k / kDigitBits + 1] |= Digit{1} << (k % kDigitBits);
    }
    Normalize(R);
    R.Positive = 1;
}

std::string BigIntToBinary(const TBigInt& A) {
    CheckValue(A, "BigIntToBinary");
    const std::size_t n = Count(A);
    std::string text(kDigitBits * n, '0');
    for (std::size_t i = 1; i <= n; ++i) {
        for (int b = 0; b < kDigitBits; ++b) {
            if ((A.Digits[i] >> b) & 1)
                text[text.size() - 1 - ((i - 1) * kDigitBits + b)] = '1';
        }
    }
    const std::size_t first = std::min(text.find('1'), text.size() - 1);
    return text.substr(first);
}

std::string BigIntToBytes(const TBigInt& A) {
    std::string bits = BigIntToBinary(A);
    if (bits.size() % 8 != 0)
        bits.insert(0, 8 - bits.size() % 8, '0');
    std::string bytes;
    bytes.reserve(bits.size() / 8);
    for (std::size_t i = 0; i < bits.size(); i += 8)
        bytes.push_back(static_cast<char>(detail::BitsToByte(bits.substr(i, 8))));
    return bytes;
}

void BigIntFromBytes(const std::string& Bytes, TBigInt& R) {
    if (Bytes.empty())
        throw EConvertError(InvalidIntegerMessage(""));
    const std::array<std::string, 256> table = detail::BuildByteBitTable();
    std::string bits;
    bits.reserve(8 * Bytes.size());
    for (const char byte : Bytes)
        bits += table[static_cast<unsigned char>(byte)];
    const std::size_t first = std::min(bits.find('1'), bits.size() - 1);
    BigIntFromBinary(bits.substr(first), R);
}

void BigIntCopy(const TBigInt& A, TBigInt& R) {
    CheckValue(A, "BigIntCopy");
    if (&A == &R)
        return;
    R.Positive = A.Positive;
    R.Digits.assign(A.Digits.begin(), A.Digits.end());
}

void BigIntDestroy(TBigInt& A) {
    std::vector<std::int64_t>().swap(A.Digits);
}

} // namespace zarn
