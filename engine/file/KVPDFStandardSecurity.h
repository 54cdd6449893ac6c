#pragma once
// The key and password computations of the PDF Standard security handler, revisions 2 to 4
// (RC4 and AES-128). Pure functions of the Encrypt dictionary's values and the file ID.
#include <QByteArray>
#include <QString>

#include <cstdint>

struct KVPDFStandardSecurity {
    int revision = 2;        // R
    int lengthBits = 0;      // Length, 0 when absent
    int32_t permissions = 0; // P
    QByteArray ownerValue;   // O
    QByteArray userValue;    // U
    QByteArray firstID;      // first element of the document ID
    bool encryptMetadata = true;

    static const QByteArray &padding();
    // The 32 padded password bytes of `password` as it is given.
    static QByteArray padPassword(const QByteArray &password);
    // The byte forms a typed password may have been stored in, most likely first: the text in
    // PDFDocEncoding where it has one, its UTF-8 bytes cut at its character count (how earlier
    // versions stored non-ASCII passwords) and its whole UTF-8 bytes.
    static QList<QByteArray> passwordForms(const QString &password);
    // The form a new password is stored in.
    static QByteArray passwordBytes(const QString &password);

    // File key length in bytes.
    int keyLength() const;
    QByteArray fileKey(const QByteArray &password) const;
    // U for `password` (its last 16 bytes random for revision 3 and later).
    QByteArray computeUserValue(const QByteArray &password) const;
    // O from the owner password; an empty owner password takes the user password.
    QByteArray computeOwnerValue(const QByteArray &ownerPassword, const QByteArray &userPassword) const;
    // The file key when `password` is the user password, else empty.
    QByteArray authenticateUser(const QByteArray &password) const;
    // The padded user password O unlocks when `password` is the owner password, else empty.
    QByteArray authenticateOwner(const QByteArray &password) const;

    // Per-object key; `aes` appends "sAlT" before hashing.
    static QByteArray objectKey(const QByteArray &fileKey, uint64_t number, uint64_t generation, bool aes);
};
