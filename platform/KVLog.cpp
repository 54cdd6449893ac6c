#include "KVLog.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcEngine, "folivo.engine", QtWarningMsg)

namespace {
thread_local KVPDFLogCapture *t_capture = nullptr;
// Messages sent to the Qt log since this thread's last open began.
thread_local int t_logged = 0;
constexpr qsizetype kMaxCaptured = 100000;
}

void kvpdf::restartLogBudget() { t_logged = 0; }

void kvLog(const QString &message) { kvLog(KVPDFWarning{message}); }

void kvLog(const KVPDFWarning &warning)
{
    if (t_capture) {
        for (KVPDFLogCapture *c = t_capture; c; c = c->previous())
            if (c->messages.size() < kMaxCaptured) {
                c->messages.append(warning.message);
                c->records.push_back(warning);
            }
        return;
    }
    if (t_logged < kvpdf::kLogBudget) {
        ++t_logged;
        qCWarning(lcEngine).noquote() << warning.message;
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

void KVPDFLogCapture::locate(const KVPDFWarning &warning)
{
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->message == warning.message && it->objectNumber == 0 && it->offset == 0) {
            it->objectNumber = warning.objectNumber;
            it->offset = warning.offset;
            return;
        }
    }
    if (messages.size() < kMaxCaptured) {
        messages.append(warning.message);
        records.push_back(warning);
    }
}
