// The three output writers count what they are given; the file writer never leaves a damaged
// or half-written file at its target, and every failure reaches the caller.
#include "KVPDFDataWriter.h"
#include "KVPDFLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Every entry of the folder, hidden ones included: a leftover temporary file is a fault.
QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

mode_t modeOf(const QString &path)
{
    struct stat info { };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Root ignores permission bits; the child that checks a read-only folder drops to "nobody".
void dropPrivileges()
{
    if (::geteuid() != 0)
        return;
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
        std::_Exit(3);
}

class KVPDFDataWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // The privilege-dropping children must be able to reach the folder.
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        m_folder = m_dir.filePath(QStringLiteral("out"));
        ASSERT_TRUE(QDir().mkpath(m_folder));
        ::chmod(QFile::encodeName(m_folder).constData(), 0755);
        m_target = QDir(m_folder).filePath(QStringLiteral("document.pdf"));
    }

    QTemporaryDir m_dir;
    QString m_folder;
    QString m_target;
};
}

TEST_F(KVPDFDataWriterTest, LengthIsTheSumOfTheChunksForEveryWriter)
{
    const QByteArray chunks[] = {QByteArray("abc"), QByteArray(), QByteArray("defgh")};
    struct Case {
        const char *name;
        std::function<std::unique_ptr<KVPDFDataWriter>()> make;
    };
    const QString target = m_target;
    const Case cases[] = {
        {"counting", [] { return std::make_unique<KVPDFDataWriter>(); }},
        {"memory", [] { return std::make_unique<KVPDFMutableDataWriter>(); }},
        {"file", [target]() -> std::unique_ptr<KVPDFDataWriter> { return KVPDFFileDataWriter::fileDataWriterWithName(target); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<KVPDFDataWriter> writer = c.make();
        ASSERT_TRUE(writer);
        for (const QByteArray &chunk : chunks)
            EXPECT_TRUE(writer->appendData(chunk));
        EXPECT_EQ(writer->length(), 8u);
        EXPECT_TRUE(writer->ok());
        if (auto *memory = dynamic_cast<KVPDFMutableDataWriter *>(writer.get())) {
            EXPECT_EQ(memory->data(), QByteArray("abcdefgh"));
        }
        if (auto *file = dynamic_cast<KVPDFFileDataWriter *>(writer.get())) {
            ASSERT_TRUE(file->close());
            EXPECT_EQ(readFile(target), QByteArray("abcdefgh"));
        }
    }
}

TEST_F(KVPDFDataWriterTest, FileWriterIntoMissingFolderFailsAndLogs)
{
    const QString path = m_dir.filePath(QStringLiteral("missing/sub/document.pdf"));
    KVPDFLogCapture capture;
    QString error;
    EXPECT_EQ(KVPDFFileDataWriter::fileDataWriterWithName(path, &error), nullptr);
    EXPECT_TRUE(capture.contains(QStringLiteral("failed to create file ") + path)) << capture.messages.join('\n').toStdString();
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("missing"))));
}

TEST_F(KVPDFDataWriterTest, FileWriterOnAFolderFails)
{
    KVPDFLogCapture capture;
    EXPECT_EQ(KVPDFFileDataWriter::fileDataWriterWithName(m_folder), nullptr);
    EXPECT_TRUE(QFileInfo(m_folder).isDir());
}

TEST_F(KVPDFDataWriterTest, OldFileIsReplacedOnlyByASuccessfulClose)
{
    writeFile(m_target, "old contents");
    ::chmod(QFile::encodeName(m_target).constData(), 0640);
    auto writer = KVPDFFileDataWriter::fileDataWriterWithName(m_target);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->appendData("new contents, longer than the old"));
    // Until close the target is the old file and the bytes live in a temporary beside it.
    EXPECT_EQ(readFile(m_target), QByteArray("old contents"));
    EXPECT_EQ(QFileInfo(writer->temporaryFilename()).absolutePath(), QFileInfo(m_target).absolutePath());
    EXPECT_EQ(folderEntries(m_folder).size(), 2);
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(readFile(m_target), QByteArray("new contents, longer than the old"));
    EXPECT_EQ(folderEntries(m_folder), QStringList{QStringLiteral("document.pdf")});
    EXPECT_EQ(modeOf(m_target), mode_t(0640)) << "the replacement keeps the old file's mode";
    EXPECT_TRUE(writer->close()) << "a second close answers the first result";
    EXPECT_FALSE(writer->appendData("more")) << "nothing can be added after close";
}

TEST_F(KVPDFDataWriterTest, NewFileGetsTheModeTheUmaskAllows)
{
    const mode_t mask = ::umask(027);
    auto writer = KVPDFFileDataWriter::fileDataWriterWithName(m_target);
    ::umask(mask);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->appendData("x"));
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(modeOf(m_target), mode_t(0640));
}

TEST_F(KVPDFDataWriterTest, LargeChunksArriveWholeAndInOrder)
{
    QByteArray expected;
    auto writer = KVPDFFileDataWriter::fileDataWriterWithName(m_target);
    ASSERT_TRUE(writer);
    // Small chunks, one larger than the buffer, then small again.
    for (int i = 0; i < 1000; ++i) {
        const QByteArray chunk = QByteArray::number(i) + ' ';
        expected += chunk;
        ASSERT_TRUE(writer->appendData(chunk));
    }
    QByteArray big(3 * 1024 * 1024 + 17, 'b');
    for (qsizetype i = 0; i < big.size(); i += 4096)
        big[i] = char('A' + (i / 4096) % 26);
    expected += big;
    ASSERT_TRUE(writer->appendData(big));
    expected += "tail";
    ASSERT_TRUE(writer->appendData("tail"));
    EXPECT_EQ(writer->length(), uint64_t(expected.size()));
    ASSERT_TRUE(writer->close());
    EXPECT_TRUE(readFile(m_target) == expected);
}

TEST_F(KVPDFDataWriterTest, WriterDestroyedBeforeCloseLeavesTheOldFile)
{
    writeFile(m_target, "old contents");
    {
        auto writer = KVPDFFileDataWriter::fileDataWriterWithName(m_target);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->appendData(QByteArray(3 * 1024 * 1024, 'x'))); // some of it reached the disk
    }
    EXPECT_EQ(readFile(m_target), QByteArray("old contents"));
    EXPECT_EQ(folderEntries(m_folder), QStringList{QStringLiteral("document.pdf")}) << "the temporary file is removed";
}

TEST_F(KVPDFDataWriterTest, WritingThroughASymbolicLinkReplacesTheFileItPointsAt)
{
    writeFile(m_target, "old contents");
    const QString link = m_dir.filePath(QStringLiteral("link.pdf"));
    ASSERT_TRUE(QFile::link(m_target, link));
    auto writer = KVPDFFileDataWriter::fileDataWriterWithName(link);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->appendData("new"));
    ASSERT_TRUE(writer->close());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(m_target), QByteArray("new"));
}

TEST_F(KVPDFDataWriterTest, ReadOnlyFolderReportsAnErrorAndKeepsTheOldFile)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    writeFile(m_target, "old contents");
    // Writable file, read-only folder: only the folder stops the save.
    ::chmod(QFile::encodeName(m_target).constData(), 0666);
    ::chmod(QFile::encodeName(m_folder).constData(), 0555);
    const QString target = m_target;
    EXPECT_EXIT(
        {
            dropPrivileges();
            KVPDFLogCapture capture;
            auto writer = KVPDFFileDataWriter::fileDataWriterWithName(target);
            std::_Exit(!writer && capture.contains(QStringLiteral("failed to create file")) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::chmod(QFile::encodeName(m_folder).constData(), 0755);
    EXPECT_EQ(readFile(m_target), QByteArray("old contents"));
    EXPECT_EQ(folderEntries(m_folder), QStringList{QStringLiteral("document.pdf")});
}

TEST_F(KVPDFDataWriterTest, WriteErrorReachesTheCallerAndKeepsTheOldFile)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    writeFile(m_target, "old contents");
    const QString target = m_target;
    // A file size limit fails writes the way a full disk does (EFBIG instead of ENOSPC).
    EXPECT_EXIT(
        {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit { };
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 64 * 1024;
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                std::_Exit(3);
            KVPDFLogCapture capture;
            auto writer = KVPDFFileDataWriter::fileDataWriterWithName(target);
            if (!writer)
                std::_Exit(4);
            bool appended = true;
            for (int i = 0; i < 64; ++i)
                appended = writer->appendData(QByteArray(64 * 1024, 'x')) && appended;
            const bool closed = writer->close();
            std::_Exit(!appended && !closed && !writer->ok() && !writer->errorString().isEmpty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readFile(m_target), QByteArray("old contents"));
    EXPECT_EQ(folderEntries(m_folder), QStringList{QStringLiteral("document.pdf")}) << "the temporary file is removed";
}
