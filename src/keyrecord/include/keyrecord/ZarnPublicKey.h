// TZarnPublicKey: one RSA public key record of the Zarn key scheme as the properties of a
// non-visual component, moved between those properties and a key file.
//
// Key file: an 8-bit text file whose first line that, without its blanks and no-break spaces, is
// made only of hexadecimal digits holds the record, two digits per byte. Record layout (bytes):
//
//   offset      length  field                            property
//   0           5       owner identifier, packed decimal PublicKeyOwnerId
//   5           1       key index                        PublicKeyIndex
//   6           2       expiration date, packed decimal  PublicKeyExpDate
//   8           1       hash algorithm indicator (1=SHA-1) HashAlgorithmIndicator
//   9           1       public-key algorithm indicator   PublicKeyAlgorithmIndicator
//   10          1       modulus length N                 PublicKeyModulusLength
//   11          1       exponent length E                PublicKeyExponentLength
//   12          N       modulus                          PublicKeyModulus (hex text)
//   12+N        E       exponent                         PublicKeyExponent (hex text)
//   12+N+E      20      SHA-1 over bytes 0..11+N+E       HashResult (hex text)
//
// The setters store the caller's value unchanged: nothing is trimmed, converted or validated.
// ImportKey and ExportKey report ordinary outcomes as a status (0 = success) and a message; only
// file-access failures raise (EInOutError), after every working object has been freed.
#pragma once

#include "platform/FileDialogs.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>

namespace zarn {

class TZarnPublicKey : public QObject {
    Q_OBJECT
    // The published properties, in streaming order. Strings are 8-bit; through the Qt property
    // system they travel as Latin-1 (each byte the character of the same code).
    Q_PROPERTY(QString PublicKeyOwnerId READ publicKeyOwnerIdProperty WRITE setPublicKeyOwnerIdProperty)
    Q_PROPERTY(int PublicKeyIndex READ GetPublicKeyIndex WRITE SetPublicKeyIndex)
    Q_PROPERTY(QString PublicKeyExpDate READ publicKeyExpDateProperty WRITE setPublicKeyExpDateProperty)
    Q_PROPERTY(int HashAlgorithmIndicator READ GetHashAlgorithmIndicator WRITE SetHashAlgorithmIndicator)
    Q_PROPERTY(int PublicKeyAlgorithmIndicator READ GetPublicKeyAlgorithmIndicator WRITE
                   SetPublicKeyAlgorithmIndicator)
    Q_PROPERTY(int PublicKeyModulusLength READ GetPublicKeyModulusLength WRITE SetPublicKeyModulusLength)
    Q_PROPERTY(int PublicKeyExponentLength READ GetPublicKeyExponentLength WRITE SetPublicKeyExponentLength)
    Q_PROPERTY(QString PublicKeyModulus READ publicKeyModulusProperty WRITE setPublicKeyModulusProperty)
    Q_PROPERTY(QString PublicKeyExponent READ publicKeyExponentProperty WRITE setPublicKeyExponentProperty)
    Q_PROPERTY(QString HashResult READ hashResultProperty WRITE setHashResultProperty)
    Q_PROPERTY(QString FileName READ fileNameProperty WRITE setFileNameProperty)
    Q_PROPERTY(bool ShowFileDialog READ GetShowFileDialog WRITE SetShowFileDialog)

public:
    // A fresh component: empty texts, zero numbers, ShowFileDialog false, and dialogs that cancel.
    explicit TZarnPublicKey(QObject* owner = nullptr);
    ~TZarnPublicKey() override;

    // Brings the record in from the key file: the open dialog (when ShowFileDialog), the existence
    // check, the key line search and the field-by-field decoding with SHA-1 verification. Status 2
    // only for a name that does not exist; a path that cannot be checked, or that is not a regular
    // file, raises EInOutError with the reason.
    std::int32_t ImportKey(std::string& Message);
    // Writes the record as a one-line key file chosen in the save dialog, with a fresh SHA-1 hash
    // when HashAlgorithmIndicator is 1. A file is replaced only when the dialog's answer allows it
    // (TSaveChoice::MayReplace); one that appeared after the answer raises EFileExists.
    std::int32_t ExportKey(std::string& Message);

    // The dialogs the component shows; the component does not own them. nullptr restores dialogs
    // that cancel every question.
    void SetFileDialogs(IFileDialogs* dialogs);
    IFileDialogs* GetFileDialogs() const { return FFileDialogs; }

    const std::string& GetPublicKeyOwnerId() const { return FPublicKeyOwnerId; }
    void SetPublicKeyOwnerId(const std::string& value) { FPublicKeyOwnerId = value; }
    std::int32_t GetPublicKeyIndex() const { return FPublicKeyIndex; }
    void SetPublicKeyIndex(std::int32_t value) { FPublicKeyIndex = value; }
    const std::string& GetPublicKeyExpDate() const { return FPublicKeyExpDate; }
    void SetPublicKeyExpDate(const std::string& value) { FPublicKeyExpDate = value; }
    std::int32_t GetHashAlgorithmIndicator() const { return FHashAlgorithmIndicator; }
    void SetHashAlgorithmIndicator(std::int32_t value) { FHashAlgorithmIndicator = value; }
    std::int32_t GetPublicKeyAlgorithmIndicator() const { return FPublicKeyAlgorithmIndicator; }
    void SetPublicKeyAlgorithmIndicator(std::int32_t value) { FPublicKeyAlgorithmIndicator = value; }
    std::int32_t GetPublicKeyModulusLength() const { return FPublicKeyModulusLength; }
    void SetPublicKeyModulusLength(std::int32_t value) { FPublicKeyModulusLength = value; }
    std::int32_t GetPublicKeyExponentLength() const { return FPublicKeyExponentLength; }
    void SetPublicKeyExponentLength(std::int32_t value) { FPublicKeyExponentLength = value; }
    const std::string& GetPublicKeyModulus() const { return FPublicKeyModulus; }
    void SetPublicKeyModulus(const std::string& value) { FPublicKeyModulus = value; }
    const std::string& GetPublicKeyExponent() const { return FPublicKeyExponent; }
    void SetPublicKeyExponent(const std::string& value) { FPublicKeyExponent = value; }
    const std::string& GetHashResult() const { return FHashResult; }
    void SetHashResult(const std::string& value) { FHashResult = value; }
    const std::string& GetExpectedHashResult() const { return FExpectedHashResult; }
    void SetExpectedHashResult(const std::string& value) { FExpectedHashResult = value; }
    const std::string& GetFileName() const { return FFileName; }
    void SetFileName(const std::string& value) { FFileName = value; }
    bool GetShowFileDialog() const { return FShowFileDialog; }
    void SetShowFileDialog(bool value) { FShowFileDialog = value; }

    // Finds the key line of the file named FileName: 0 with the line (blanks and no-break spaces
    // removed), or 1 with an empty line when there is none. Raises EInOutError when the file
    // cannot be read. Virtual so that tests can act between the existence check and the read.
    virtual std::int32_t FindKeyLine(std::string& Line);
    // Decodes `HexLine` field by field into the properties and verifies the hash. Writes Message
    // only when it fails.
    std::int32_t DecodeKeyRecord(const std::string& HexLine, std::string& Message);

private:
    QString publicKeyOwnerIdProperty() const { return QString::fromLatin1(FPublicKeyOwnerId); }
    void setPublicKeyOwnerIdProperty(const QString& value) {
        FPublicKeyOwnerId = value.toLatin1().toStdString();
    }
    QString publicKeyExpDateProperty() const { return QString::fromLatin1(FPublicKeyExpDate); }
    void setPublicKeyExpDateProperty(const QString& value) {
        FPublicKeyExpDate = value.toLatin1().toStdString();
    }
    QString publicKeyModulusProperty() const { return QString::fromLatin1(FPublicKeyModulus); }
    void setPublicKeyModulusProperty(const QString& value) {
        FPublicKeyModulus = value.toLatin1().toStdString();
    }
    QString publicKeyExponentProperty() const { return QString::fromLatin1(FPublicKeyExponent); }
    void setPublicKeyExponentProperty(const QString& value) {
        FPublicKeyExponent = value.toLatin1().toStdString();
    }
    QString hashResultProperty() const { return QString::fromLatin1(FHashResult); }
    void setHashResultProperty(const QString& value) { FHashResult = value.toLatin1().toStdString(); }
    QString fileNameProperty() const { return QString::fromLatin1(FFileName); }
    void setFileNameProperty(const QString& value) { FFileName = value.toLatin1().toStdString(); }

    std::string FPublicKeyOwnerId;
    std::int32_t FPublicKeyIndex = 0;
    std::string FPublicKeyExpDate;
    std::int32_t FHashAlgorithmIndicator = 0;
    std::int32_t FPublicKeyAlgorithmIndicator = 0;
    std::int32_t FPublicKeyModulusLength = 0;
    std::int32_t FPublicKeyExponentLength = 0;
    std::string FPublicKeyModulus;
    std::string FPublicKeyExponent;
    std::string FHashResult;
    std::string FExpectedHashResult;
    std::string FFileName;
    bool FShowFileDialog = false;

    TNoFileDialogs FNoDialogs;
    IFileDialogs* FFileDialogs = &FNoDialogs;
};

} // namespace zarn
