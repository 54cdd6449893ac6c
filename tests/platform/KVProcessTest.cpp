#include "KVProcess.h"

#include "KVLog.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

unsigned modeOf(const QString &path)
{
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return ~0u;
    return st.st_mode & 07777;
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray *value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        set(value);
    }
    ~ScopedEnv() { set(m_had ? &m_old : nullptr); }

private:
    void set(const QByteArray *value)
    {
        if (value)
            qputenv(m_name, *value);
        else
            qunsetenv(m_name);
    }
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(KVProcessTest, LastInteractionTimeIsSharedAcrossThreads)
{
    const auto before = lastInteractionTime();
    const auto when = std::chrono::steady_clock::now();
    std::thread([when] { setLastInteractionTime(when); }).join();
    EXPECT_EQ(lastInteractionTime(), when);
    setLastInteractionTime(before);
    EXPECT_GE(JXNProcessors::numberOfProcessors(), 1);
}

TEST(KVProcessTest, TemporaryFilesAreCreatedExclusivelyForTheUserOnly)
{
    const QString folder = kvTemporaryFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(kvTemporaryFolder(), folder) << "one folder per run";

    QString error;
    std::unique_ptr<QFile> file = kvCreateTemporaryFile("com.quorvane.folivo.data1", &error);
    ASSERT_TRUE(file) << error.toStdString();
    EXPECT_EQ(modeOf(file->fileName()), 0600u);
    EXPECT_EQ(QFileInfo(file->fileName()).absolutePath(), folder);
    EXPECT_EQ(file->write("%PDF-1.3\n"), 9);
    ASSERT_TRUE(file->flush());

    // A link planted under a name must not lead the file elsewhere.
    const QString target = folder + "/elsewhere";
    ASSERT_EQ(symlink(QFile::encodeName(target).constData(), QFile::encodeName(folder + "/planted").constData()), 0);

    struct Case {
        const char *name;
        QString fileName;
    };
    const std::vector<Case> refused = {
        {"second create under one name", "com.quorvane.folivo.data1"},
        {"a planted link", "planted"},
        {"empty name", ""},
        {"the folder itself", "."},
        {"its parent", ".."},
        {"a path out of the folder", "../escape"},
        {"a path into a subfolder", "sub/file"},
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(c.name);
        error.clear();
        EXPECT_FALSE(kvCreateTemporaryFile(c.fileName, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + "/escape"));
    QFile again(file->fileName());
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), "%PDF-1.3\n") << "the failed create left the first file alone";
}

TEST(KVProcessTest, TemporaryFolderIsGoneAfterTheProcessExits)
{
    struct Case {
        const char *name;
        QStringList arguments;
    };
    const std::vector<Case> cases = {
        {"plain exit", {}},
        {"a forked child exits first", {"fork"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QProcess child;
        child.start(FOLIVO_PROCESS_CHILD, c.arguments);
        ASSERT_TRUE(child.waitForFinished(30000));
        ASSERT_EQ(child.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
        const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines[0].startsWith(QDir::tempPath() + "/folivo-")) << lines[0].toStdString();
        EXPECT_EQ(lines[1], "700");
        if (c.arguments.contains("fork")) {
            ASSERT_EQ(lines.size(), 3);
            EXPECT_EQ(lines[2], "kept") << "the forked child removed its parent's folder";
        }
        EXPECT_FALSE(QFileInfo::exists(lines[0]));
    }
}

TEST(KVProcessTest, RuntimeFolderIsPrivateToTheUser)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QByteArray tmpPath = QFile::encodeName(tmp.path());
    const ScopedEnv tmpdir("TMPDIR", &tmpPath);
    const QString fallback = tmp.path() + QStringLiteral("/folivo-runtime-%1").arg(geteuid());

    const QString privateDir = tmp.path() + "/private";
    const QString openDir = tmp.path() + "/open";
    ASSERT_TRUE(QDir().mkdir(privateDir) && QDir().mkdir(openDir));
    chmod(QFile::encodeName(privateDir).constData(), 0700);
    chmod(QFile::encodeName(openDir).constData(), 0755);

    struct Case {
        const char *name;
        const char *xdg; // nullptr: unset
        std::function<void()> prepare;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"no XDG_RUNTIME_DIR: a folder of ours", nullptr, [] { }, fallback},
        {"a private XDG_RUNTIME_DIR", "private", [] { }, privateDir},
        {"an XDG_RUNTIME_DIR open to others", "open", [] { }, fallback},
        {"a relative XDG_RUNTIME_DIR", "relative", [] { }, fallback},
        {"a missing XDG_RUNTIME_DIR", "missing", [] { }, fallback},
        {"our folder left open to others is tightened", nullptr,
         [&] {
             QDir().mkdir(fallback);
             chmod(QFile::encodeName(fallback).constData(), 0777);
         },
         fallback},
        {"a link planted where our folder goes", nullptr,
         [&] { symlink(QFile::encodeName(openDir).constData(), QFile::encodeName(fallback).constData()); }, QString()},
        {"a file planted where our folder goes", nullptr,
         [&] {
             QFile planted(fallback);
             planted.open(QIODevice::WriteOnly);
         },
         QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QFileInfo left(fallback);
        if (left.isDir() && !left.isSymLink())
            QDir(fallback).removeRecursively();
        else
            QFile::remove(fallback);
        c.prepare();
        QByteArray xdg;
        if (c.xdg)
            xdg = QByteArray(c.xdg) == "relative" ? QByteArray("run/user") : tmpPath + '/' + c.xdg;
        const ScopedEnv env("XDG_RUNTIME_DIR", c.xdg ? &xdg : nullptr);
        KVPDFLogCapture capture;
        EXPECT_EQ(kvRuntimeFolder(), c.expected);
        if (!c.expected.isEmpty()) {
            EXPECT_EQ(modeOf(c.expected), 0700u);
        } else {
            EXPECT_FALSE(capture.messages.isEmpty()) << "a refusal says why";
        }
        EXPECT_EQ(modeOf(openDir), 0755u) << "the planted link was followed";
    }
}

} // namespace
