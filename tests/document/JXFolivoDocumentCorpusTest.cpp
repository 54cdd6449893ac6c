// Every corpus file read through the application document (`kvprobe doc`, offscreen), against
// the page counts of the manifest.
#include "support/CorpusManifest.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {
// Where the document differs from the manifest's reference reader, and why. A row whose
// difference disappears fails, so the table stays true.
struct KnownDifference {
    const char *file;
    const char *reason;
};
const KnownDifference kKnownDifferences[] = {
    {"qpdf/enc-XI-R6,V5,U=view,O=master.pdf",
     "the AES-256 security handler is not supported: the read fails with the alert"},
};

bool isKnownDifference(const QString &file)
{
    for (const auto &row : kKnownDifferences) {
        if (file == QLatin1String(row.file))
            return true;
    }
    return false;
}
}

TEST(JXFolivoDocumentCorpusTest, EveryFileReadsToTheManifestsPageCount)
{
    const auto entries = readCorpusManifest();
    if (entries.empty())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    for (const auto &entry : entries) {
        SCOPED_TRACE(entry.file.toStdString());
        QStringList arguments{QStringLiteral("doc"), QDir(corpusDir()).filePath(entry.file)};
        if (!entry.password.isEmpty())
            arguments << QStringLiteral("--password") << entry.password;
        const ToolResult run = runTool(QStringLiteral(FOLIVO_KVPROBE), arguments, 60000);
        ASSERT_TRUE(run.started);
        ASSERT_EQ(run.exitCode, 0) << "crashed or hung: " << run.err.toStdString();
        const QJsonObject report = QJsonDocument::fromJson(run.out).object();
        ASSERT_FALSE(report.isEmpty());
        const bool read = report.value("read").toBool();
        const qint64 pages = report.value("pageCount").toInteger();
        // The application pages and the engine pages are the same list.
        EXPECT_EQ(pages, report.value("enginePageCount").toInteger());
        EXPECT_TRUE(report.value("prompts").toArray().isEmpty()) << "asked for a password it was given";
        if (isKnownDifference(entry.file)) {
            EXPECT_FALSE(read) << "difference gone: remove the row";
            const QJsonArray alerts = report.value("alerts").toArray();
            ASSERT_EQ(alerts.size(), 1);
            EXPECT_EQ(alerts[0].toObject().value("title").toString(), QStringLiteral("Unsupported Security Handler"));
            EXPECT_TRUE(alerts[0].toObject().value("message").toString().startsWith("FolivoPro does not support"));
            continue;
        }
        if (entry.pages < 0) {
            EXPECT_FALSE(read);
            EXPECT_EQ(pages, 0);
            EXPECT_FALSE(report.value("error").toString().isEmpty());
        } else {
            EXPECT_TRUE(read) << report.value("error").toString().toStdString();
            EXPECT_EQ(pages, entry.pages);
        }
    }
}

TEST(JXFolivoDocumentCorpusTest, BrokenFileFailsCleanlyWithTheRedrawDeclined)
{
    const QString path = QDir(corpusDir()).filePath(QStringLiteral("qpdf/bad1.pdf"));
    if (!QFile::exists(path))
        GTEST_SKIP() << "no corpus";
    const ToolResult run = runTool(QStringLiteral(FOLIVO_KVPROBE), {QStringLiteral("doc"), path, QStringLiteral("--redraw"),
                                                                    QStringLiteral("no")}, 60000);
    ASSERT_EQ(run.exitCode, 0);
    const QJsonObject report = QJsonDocument::fromJson(run.out).object();
    EXPECT_FALSE(report.value("read").toBool());
    EXPECT_EQ(report.value("pageCount").toInteger(), 0);
    EXPECT_FALSE(report.value("closed").toBool());
    EXPECT_TRUE(report.value("alerts").toArray().isEmpty());
}

TEST(JXFolivoDocumentCorpusTest, EncryptedFileAnswers)
{
    const QString path = QDir(corpusDir()).filePath(QStringLiteral("qpdf/enc-R3,V2,U=view,O=master.pdf"));
    if (!QFile::exists(path))
        GTEST_SKIP() << "no corpus";
    struct Case {
        const char *name;
        QStringList options;
        bool opens;
        int prompts;
    };
    const Case cases[] = {
        {"two failures then the password", {"--password-answers", "x,y,view"}, true, 3},
        {"three failures", {"--password-answers", "x,y,z"}, false, 3},
        {"preset", {"--password", "view"}, true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ToolResult run = runTool(QStringLiteral(FOLIVO_KVPROBE), QStringList{QStringLiteral("doc"), path} + c.options, 60000);
        ASSERT_EQ(run.exitCode, 0);
        const QJsonObject report = QJsonDocument::fromJson(run.out).object();
        EXPECT_EQ(report.value("pageCount").toInteger(), c.opens ? 30 : 0);
        EXPECT_EQ(report.value("closed").toBool(), !c.opens);
        const QJsonArray prompts = report.value("prompts").toArray();
        EXPECT_EQ(prompts.size(), c.prompts);
        for (int i = 1; i < prompts.size(); ++i)
            EXPECT_EQ(prompts[i].toObject().value("text").toString(), QStringLiteral("Password Incorrect. Try Again."));
        if (!c.opens) {
            EXPECT_GE(report.value("closedAfterMs").toInteger(), 950);
            EXPECT_LT(report.value("closedAfterMs").toInteger(), 3000);
        }
    }
}
