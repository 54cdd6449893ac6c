#pragma once
// The key and password computations of the PDF Standard security handler, revisions 2 to 4
// (RC4 and AES-128). Pure functions of the Encrypt dictionary's values and the file ID.
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// What a password unlocked.
struct KVPDFUnlockedKey {
    QByteArray key;          // the file key; empty when the password passed at no length
    QByteArray userPassword; // the user password as given, or padded as O gave it to the owner
    bool owner = false;      // the password is the owner's
    int lengthBits = 0;      // the lengthBits the password passed at
};

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
    // The values of lengthBits to try in turn when no password passes at the stated length:
    // the stated one (or its default) first, then 128, then 40 to 120 in steps of 8. Files
    // whose Length is missing or wrong were often written with 128-bit keys. Revision 2 keys
    // are always 40 bits, so there only the stated value. A wrong password stays wrong at
    // every length: U is compared over at least 16 bytes.
    QList<int> lengthsToTry() const;
    QByteArray fileKey(const QByteArray &password) const;
    // U for `password` (its last 16 bytes random for revision 3 and later).
    QByteArray computeUserValue(const QByteArray &password) const;
    // O from the owner password; an empty owner password takes the user password.
    QByteArray computeOwnerValue(const QByteArray &ownerPassword, const QByteArray &userPassword) const;
    // The file key when `password` is the user password, else empty.
    QByteArray authenticateUser(const QByteArray &password) const;
    // The padded user password O unlocks when `password` is the owner password, else empty.
    QByteArray authenticateOwner(const QByteArray &password) const;
    // The first of `forms` that passes as the owner password (with asOwnerToo) or else as the
    // user password, trying the forms at each of lengthsToTry() in turn.
    KVPDFUnlockedKey authenticate(const QList<QByteArray> &forms, bool asOwnerToo) const;

    // Per-object key; `aes` appends "sAlT" before hashing.
    static QByteArray objectKey(const QByteArray &fileKey, uint64_t number, uint64_t generation, bool aes);
};
