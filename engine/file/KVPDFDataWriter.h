#pragma once
// Where the full-rewrite writer sends a PDF file's bytes, chunk by chunk, while it needs the
// number of bytes written so far for the cross-reference offsets. Three writers share the
// interface: KVPDFDataWriter only counts, KVPDFMutableDataWriter collects in memory and
// KVPDFFileDataWriter writes a file.
//
// Errors are sticky: once an append fails, ok() stays false, later appends do nothing and
// answer false, and the file writer's close() answers false. The count keeps growing by every
// chunk offered, so offsets computed during a failed write are meaningless but harmless.
// Threads: one thread at a time per writer.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <memory>

class KVPDFDataWriter {
public:
    KVPDFDataWriter() = default;
    virtual ~KVPDFDataWriter() = default;
    KVPDFDataWriter(const KVPDFDataWriter &) = delete;
    KVPDFDataWriter &operator=(const KVPDFDataWriter &) = delete;

    // Adds the chunk's length to the count. False once the writer has failed.
    virtual bool appendData(QByteArrayView chunk);
    // Bytes appended so far.
    uint64_t length() const { return m_count; }
    // False after any failed append (and, for files, a failed close).
    bool ok() const { return m_error.isEmpty(); }
    // The first failure, or empty.
    const QString &errorString() const { return m_error; }

protected:
    void fail(const QString &error)
    {
        if (m_error.isEmpty())
            m_error = error;
    }

    uint64_t m_count = 0;

private:
    QString m_error;
};

// Collects the bytes in one growable buffer.
class KVPDFMutableDataWriter : public KVPDFDataWriter {
public:
    bool appendData(QByteArrayView chunk) override;
    const QByteArray &data() const { return m_data; }

private:
    QByteArray m_data;
};

// Writes a file without ever leaving a half-written one at the target: the bytes go to a
// hidden temporary file in the target's folder, and close() flushes it to disk, renames it over
// the target and flushes the folder. Until that rename the old file is untouched. A writer
// destroyed without a successful close() removes its temporary file.
//
// A target that is a symbolic link is resolved: the file it points at is replaced and the link
// stays. The new file takes the mode (and, where allowed, the owner) of the file it replaces;
// a new file gets 0666 less the process umask, like any file the user creates.
class KVPDFFileDataWriter : public KVPDFDataWriter {
public:
    ~KVPDFFileDataWriter() override;

    // A writer for `path`, or nullptr with "failed to create file <path>" logged when the
    // temporary file cannot be made (missing or read-only folder, the path is a folder, an
    // existing target that is not writable). `error` (optional) receives the reason.
    static std::unique_ptr<KVPDFFileDataWriter> fileDataWriterWithName(const QString &path, QString *error = nullptr);

    // Buffers; writes to the temporary file whenever the buffer fills. A chunk of at least the
    // buffer's size goes to the file directly, without a copy.
    bool appendData(QByteArrayView chunk) override;
    // Writes what is buffered, flushes the file to disk, closes it and renames it over the
    // target. True only when every step succeeded; on false the target is unchanged and the
    // temporary file is gone. A second call answers the first result.
    bool close();

    const QString &filename() const { return m_filename; }
    // The temporary file while the writer is open; empty after close().
    const QString &temporaryFilename() const { return m_temporary; }

private:
    explicit KVPDFFileDataWriter(QString filename);
    bool flushBuffer();
    void discard();

    QString m_filename;  // the target, symbolic links resolved
    QString m_temporary; // the file being written, empty once renamed or removed
    QByteArray m_buffer;
    int m_fd = -1;
    bool m_closed = false;
    bool m_closeResult = false;
};
