#include "KVPDFGuards.h"

thread_local int KVPDFDepthGuard::s_depth = 0;
thread_local std::set<std::pair<const void *, uint64_t>> KVPDFResolveGuard::s_active;

KVPDFResolveGuard::KVPDFResolveGuard(const void *document, uint64_t number) : m_key(document, number)
{
    m_ok = m_depth.ok() && s_active.insert(m_key).second;
}

KVPDFResolveGuard::~KVPDFResolveGuard()
{
    if (m_ok)
        s_active.erase(m_key);
}
