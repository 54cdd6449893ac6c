// The Standard security handler against qpdf: file keys, password results, owner status and
// permissions, on the encrypted corpus files and on files qpdf encrypts for the test.
#include "KVCrypto.h"
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

int qpdfPages(const QString &path, const QString &password)
{
    const ToolResult r =
        runTool(QStringLiteral("qpdf"), {QStringLiteral("--show-npages"), QStringLiteral("--password=") + password, path});
    bool ok = false;
    const int pages = r.out.trimmed().toInt(&ok);
    return ok ? pages : -1;
}

// Poppler's text of the file, opened with `password` as the user's or as the owner's.
QByteArray pdftotext(const QString &path, const QString &password, bool owner)
{
    return runTool(QStringLiteral("pdftotext"),
                   {owner ? QStringLiteral("-opw") : QStringLiteral("-upw"), password, path, QStringLiteral("-")})
        .out.trimmed();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// qpdf's copy of the one-page corpus file (its text is "Potato"), encrypted with RC4 under
// the user password `user` and the owner password "owner"; `plain` replaces the input.
QString encryptedByQpdf(const QTemporaryDir &dir, const QString &name, const QString &user, const QString &bits,
                        const QString &plain = QString())
{
    const QString input = plain.isEmpty() ? QDir(corpusDir()).filePath(QStringLiteral("qpdf/minimal-linearized.pdf")) : plain;
    const QString out = dir.filePath(name);
    QStringList args{QStringLiteral("--allow-weak-crypto"), QStringLiteral("--encrypt"), user, QStringLiteral("owner"), bits};
    if (bits == QLatin1String("128"))
        args << QStringLiteral("--use-aes=n");
    args << QStringLiteral("--") << input << out;
    const ToolResult made = runTool(QStringLiteral("qpdf"), args);
    return made.exitCode == 0 ? out : QString();
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

// Sets passwords "user" and "owner" on a one-page document and saves it: each password opens
// the saved file with the key qpdf finds.
static void expectNewPasswordsOpenTheSave(KVPDFDocument &document)
{
    document.setUserPassword(QStringLiteral("user"), QStringLiteral("owner"), 0xFFFFFFFC);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("protected.pdf"));
    ASSERT_TRUE(document.writeUpdatedDocument(path, {}));
    for (const QString &password : {QStringLiteral("user"), QStringLiteral("owner")}) {
        SCOPED_TRACE(password.toStdString());
        const Opened opened = openWithPassword(readFile(path), password);
        EXPECT_EQ(opened.result, KVPDFOpenNeedsPassword);
        EXPECT_EQ(opened.validation, KVPDFPasswordResult::Accepted);
        EXPECT_EQ(opened.document->pageCount(), 1u);
        EXPECT_EQ(QString::fromLatin1(opened.document->fileKey().toHex()), qpdfKey(path, password));
    }
}

TEST(KVPDFSecurityTest, PasswordsAddedToANewDocumentOpenItAfterSaving)
{
    // Documents made from the blank page get a fresh ID at open; the keys must follow that ID.
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(KVPDFBlankPage(), &result);
    ASSERT_EQ(result, KVPDFOpenOK);
    expectNewPasswordsOpenTheSave(*document);
}

TEST(KVPDFSecurityTest, KeyLengthIsFoundWhenTheLengthKeyDoesNotGiveIt)
{
    // The key is the one qpdf finds in the file before the edit. qpdf also reads the edited
    // file when Length is missing, not when it states another length; poppler reads neither.
    QTemporaryDir dir;
    struct Case {
        const char *name;
        QString user;     // the user password; "owner" is the owner's
        QString bits;     // qpdf's key length
        QByteArray edit;  // replaces "/Length <bits>"; empty keeps it
        bool qpdfReadsIt; // qpdf reads the edited file
    };
    const Case cases[] = {
        {"blanked, empty user password", QString(), QStringLiteral("128"), "           ", true},
        {"misspelt, empty user password", QString(), QStringLiteral("128"), "/Lxngth 128", true},
        {"blanked, user password", QStringLiteral("user"), QStringLiteral("128"), "           ", true},
        {"stated as 40", QStringLiteral("user"), QStringLiteral("128"), "/Length 40 ", false},
        {"stated as 96", QString(), QStringLiteral("128"), "/Length 96 ", false},
        {"40-bit, stated", QStringLiteral("user"), QStringLiteral("40"), QByteArray(), true},
        {"40-bit, blanked", QString(), QStringLiteral("40"), "          ", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString name =
            QString::fromLatin1(c.name).replace(QRegularExpression(QStringLiteral("[ ,]+")), QStringLiteral("-"));
        const QString made = encryptedByQpdf(dir, name + "-qpdf.pdf", c.user, c.bits);
        ASSERT_FALSE(made.isEmpty());
        QByteArray bytes = readFile(made);
        if (!c.edit.isEmpty()) {
            const QByteArray length = "/Length " + c.bits.toLatin1();
            ASSERT_EQ(bytes.count(length + " "), 1);
            bytes.replace(length + " ", c.edit + " ");
        }
        const QString path = dir.filePath(name + ".pdf");
        ASSERT_TRUE(writeBytes(path, bytes));

        for (const QString &password : {c.user, QStringLiteral("owner")}) {
            SCOPED_TRACE(password.toStdString());
            const Opened opened = openWithPassword(bytes, password);
            if (c.user.isEmpty()) {
                EXPECT_EQ(opened.result, KVPDFOpenOK);
            } else {
                EXPECT_EQ(opened.result, KVPDFOpenNeedsPassword);
                EXPECT_EQ(opened.validation, KVPDFPasswordResult::Accepted);
            }
            const QString key = qpdfKey(made, password);
            EXPECT_EQ(key.size(), c.bits.toInt() / 4);
            EXPECT_EQ(QString::fromLatin1(opened.document->fileKey().toHex()), key);
            EXPECT_EQ(int(opened.document->pageCount()), qpdfPages(made, password));
            if (c.qpdfReadsIt) {
                EXPECT_EQ(qpdfKey(path, password), key);
                EXPECT_EQ(qpdfPages(path, password), qpdfPages(made, password));
            }
        }
        if (!c.user.isEmpty()) {
            // No length lets a wrong password through.
            const Opened wrong = openWithPassword(bytes, QStringLiteral("wrong"));
            EXPECT_EQ(wrong.result, KVPDFOpenNeedsPassword);
            EXPECT_EQ(wrong.validation, KVPDFPasswordResult::Refused);
            EXPECT_TRUE(wrong.document->awaitingPassword());
            EXPECT_EQ(wrong.document->pageCount(), 0u);
        }

        // The saved file states the length it has, so a reader that trusts Length reads it.
        const QString saved = dir.filePath(name + "-saved.pdf");
        const Opened opened = openWithPassword(bytes, c.user);
        ASSERT_TRUE(opened.document->writeUpdatedDocument(saved, {}));
        EXPECT_EQ(qpdfKey(saved, c.user), qpdfKey(made, c.user));
        EXPECT_EQ(pdftotext(saved, c.user, false), "Potato");
    }
}

namespace {
enum class IDFault { Missing, NumberFirst, TemplateFirst };

// `bytes`, an RC4 file qpdf wrote with `key`, as a writer without a usable ID makes it: its keys
// made with empty ID bytes (every stream encrypted again, U made again) and the ID entry
// blanked or its first element a number. Every edit keeps its length, so offsets stay good.
QByteArray keyedWithoutID(const QByteArray &bytes, const QByteArray &userPassword, const QByteArray &key, IDFault fault)
{
    const QString text = QString::fromLatin1(bytes);
    const auto encrypt = QRegularExpression(QStringLiteral("/O <([0-9a-f]+)> /P (-?\\d+) /R (\\d)")).match(text);
    const auto u = QRegularExpression(QStringLiteral("/U <([0-9a-f]+)>")).match(text);
    const auto id = QRegularExpression(QStringLiteral("/ID \\[<[0-9a-f]+><([0-9a-f]+)>\\]")).match(text);
    if (!encrypt.hasMatch() || !u.hasMatch() || !id.hasMatch())
        return QByteArray();
    KVPDFStandardSecurity security;
    security.revision = encrypt.captured(3).toInt();
    security.lengthBits = int(key.size()) * 8;
    security.permissions = encrypt.captured(2).toInt();
    security.ownerValue = QByteArray::fromHex(encrypt.captured(1).toLatin1());
    const QByteArray emptyIDKey = security.fileKey(userPassword);

    QByteArray out = bytes;
    const QRegularExpression stream(QStringLiteral("(\\d+) (\\d+) obj\\s*<<[^\\n]*?/Length (\\d+)[^\\n]*>>\\s*stream\\r?\\n"));
    for (auto it = stream.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        const uint64_t number = m.captured(1).toULongLong();
        const uint64_t generation = m.captured(2).toULongLong();
        const qsizetype start = m.capturedEnd();
        const qsizetype length = m.captured(3).toLongLong();
        const QByteArray plain =
            kvcrypto::rc4(KVPDFStandardSecurity::objectKey(key, number, generation, false), bytes.mid(start, length));
        out.replace(start, length, kvcrypto::rc4(KVPDFStandardSecurity::objectKey(emptyIDKey, number, generation, false), plain));
    }
    out.replace(u.capturedStart(1), u.capturedLength(1), security.computeUserValue(userPassword).toHex());
    const QByteArray entry = fault == IDFault::NumberFirst ? "/ID [0 <" + id.captured(1).toLatin1() + ">]" : QByteArray();
    out.replace(id.capturedStart(), id.capturedLength(), entry.leftJustified(id.capturedLength(), ' '));
    return out;
}
}

TEST(KVPDFSecurityTest, SavesOfFilesWithoutAUsableIDOpenWithTheSamePasswords)
{
    // The save writes an ID of its own; RC4 keys depend on its first element, so U and the key
    // must be made with it, whichever password opened the file.
    QTemporaryDir dir;
    const QByteArray templateID = QByteArray::fromHex("7BEC2A5ED93F94FAA041DEAC2AEBF13B");
    // A plain copy whose first ID element is the blank template's, for qpdf to keep.
    const QString plainTemplate = dir.filePath(QStringLiteral("template-plain.pdf"));
    {
        const ToolResult plain = runTool(
            QStringLiteral("qpdf"), {QDir(corpusDir()).filePath(QStringLiteral("qpdf/minimal-linearized.pdf")), plainTemplate});
        ASSERT_EQ(plain.exitCode, 0);
        QByteArray bytes = readFile(plainTemplate);
        const auto id = QRegularExpression(QStringLiteral("/ID \\[<([0-9a-f]{32})>")).match(QString::fromLatin1(bytes));
        ASSERT_TRUE(id.hasMatch());
        bytes.replace(id.capturedStart(1), 32, templateID.toHex());
        ASSERT_TRUE(writeBytes(plainTemplate, bytes));
    }
    struct Case {
        const char *name;
        IDFault fault;
        QString user;          // the user password; "owner" is the owner's
        QString openedWith;    // the password the save follows (empty: opened without one)
        bool asStored = false; // opened as stored and saved here, else saved by kvprobe
    };
    const Case cases[] = {
        {"no ID, empty user password", IDFault::Missing, QString(), QString()},
        {"no ID, empty user password, owner", IDFault::Missing, QString(), QStringLiteral("owner")},
        {"no ID, user password", IDFault::Missing, QStringLiteral("user"), QStringLiteral("user")},
        {"no ID, owner password", IDFault::Missing, QStringLiteral("user"), QStringLiteral("owner")},
        {"number first, empty user password", IDFault::NumberFirst, QString(), QString()},
        {"number first, user password", IDFault::NumberFirst, QStringLiteral("user"), QStringLiteral("user")},
        {"number first, owner password", IDFault::NumberFirst, QStringLiteral("user"), QStringLiteral("owner")},
        {"template ID, user password", IDFault::TemplateFirst, QStringLiteral("user"), QStringLiteral("user")},
        {"template ID, empty user password", IDFault::TemplateFirst, QString(), QString()},
        {"no ID, as stored", IDFault::Missing, QStringLiteral("user"), QStringLiteral("user"), true},
        {"template ID, as stored", IDFault::TemplateFirst, QString(), QStringLiteral("owner"), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString name =
            QString::fromLatin1(c.name).replace(QRegularExpression(QStringLiteral("[ ,]+")), QStringLiteral("-"));
        const bool fromTemplate = c.fault == IDFault::TemplateFirst;
        const QString made =
            encryptedByQpdf(dir, name + "-qpdf.pdf", c.user, QStringLiteral("128"), fromTemplate ? plainTemplate : QString());
        ASSERT_FALSE(made.isEmpty());
        QByteArray fixture = readFile(made);
        if (fromTemplate)
            ASSERT_TRUE(fixture.contains("/ID [<" + templateID.toHex() + ">"));
        else
            fixture = keyedWithoutID(fixture, c.user.toLatin1(), QByteArray::fromHex(qpdfKey(made, c.user).toLatin1()), c.fault);
        const QString path = dir.filePath(name + ".pdf");
        ASSERT_TRUE(writeBytes(path, fixture));
        ASSERT_EQ(pdftotext(path, c.user, false), "Potato");

        const QString saved = dir.filePath(name + "-saved.pdf");
        if (c.asStored) {
            KVPDFOpenResult result = KVPDFOpenResult(-1);
            auto document = KVPDFDocument::documentWithData(fixture, &result, {}, KVPDFOpenMode::AsStored);
            if (result == KVPDFOpenNeedsPassword) {
                ASSERT_EQ(document->validatePassword(c.openedWith), KVPDFPasswordResult::Accepted);
            }
            ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));
        } else {
            QStringList arguments{QStringLiteral("save"), path, saved};
            if (!c.openedWith.isEmpty())
                arguments << QStringLiteral("--password") << c.openedWith;
            const ToolResult save = runTool(QStringLiteral(FOLIVO_KVPROBE), arguments);
            ASSERT_EQ(save.exitCode, 0) << save.err.toStdString();
        }
        const QByteArray savedBytes = readFile(saved);
        // Documents made from the blank page get an ID of their own.
        EXPECT_FALSE(savedBytes.toLower().contains(templateID.toHex()));

        for (const QString &password : {c.user, QStringLiteral("owner")}) {
            SCOPED_TRACE(password.toStdString());
            const bool owner = password == QLatin1String("owner");
            const Opened reopened = openWithPassword(savedBytes, password);
            if (c.user.isEmpty()) {
                EXPECT_EQ(reopened.result, KVPDFOpenOK);
                if (owner) {
                    EXPECT_EQ(reopened.document->validatePassword(password), KVPDFPasswordResult::Accepted);
                    EXPECT_TRUE(reopened.document->isOwner());
                }
            } else {
                EXPECT_EQ(reopened.validation, KVPDFPasswordResult::Accepted);
                EXPECT_EQ(reopened.document->isOwner(), owner);
            }
            EXPECT_EQ(reopened.document->pageCount(), 1u);
            const QString key = qpdfKey(saved, password);
            EXPECT_EQ(key.size(), 32);
            EXPECT_EQ(QString::fromLatin1(reopened.document->fileKey().toHex()), key);
            EXPECT_EQ(qpdfPages(saved, password), 1);
            EXPECT_EQ(pdftotext(saved, password, owner), "Potato");
        }
    }
}

TEST(KVPDFSecurityTest, PasswordsAddedToADocumentMadeFromNothingOpenItAfterSaving)
{
    // No bytes, so no ID until the save makes one: the keys must be made with that one.
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto source = KVPDFDocument::documentWithData(KVPDFBlankPage(), &result);
    ASSERT_EQ(result, KVPDFOpenOK);
    auto document = KVPDFDocument::documentWithData(QByteArray(), &result);
    ASSERT_EQ(result, KVPDFOpenOK);
    document->insertPage(source->pageAtIndex(0), 0);
    expectNewPasswordsOpenTheSave(*document);
}
