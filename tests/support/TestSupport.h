#pragma once
// Helpers shared by the test binaries: running peer tools, finding fixtures and writing them.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>

struct ToolResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool started = false;
};

inline ToolResult runTool(const QString &program, const QStringList &arguments, int timeoutMs = 120000)
{
    ToolResult result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return result;
    result.started = true;
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

inline QString corpusDir()
{
    const char *env = std::getenv("FOLIVO_CORPUS");
    return QString::fromLocal8Bit(env && *env ? env : FOLIVO_DEFAULT_CORPUS);
}

inline QString testDataDir() { return QStringLiteral(FOLIVO_TEST_DATA); }

// Writes `data` to `name` in `dir`; the file's path, or empty when it could not be written whole.
inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        return {};
    return path;
}
