// The corpus tests take their parameters from one manifest reader; a manifest saved with other
// line ends must give the same files, or the corpus test names would change with the checkout.
#include "support/CorpusManifest.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

std::vector<CorpusManifestEntry> readManifestText(const QByteArray &text)
{
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("manifest.tsv")));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    return readCorpusManifest(folder.path());
}

TEST(CorpusManifestTest, LineEndsAndBlankLinesGiveTheSameFiles)
{
    struct Case {
        const char *name;
        QByteArray text;
    };
    const std::vector<Case> cases = {
        {"LF", "file\tpages\tpassword\na.pdf\t3\t\nb.pdf\tERR\t\nc.pdf\t1\tsecret\n"},
        {"CR LF", "file\tpages\tpassword\r\na.pdf\t3\t\r\nb.pdf\tERR\t\r\nc.pdf\t1\tsecret\r\n"},
        {"no final line end", "file\tpages\tpassword\na.pdf\t3\t\nb.pdf\tERR\t\nc.pdf\t1\tsecret"},
        {"trailing empty lines", "file\tpages\tpassword\na.pdf\t3\t\nb.pdf\tERR\t\nc.pdf\t1\tsecret\n\n\r\n\n"},
        {"blank line inside", "file\tpages\tpassword\r\na.pdf\t3\t\r\n\r\nb.pdf\tERR\t\r\nc.pdf\t1\tsecret\r\n"},
        {"no empty password column", "file\tpages\tpassword\na.pdf\t3\nb.pdf\tERR\nc.pdf\t1\tsecret\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<CorpusManifestEntry> entries = readManifestText(c.text);
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].file, QStringLiteral("a.pdf"));
        EXPECT_EQ(entries[0].pages, 3);
        EXPECT_TRUE(entries[0].password.isEmpty());
        EXPECT_EQ(entries[1].file, QStringLiteral("b.pdf"));
        EXPECT_EQ(entries[1].pages, -1);
        EXPECT_EQ(entries[2].file, QStringLiteral("c.pdf"));
        EXPECT_EQ(entries[2].pages, 1);
        EXPECT_EQ(entries[2].password, QStringLiteral("secret"));
    }
}

TEST(CorpusManifestTest, MissingManifestGivesNoFiles)
{
    QTemporaryDir folder;
    EXPECT_TRUE(readCorpusManifest(folder.path()).empty());
}

} // namespace
