#pragma once
// Diagnostics of the whole program. Recoverable defects are logged and work goes on; tests
// install a KVPDFLogCapture to assert on what was logged, since several behaviours show only in
// their log lines. Thread-safe: a capture sees only messages logged on its own thread.
//
// A hostile file can produce one message per byte, so each open may send only so many messages
// to the Qt log (kvpdf::kLogBudget); an open starts a new budget for its thread, so one bad
// file does not silence the files after it. Captures see every message.
//
// The log lives in the platform's shared library, so plug-ins log into the same captures.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// A recoverable defect of a file: what went wrong, and where when known (0 for unknown).
struct KVPDFWarning {
    QString message;
    uint64_t objectNumber = 0;
    uint64_t offset = 0; // of the object's bytes in the file
    bool operator==(const KVPDFWarning &) const = default;
};

void kvLog(const QString &message);
// A message that knows the object it is about.
void kvLog(const KVPDFWarning &warning);

namespace kvpdf {
constexpr int kLogBudget = 2000;
// Gives this thread a full budget again; a document calls it when an open starts.
void restartLogBudget();
}

// While alive, collects every message logged on the constructing thread (captures nest and
// each one collects). While any capture is alive, messages do not go to the Qt log.
struct KVPDFLogCapture {
    KVPDFLogCapture();
    ~KVPDFLogCapture();
    KVPDFLogCapture(const KVPDFLogCapture &) = delete;
    KVPDFLogCapture &operator=(const KVPDFLogCapture &) = delete;

    bool contains(const QString &fragment) const;
    KVPDFLogCapture *previous() const { return m_previous; }
    // Gives the latest record with `warning`'s message and no object its object and offset;
    // a message not collected yet is added.
    void locate(const KVPDFWarning &warning);

    QStringList messages;
    std::vector<KVPDFWarning> records; // the messages with where they arose, when known

private:
    KVPDFLogCapture *m_previous;
};
