#include "keyrecord/ZarnPublicKey.h"

#include "crypto/MessageDigests.h"
#include "encoding/STRStringUnit.h"
#include "encoding/UTCompressedNumeric.h"
#include "encoding/UTHHexUtilities.h"
#include "platform/AtomicWriter.h"
#include "platform/Files.h"
#include "platform/TextFileReader.h"

namespace zarn {

namespace {

// A record is at most 32 + 255 + 255 bytes; digits of a key line beyond that are never decoded,
// so the line search keeps no more of a line than this.
constexpr std::size_t kMaxRecordHexDigits = 2 * (32 + 255 + 255);

// Hexadecimal digits are kept, blanks and no-break spaces dropped; any other character marks the
// line as no key line, and the rest of it is skipped unstored.
const TLineFilter& KeyLineFilter() {
    static const TLineFilter filter = [] {
        TLineFilter result;
        for (int c = 0; c < 256; ++c)
            result.Classes[static_cast<std::size_t>(c)] =
                IsHexDigit(static_cast<char>(c)) ? TLineFilter::lfKeep : TLineFilter::lfReject;
        result.Classes[32] = TLineFilter::lfDrop;
        result.Classes[160] = TLineFilter::lfDrop;
        result.KeepLimit = kMaxRecordHexDigits;
        return result;
    }();
    return filter;
}

// Copies up to `length` bytes at `cursor` into `field` and moves the cursor on by `length`.
// False when fewer than `length` bytes were there.
bool TakeField(const std::string& record, std::size_t& cursor, std::size_t length, std::string& field) {
    const std::size_t available = cursor < record.size() ? record.size() - cursor : 0;
    field = record.substr(std::min(cursor, record.size()), std::min(length, available));
    cursor += length;
    return available >= length;
}

std::int32_t ByteValue(const std::string& field) {
    return static_cast<unsigned char>(field[0]);
}

std::int32_t Fail(std::int32_t status, const char* text, std::string& Message) {
    Message = text;
    return status;
}

// The SHA-1 digest of `bytes` as 40 upper-case hexadecimal digits.
std::string Sha1Hex(const std::string& bytes) {
    TSHA1 digest;
    digest.Transform(bytes);
    digest.Complete();
    return BytesToHex(digest.GetDigest());
}

// A one-byte field of the record text: the low 8 bits as two upper-case hexadecimal digits.
std::string OneByteField(std::int32_t value) {
    return BytesToHex(std::string(1, static_cast<char>(static_cast<std::uint32_t>(value) & 0xFF)));
}

} // namespace

TZarnPublicKey::TZarnPublicKey(QObject* owner) : QObject(owner) {}

TZarnPublicKey::~TZarnPublicKey() = default;

void TZarnPublicKey::SetFileDialogs(IFileDialogs* dialogs) {
    FFileDialogs = dialogs != nullptr ? dialogs : &FNoDialogs;
}

std::int32_t TZarnPublicKey::ImportKey(std::string& Message) {
    Message = "Import successfully completed!";
    std::int32_t status = 0;
    if (FShowFileDialog) {
        const std::optional<std::string> chosen = FFileDialogs->ExecuteOpenDialog(ExtractFileDir(FFileName));
        if (chosen) {
            FFileName = *chosen;
        } else {
            status = 1;
            Message = "Import aborted during file dialog";
        }
    }
    // Only a name that the system says does not exist is missing. Anything else that is not a
    // readable regular file (a folder, a device, a path without search permission, a loop of links)
    // raises in the read below, with its reason.
    if (status == 0 && PathIsMissing(FFileName)) {
        status = 2;
        Message = "File " + FFileName + " does not exist";
    }
    std::string line;
    if (status == 0) {
        status = FindKeyLine(line);
        if (status != 0)
            Message = "No key found";
    }
    if (status == 0)
        status = DecodeKeyRecord(line, Message);
    return status;
}

std::int32_t TZarnPublicKey::FindKeyLine(std::string& Line) {
    Line.clear();
    TTextFileReader file(FFileName);
    // The filter keeps hexadecimal digits, drops blanks and no-break spaces and rejects every other
    // byte, so the first line it accepts is the first that, blanks removed, is non-empty and made
    // only of hexadecimal digits.
    std::string found;
    if (file.FindLine(found, KeyLineFilter()))
        Line = found;
    return Line.empty() ? 1 : 0;
}

std::int32_t TZarnPublicKey::DecodeKeyRecord(const std::string& HexLine, std::string& Message) {
    const std::string record = HexToBytes(HexLine);
    std::size_t cursor = 0;
    std::string field;
    std::string digits;

    if (!TakeField(record, cursor, 5, field))
        return Fail(100, "Incorrect public key owner identifier", Message);
    if (TUTCompressedNumeric(0).CompressedToString(field, digits) != 0)
        return Fail(101, "Incorrect public key owner identifier (compressed numeric conversion failed)",
                    Message);
    FPublicKeyOwnerId = digits;

    if (!TakeField(record, cursor, 1, field))
        return Fail(102, "Incorrect public key index", Message);
    FPublicKeyIndex = ByteValue(field);

    if (!TakeField(record, cursor, 2, field))
        return Fail(103, "Incorrect public key expiration date", Message);
    if (TUTCompressedNumeric(0).CompressedToString(field, digits) != 0)
        return Fail(104, "Incorrect public key expiration date (compressed numeric conversion failed)",
                    Message);
    FPublicKeyExpDate = digits;

    if (!TakeField(record, cursor, 1, field))
        return Fail(105, "Incorrect hash algorithm indicator", Message);
    FHashAlgorithmIndicator = ByteValue(field);

    if (!TakeField(record, cursor, 1, field))
        return Fail(106, "Incorrect public key algorithm indicator", Message);
    FPublicKeyAlgorithmIndicator = ByteValue(field);

    if (!TakeField(record, cursor, 1, field))
        return Fail(107, "Incorrect public modulus length", Message);
    FPublicKeyModulusLength = ByteValue(field);

    if (!TakeField(record, cursor, 1, field))
        return Fail(108, "Incorrect public key exponent length", Message);
    FPublicKeyExponentLength = ByteValue(field);

    if (!TakeField(record, cursor, static_cast<std::size_t>(FPublicKeyModulusLength), field))
        return Fail(109, "Incorrect public key modulus", Message);
    FPublicKeyModulus = BytesToHex(field);

    if (!TakeField(record, cursor, static_cast<std::size_t>(FPublicKeyExponentLength), field))
        return Fail(110, "Incorrect public key exponent", Message);
    FPublicKeyExponent = BytesToHex(field);

    const std::size_t hashInputLength = cursor;
    if (!TakeField(record, cursor, 20, field))
        return Fail(111, "Incorrect hash result", Message);
    FHashResult = BytesToHex(field);

    if (FHashAlgorithmIndicator != 1)
        return Fail(112, "Hash algorithm indicator not 1, hash not verified", Message);
    FExpectedHashResult = Sha1Hex(record.substr(0, hashInputLength));
    if (FExpectedHashResult != FHashResult)
        return Fail(112, "Hash verification failed", Message);
    return 0;
}

std::int32_t TZarnPublicKey::ExportKey(std::string& Message) {
    Message = "Export successfully completed!";
    std::int32_t status = 0;
    const std::optional<IFileDialogs::TSaveChoice> chosen =
        FFileDialogs->ExecuteSaveDialogForWrite(ExtractFileDir(FFileName), true);
    if (!chosen) {
        Message = "Export aborted during file dialog";
        return 1;
    }
    FFileName = chosen->FileName;

    std::string record = RemoveBlanks(FPublicKeyOwnerId).substr(0, 10);
    record += OneByteField(FPublicKeyIndex);
    record += FPublicKeyExpDate;
    record += OneByteField(FHashAlgorithmIndicator);
    record += OneByteField(FPublicKeyAlgorithmIndicator);
    record += OneByteField(FPublicKeyModulusLength);
    record += OneByteField(FPublicKeyExponentLength);
    record += RemoveBlanks(FPublicKeyModulus);
    record += RemoveBlanks(FPublicKeyExponent);
    // Blanks go before hashing, so the hash covers exactly the bytes that are written.
    record = RemoveBlanks(record);

    if (FHashAlgorithmIndicator == 1) {
        FHashResult = Sha1Hex(HexToBytes(record));
        record += FHashResult;
    } else {
        status = 112;
        Message = "Hash algorithm indicator not 1, hash not set";
    }
    // A file that was not there when the dialog answered is never replaced: one that appeared
    // meanwhile raises EFileExists.
    TWriteOptions options;
    options.MayReplace = chosen->MayReplace;
    WriteTextFileLine(FFileName, record, options);
    return status;
}

} // namespace zarn
