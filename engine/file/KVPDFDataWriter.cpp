#include "KVPDFDataWriter.h"

#include "KVIdentifiers.h"
#include "KVPDFLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Objects arrive in chunks of a few hundred bytes; batch them into large writes.
constexpr qsizetype kBufferSize = 1 << 20;

QString systemError(const QString &what, int error)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

// Writes all of `size` bytes, riding out interrupted and partial writes. Answers 0 or errno.
int writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        data += written;
        size -= written;
    }
    return 0;
}
}

bool KVPDFDataWriter::appendData(QByteArrayView chunk)
{
    m_count += uint64_t(chunk.size());
    return ok();
}

bool KVPDFMutableDataWriter::appendData(QByteArrayView chunk)
{
    m_count += uint64_t(chunk.size());
    m_data.append(chunk);
    return ok();
}

KVPDFFileDataWriter::KVPDFFileDataWriter(QString filename) : m_filename(std::move(filename)) { }

KVPDFFileDataWriter::~KVPDFFileDataWriter() { discard(); }

void KVPDFFileDataWriter::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(QFile::encodeName(m_temporary).constData());
        m_temporary.clear();
    }
}

std::unique_ptr<KVPDFFileDataWriter> KVPDFFileDataWriter::fileDataWriterWithName(const QString &path, QString *error)
{
    auto refuse = [&path, error](const QString &reason) {
        kvLog(QStringLiteral("failed to create file %1").arg(path));
        kvLog(reason);
        if (error)
            *error = reason;
        return nullptr;
    };
    if (path.isEmpty())
        return refuse(QStringLiteral("No file name given"));

    // Replace the file a link points at, not the link: the user saved "through" the link.
    QString target = QFileInfo(path).absoluteFilePath();
    QFileInfo info(target);
    for (int depth = 0; info.isSymLink() && depth < 40; ++depth) {
        target = info.symLinkTarget();
        info.setFile(target);
    }
    const QByteArray targetName = QFile::encodeName(target);
    struct stat existing { };
    const bool exists = ::stat(targetName.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return refuse(QStringLiteral("%1 is a folder").arg(target));
    // Renaming over a file the user made read-only would succeed; respect the protection.
    if (exists && ::access(targetName.constData(), W_OK) != 0)
        return refuse(systemError(QStringLiteral("%1 is not writable").arg(target), errno));

    std::unique_ptr<KVPDFFileDataWriter> writer(new KVPDFFileDataWriter(target));
    const QString folder = info.absolutePath();
    int lastError = 0;
    for (int attempt = 0; attempt < 16 && writer->m_fd < 0; ++attempt) {
        const QString candidate = QDir(folder).filePath(
            QStringLiteral(".folivo-%1.tmp").arg(QString::fromLatin1(kvFreshIdentifierBytes().left(6).toHex())));
        // 0666 lets the umask decide a new file's mode, as for any file the user creates.
        writer->m_fd = ::open(QFile::encodeName(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (writer->m_fd >= 0)
            writer->m_temporary = candidate;
        else if ((lastError = errno) != EEXIST)
            break;
    }
    if (writer->m_fd < 0)
        return refuse(systemError(QStringLiteral("Cannot create a file in %1").arg(folder), lastError));
    if (exists) {
        // The replacement keeps the mode and owner of the file it replaces; an owner change
        // only a privileged process may make is skipped.
        ::fchmod(writer->m_fd, existing.st_mode & 07777);
        [[maybe_unused]] const int owned = ::fchown(writer->m_fd, existing.st_uid, existing.st_gid);
    }
    return writer;
}

bool KVPDFFileDataWriter::flushBuffer()
{
    if (m_buffer.isEmpty() || !ok())
        return ok();
    if (m_fd < 0) {
        fail(QStringLiteral("%1 is closed").arg(m_filename));
        return false;
    }
    if (const int error = writeAll(m_fd, m_buffer.constData(), m_buffer.size()))
        fail(systemError(QStringLiteral("Cannot write %1").arg(m_temporary), error));
    // resize, not clear: the buffer keeps its memory, so each flush does not fault in fresh pages.
    m_buffer.resize(0);
    return ok();
}

bool KVPDFFileDataWriter::appendData(QByteArrayView chunk)
{
    m_count += uint64_t(chunk.size());
    if (!ok())
        return false;
    if (m_closed || m_fd < 0) {
        fail(QStringLiteral("%1 is closed").arg(m_filename));
        return false;
    }
    if (m_buffer.size() + chunk.size() > kBufferSize && !flushBuffer())
        return false;
    if (chunk.size() >= kBufferSize) {
        if (const int error = writeAll(m_fd, chunk.constData(), chunk.size()))
            fail(systemError(QStringLiteral("Cannot write %1").arg(m_temporary), error));
        return ok();
    }
    if (m_buffer.capacity() < kBufferSize)
        m_buffer.reserve(kBufferSize);
    m_buffer.append(chunk);
    return true;
}

bool KVPDFFileDataWriter::close()
{
    if (m_closed)
        return m_closeResult;
    m_closed = true;
    if (m_fd < 0)
        fail(QStringLiteral("%1 is not open").arg(m_filename));
    flushBuffer();
    // Without the flush a crash shortly after the rename can leave an empty or partial file
    // under the target's name on some file systems.
    if (ok() && ::fsync(m_fd) != 0)
        fail(systemError(QStringLiteral("Cannot flush %1 to disk").arg(m_temporary), errno));
    if (m_fd >= 0) {
        // Network file systems may report a failed write only here.
        if (::close(m_fd) != 0)
            fail(systemError(QStringLiteral("Cannot close %1").arg(m_temporary), errno));
        m_fd = -1;
    }
    if (ok() && ::rename(QFile::encodeName(m_temporary).constData(), QFile::encodeName(m_filename).constData()) != 0)
        fail(systemError(QStringLiteral("Cannot replace %1").arg(m_filename), errno));
    if (!ok()) {
        kvLog(errorString());
        discard();
        return m_closeResult = false;
    }
    m_temporary.clear();
    // Make the rename itself durable. The new file is already in place, so a failure here is
    // logged, not reported as a failed save.
    const QByteArray folder = QFile::encodeName(QFileInfo(m_filename).absolutePath());
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        if (::fsync(folderFd) != 0 && errno != EINVAL)
            kvLog(systemError(QStringLiteral("Cannot flush folder %1").arg(QString::fromLocal8Bit(folder)), errno));
        ::close(folderFd);
    }
    return m_closeResult = true;
}
