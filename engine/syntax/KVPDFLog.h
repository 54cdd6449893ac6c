#pragma once
// Engine diagnostics. Recoverable defects are logged and parsing goes on; tests install a
// KVPDFLogCapture to assert on what was logged. Thread-safe: a capture sees only messages
// logged on its own thread.
#include <QStringList>

void kvLog(const QString &message);

// While alive, collects every message logged on the constructing thread (captures nest and
// each one collects). While any capture is alive, messages do not go to the Qt log.
struct KVPDFLogCapture {
    KVPDFLogCapture();
    ~KVPDFLogCapture();
    KVPDFLogCapture(const KVPDFLogCapture &) = delete;
    KVPDFLogCapture &operator=(const KVPDFLogCapture &) = delete;

    bool contains(const QString &fragment) const;
    KVPDFLogCapture *previous() const { return m_previous; }

    QStringList messages;

private:
    KVPDFLogCapture *m_previous;
};
