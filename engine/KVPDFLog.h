#pragma once
// Engine diagnostics. Recoverable defects are logged and parsing goes on; tests install a
// KVPDFLogCapture to assert on what was logged. Thread-safe: a capture sees only messages
// logged on its own thread.
#include <QStringList>

void kvLog(const QString &message);

// While alive, collects every message logged on the constructing thread (captures nest; the
// innermost one collects). Messages still go to the Qt log.
struct KVPDFLogCapture {
    KVPDFLogCapture();
    ~KVPDFLogCapture();
    KVPDFLogCapture(const KVPDFLogCapture &) = delete;
    KVPDFLogCapture &operator=(const KVPDFLogCapture &) = delete;

    bool contains(const QString &fragment) const;

    QStringList messages;

private:
    KVPDFLogCapture *m_previous;
};
