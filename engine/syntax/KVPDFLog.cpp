#include "KVPDFLog.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcEngine, "folivo.engine", QtWarningMsg)

namespace {
thread_local KVPDFLogCapture *t_capture = nullptr;
// A hostile file can produce one message per byte; past this many per thread only the capture sees them.
thread_local int t_logged = 0;
constexpr int kMaxLoggedPerThread = 2000;
}

void kvLog(const QString &message)
{
    if (t_capture) {
        for (KVPDFLogCapture *c = t_capture; c; c = c->previous())
            if (c->messages.size() < 100000)
                c->messages.append(message);
        return;
    }
    if (t_logged < kMaxLoggedPerThread) {
        ++t_logged;
        qCWarning(lcEngine).noquote() << message;
    }
}

KVPDFLogCapture::KVPDFLogCapture() : m_previous(t_capture) { t_capture = this; }

KVPDFLogCapture::~KVPDFLogCapture() { t_capture = m_previous; }

bool KVPDFLogCapture::contains(const QString &fragment) const
{
    for (const QString &m : messages)
        if (m.contains(fragment))
            return true;
    return false;
}
