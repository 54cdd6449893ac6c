#include "KVProcess.h"

#include "KVLog.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<std::chrono::steady_clock::rep> g_lastInteraction{0};

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Removes the folder at exit, from the process that made it only.
struct TemporaryFolder {
    std::mutex mutex;
    QString path;
    pid_t owner = 0;
    bool tried = false;

    ~TemporaryFolder()
    {
        if (!path.isEmpty() && owner == getpid())
            QDir(path).removeRecursively();
    }
};

TemporaryFolder &temporaryFolder()
{
    static TemporaryFolder folder;
    return folder;
}

// A real folder (not a link) of this user that no one else may enter.
bool isPrivateFolder(const QByteArray &path, QString *why)
{
    struct stat st;
    if (lstat(path.constData(), &st) != 0) {
        *why = errnoText(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *why = QStringLiteral("not a folder");
        return false;
    }
    if (st.st_uid != geteuid()) {
        *why = QStringLiteral("owned by another user");
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        *why = QStringLiteral("open to other users");
        return false;
    }
    return true;
}

} // namespace

std::chrono::steady_clock::time_point lastInteractionTime()
{
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(g_lastInteraction.load(std::memory_order_relaxed)));
}

void setLastInteractionTime(std::chrono::steady_clock::time_point when)
{
    g_lastInteraction.store(when.time_since_epoch().count(), std::memory_order_relaxed);
}

int32_t JXNProcessors::numberOfProcessors()
{
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? int32_t(online) : 1;
}

QString kvTemporaryFolder()
{
    TemporaryFolder &folder = temporaryFolder();
    std::lock_guard<std::mutex> guard(folder.mutex);
    if (!folder.tried) {
        folder.tried = true;
        QByteArray templ = QFile::encodeName(QDir::tempPath() + QStringLiteral("/folivo-XXXXXX"));
        // mkdtemp makes the folder with mode 0700 and fails rather than reuse a name.
        if (mkdtemp(templ.data())) {
            folder.path = QFile::decodeName(templ);
            folder.owner = getpid();
        } else {
            kvLog(QStringLiteral("Cannot make the temporary folder under %1: %2").arg(QDir::tempPath(), errnoText(errno)));
        }
    }
    return folder.path;
}

std::unique_ptr<QFile> kvCreateTemporaryFile(const QString &name, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::unique_ptr<QFile>();
    };
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/')))
        return fail(QStringLiteral("not a file name: \"%1\"").arg(name));
    const QString folder = kvTemporaryFolder();
    if (folder.isEmpty())
        return fail(QStringLiteral("no temporary folder"));
    const QString path = folder + QLatin1Char('/') + name;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail(QStringLiteral("%1: %2").arg(path, errnoText(errno)));
    // The umask may only narrow the mode; make it exactly 0600 whatever it is.
    fchmod(fd, 0600);
    ::close(fd);
    // Opened again by name, since a QFile opened on a descriptor forgets its name; safe because
    // no one else may write in the folder.
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        return fail(QStringLiteral("%1: %2").arg(path, file->errorString()));
    return file;
}

QString kvRuntimeFolder()
{
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty()) {
        QString why = QStringLiteral("not an absolute path");
        if (xdg.startsWith('/') && isPrivateFolder(xdg, &why))
            return QFile::decodeName(xdg);
        kvLog(QStringLiteral("XDG_RUNTIME_DIR \"%1\" is not used: %2").arg(QFile::decodeName(xdg), why));
    }
    const QString fallback = QDir::tempPath() + QStringLiteral("/folivo-runtime-%1").arg(geteuid());
    const QByteArray path = QFile::encodeName(fallback);
    if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        kvLog(QStringLiteral("Cannot make the runtime folder %1: %2").arg(fallback, errnoText(errno)));
        return {};
    }
    // Opened without following a link, so the mode is tightened on the folder that was checked.
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
        const QString why = fd < 0 ? errnoText(errno) : QStringLiteral("owned by another user");
        if (fd >= 0)
            ::close(fd);
        kvLog(QStringLiteral("The runtime folder %1 is not used: %2").arg(fallback, why));
        return {};
    }
    if ((st.st_mode & 077) != 0)
        fchmod(fd, 0700);
    ::close(fd);
    return fallback;
}
