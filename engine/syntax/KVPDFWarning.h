#pragma once
// KVPDFWarning itself, a defect with where it arose, is the log's record (KVLog.h).
#include "KVLog.h"

#include <QStringList>

#include <mutex>
#include <vector>

// The warnings of one document, in the order they were met. Holds at most kMaxRecords: a hostile
// file can produce one defect per byte. Threads: any number may add and read at once (streams of
// one document decoding on several threads report here).
class KVPDFWarningSink {
public:
    static constexpr size_t kMaxRecords = 100000;

    void add(KVPDFWarning warning)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_records.size() < kMaxRecords)
            m_records.push_back(std::move(warning));
    }
    std::vector<KVPDFWarning> records() const
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_records;
    }
    QStringList messages() const
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        QStringList out;
        out.reserve(qsizetype(m_records.size()));
        for (const KVPDFWarning &warning : m_records)
            out.append(warning.message);
        return out;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<KVPDFWarning> m_records;
};
