// The Standard security handler against qpdf: file keys, password results, owner status and
// permissions, on the encrypted corpus files and on files qpdf encrypts for the test.
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFStandardSecurity.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool qpdfSaysOwner(const QString &path, const QString &password)
{
    const ToolResult r =
        runTool(QStringLiteral("qpdf"), {QStringLiteral("--show-encryption"), QStringLiteral("--password=") + password, path});
    return r.out.contains("Supplied password is owner password");
}

QString qpdfKey(const QString &path, const QString &password)
{
    const ToolResult r =
        runTool(QStringLiteral("qpdf"), {QStringLiteral("--show-encryption"), QStringLiteral("--show-encryption-key"),
                                         QStringLiteral("--password=") + password, path});
    const auto match = QRegularExpression(QStringLiteral("Encryption key = ([0-9a-f]+)")).match(QString::fromUtf8(r.out));
    return match.hasMatch() ? match.captured(1) : QString();
}

struct Opened {
    std::shared_ptr<KVPDFDocument> document;
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    KVPDFPasswordResult validation = KVPDFPasswordResult::Refused;
};

Opened openWithPassword(const QByteArray &bytes, const QString &password)
{
    Opened opened;
    opened.document = KVPDFDocument::documentWithData(bytes, &opened.result);
    if (opened.result == KVPDFOpenNeedsPassword)
        opened.validation = opened.document->validatePassword(password);
    return opened;
}

struct KeyCase {
    const char *name;
    QString file; // corpus-relative, or a fixture name made below
    QString password;
    bool owner; // the password is the owner's
};
}

TEST(KVPDFSecurityTest, FileKeysMatchQpdfForCorpusFiles)
{
    const KeyCase cases[] = {
        {"R2 empty user password", QStringLiteral("qpdf/enc-R2,V1.pdf"), QString(), false},
        {"R2 user password", QStringLiteral("qpdf/enc-R2,V1,U=view,O=master.pdf"), QStringLiteral("view"), false},
        {"R2 owner password", QStringLiteral("qpdf/enc-R2,V1,U=view,O=master.pdf"), QStringLiteral("master"), true},
        {"R3 empty user password", QStringLiteral("qpdf/enc-R3,V2.pdf"), QString(), false},
        {"R3 user password", QStringLiteral("qpdf/enc-R3,V2,U=view,O=master.pdf"), QStringLiteral("view"), false},
        {"R3 owner password", QStringLiteral("qpdf/enc-R3,V2,U=view,O=master.pdf"), QStringLiteral("master"), true},
        {"R3 40-bit", QStringLiteral("qpdf/encrypted-40-bit-R3.pdf"), QStringLiteral("623"), false},
        {"R4 RC4", QStringLiteral("qpdf/V4.pdf"), QString(), false},
        {"R4 AES", QStringLiteral("qpdf/V4-aes.pdf"), QString(), false},
        {"R4 clear metadata", QStringLiteral("qpdf/V4-clearmeta.pdf"), QString(), false},
        {"32-character password", QStringLiteral("qpdf/enc-long-password.pdf"),
         QStringLiteral("asdf asdf asdf asdf asdf asdf qw"), false},
        {"images", QStringLiteral("qpdf/encrypted-with-images.pdf"), QString(), false},
    };
    for (const KeyCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QDir(corpusDir()).filePath(c.file);
        const Opened opened = openWithPassword(readFile(path), c.password);
        if (c.password.isEmpty()) {
            EXPECT_EQ(opened.result, KVPDFOpenOK);
        } else {
            EXPECT_EQ(opened.result, KVPDFOpenNeedsPassword);
            EXPECT_EQ(opened.validation, KVPDFPasswordResult::Accepted);
        }
        EXPECT_EQ(QString::fromLatin1(opened.document->fileKey().toHex()), qpdfKey(path, c.password));
        // Opening without a prompt never grants owner status, even where the owner password is empty.
        EXPECT_EQ(opened.document->isOwner(), !c.password.isEmpty() && qpdfSaysOwner(path, c.password));
        EXPECT_GT(opened.document->pageCount(), 0u);
        if (c.owner) {
            EXPECT_EQ(opened.document->accessPermissions(), int64_t(0xFFFFFFFC));
        }
    }
}

TEST(KVPDFSecurityTest, FilesEncryptedByQpdfOpenWithEitherPassword)
{
    QTemporaryDir dir;
    const QString plain = QDir(corpusDir()).filePath(QStringLiteral("qpdf/minimal-linearized.pdf"));
    struct Fixture {
        const char *name;
        QStringList encrypt;        // qpdf --encrypt arguments after the passwords
        bool withoutLength = false; // the Encrypt dictionary's Length blanked out afterwards
    };
    const Fixture fixtures[] = {
        {"RC4 40-bit", {QStringLiteral("40")}},
        {"RC4 128-bit", {QStringLiteral("128"), QStringLiteral("--use-aes=n")}},
        {"AES 128-bit", {QStringLiteral("128"), QStringLiteral("--use-aes=y")}},
        {"AES 128-bit clear metadata",
         {QStringLiteral("128"), QStringLiteral("--use-aes=y"), QStringLiteral("--cleartext-metadata")}},
        // Length is optional with crypt filters, whose methods fix the key at 128 bits.
        {"AES 128-bit without Length", {QStringLiteral("128"), QStringLiteral("--use-aes=y")}, true},
        {"RC4 crypt filter without Length",
         {QStringLiteral("128"), QStringLiteral("--use-aes=n"), QStringLiteral("--force-V4")},
         true},
    };
    for (const Fixture &f : fixtures) {
        SCOPED_TRACE(f.name);
        const QString out = dir.filePath(QString::fromLatin1(f.name).replace(QLatin1Char(' '), QLatin1Char('-')) + ".pdf");
        QStringList args{QStringLiteral("--allow-weak-crypto"), QStringLiteral("--encrypt"), QStringLiteral("üser"),
                         QStringLiteral("owner")};
        args += f.encrypt;
        args += {QStringLiteral("--"), plain, out};
        const ToolResult made = runTool(QStringLiteral("qpdf"), args);
        ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
        QByteArray bytes = readFile(out);
        if (f.withoutLength) {
            // Spaces of the same length keep every offset.
            ASSERT_EQ(bytes.count("/Length 128"), 1);
            bytes.replace("/Length 128", "           ");
            QFile rewritten(out);
            ASSERT_TRUE(rewritten.open(QIODevice::WriteOnly) && rewritten.write(bytes) == bytes.size());
        }
        for (const QString &password : {QStringLiteral("üser"), QStringLiteral("owner")}) {
            SCOPED_TRACE(password.toStdString());
            const Opened opened = openWithPassword(bytes, password);
            EXPECT_EQ(opened.result, KVPDFOpenNeedsPassword);
            EXPECT_EQ(opened.validation, KVPDFPasswordResult::Accepted);
            EXPECT_EQ(QString::fromLatin1(opened.document->fileKey().toHex()), qpdfKey(out, password));
            EXPECT_EQ(opened.document->isOwner(), password == QLatin1String("owner"));
            EXPECT_EQ(opened.document->pageCount(), 1u);
        }
    }
}

TEST(KVPDFSecurityTest, WrongPasswordChangesNothingAndAes256IsUnsupported)
{
    const QByteArray bytes = readFile(QDir(corpusDir()).filePath(QStringLiteral("qpdf/enc-R3,V2,U=view,O=master.pdf")));
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(bytes, &result);
    EXPECT_EQ(result, KVPDFOpenNeedsPassword);
    EXPECT_EQ(document->validatePassword(QStringLiteral("wrong")), KVPDFPasswordResult::Refused);
    EXPECT_TRUE(document->awaitingPassword());
    EXPECT_EQ(document->pageCount(), 0u);
    EXPECT_EQ(document->validatePassword(QStringLiteral("view")), KVPDFPasswordResult::Accepted);
    EXPECT_EQ(document->pageCount(), 30u);
    EXPECT_FALSE(document->isOwner());
    EXPECT_EQ(document->accessPermissions(), -3104);

    const QByteArray r6 = readFile(QDir(corpusDir()).filePath(QStringLiteral("qpdf/enc-XI-R6,V5,U=view,O=master.pdf")));
    auto unsupported = KVPDFDocument::documentWithData(r6, &result);
    EXPECT_EQ(result, KVPDFOpenUnsupportedSecurity);
    EXPECT_TRUE(unsupported->warnings().join(QLatin1Char('\n')).contains(QStringLiteral("does not support")));
    EXPECT_EQ(unsupported->validatePassword(QStringLiteral("view")), KVPDFPasswordResult::Refused);

    // A revision the handler does not know, over values an older revision would accept: a
    // password must not open what the handler refused.
    QByteArray r7 = bytes;
    ASSERT_EQ(r7.count("/R 3"), 1);
    r7.replace("/R 3", "/R 7");
    auto unknown = KVPDFDocument::documentWithData(r7, &result);
    EXPECT_EQ(result, KVPDFOpenUnsupportedSecurity);
    EXPECT_EQ(unknown->validatePassword(QStringLiteral("view")), KVPDFPasswordResult::Refused);
    EXPECT_EQ(unknown->pageCount(), 0u);
}

TEST(KVPDFSecurityTest, EmptyOwnerPasswordNeverUnlocksAProtectedFile)
{
    KVPDFStandardSecurity security;
    security.revision = 3;
    security.lengthBits = 128;
    security.permissions = -4;
    security.firstID = QByteArray(16, '\x42');
    security.ownerValue = security.computeOwnerValue(QByteArray(), "secret");
    security.userValue = security.computeUserValue("secret");
    EXPECT_TRUE(security.authenticateOwner(QByteArray()).isEmpty());
    EXPECT_TRUE(security.authenticateUser(QByteArray()).isEmpty());
    EXPECT_FALSE(security.authenticateUser("secret").isEmpty());
    // The user password stands in for the missing owner password.
    EXPECT_FALSE(security.authenticateOwner("secret").isEmpty());
}

TEST(KVPDFSecurityTest, NewPasswordsWriteThePermissionsHeldInMemory)
{
    const QByteArray bytes = readFile(QDir(corpusDir()).filePath(QStringLiteral("qpdf/minimal-linearized.pdf")));
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(bytes, &result);
    ASSERT_EQ(result, KVPDFOpenOK);
    // Print and copy allowed, changes not.
    document->setUserPassword(QStringLiteral("u"), QStringLiteral("o"), 0x4 | 0x10, true);
    auto encrypt = document->encryptDictionary();
    ASSERT_TRUE(encrypt);
    EXPECT_EQ(encrypt->integerForKey("V"), 1);
    EXPECT_EQ(encrypt->integerForKey("R"), 2);
    EXPECT_EQ(encrypt->integerForKey("Length"), 40);
    EXPECT_EQ(encrypt->integerForKey("P"), int32_t(0xFFFFFFD4));
    EXPECT_TRUE(document->isEncrypting());

    KVPDFStandardSecurity security;
    security.revision = 2;
    security.permissions = int32_t(encrypt->integerForKey("P"));
    security.ownerValue = kv_cast<KVPDFObjectString>(encrypt->objectForKey("O"))->stringData();
    security.userValue = kv_cast<KVPDFObjectString>(encrypt->objectForKey("U"))->stringData();
    security.firstID = document->firstIDBytes();
    EXPECT_FALSE(security.authenticateUser("u").isEmpty());
    EXPECT_FALSE(security.authenticateOwner("o").isEmpty());

    // Strings of the Encrypt dictionary are written as they are.
    encrypt->setObjectNumber(9);
    const QByteArray o = security.ownerValue;
    EXPECT_TRUE(encrypt->directObject().contains(o.toHex().toUpper()));

    document->setUserPassword(QString(), QString(), 0);
    EXPECT_FALSE(document->encryptDictionary());
    EXPECT_FALSE(document->isEncrypting());
}

TEST(KVPDFSecurityTest, ProbeReportsTheKeyAndTheOpenResult)
{
    const QString path = QDir(corpusDir()).filePath(QStringLiteral("qpdf/enc-R2,V1,U=view,O=master.pdf"));
    for (const QString &password : {QStringLiteral("view"), QStringLiteral("master")}) {
        const ToolResult key =
            runTool(QStringLiteral(FOLIVO_KVPROBE), {QStringLiteral("key"), path, QStringLiteral("--password"), password});
        ASSERT_EQ(key.exitCode, 0) << key.err.toStdString();
        EXPECT_EQ(key.out.trimmed(), "{\"key\":\"" + qpdfKey(path, password).toLatin1() + "\"}");
    }
    const ToolResult wrong = runTool(QStringLiteral(FOLIVO_KVPROBE),
                                     {QStringLiteral("info"), path, QStringLiteral("--password"), QStringLiteral("nope")});
    EXPECT_EQ(wrong.exitCode, 0);
    EXPECT_TRUE(wrong.out.contains("\"result\":1"));
    const ToolResult right = runTool(QStringLiteral(FOLIVO_KVPROBE),
                                     {QStringLiteral("info"), path, QStringLiteral("--password"), QStringLiteral("view")});
    EXPECT_TRUE(right.out.contains("\"result\":0"));
    EXPECT_TRUE(right.out.contains("\"pages\":30"));
}

TEST(KVPDFSecurityTest, PasswordsAddedToANewDocumentOpenItAfterSaving)
{
    // Documents made from the blank page get a fresh ID at open; the keys must follow that ID.
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(KVPDFBlankPage(), &result);
    ASSERT_EQ(result, KVPDFOpenOK);
    document->setUserPassword(QStringLiteral("user"), QStringLiteral("owner"), 0xFFFFFFFC);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("protected.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(path, {}));
    for (const QString &password : {QStringLiteral("user"), QStringLiteral("owner")}) {
        SCOPED_TRACE(password.toStdString());
        const Opened opened = openWithPassword(readFile(path), password);
        EXPECT_EQ(opened.result, KVPDFOpenNeedsPassword);
        EXPECT_EQ(opened.validation, KVPDFPasswordResult::Accepted);
        EXPECT_EQ(opened.document->pageCount(), 1u);
        EXPECT_EQ(QString::fromLatin1(opened.document->fileKey().toHex()), qpdfKey(path, password));
    }
}
