#include "KVPDFServices.h"

#include <cmath>

namespace {
struct Slot {
    std::mutex lock;
    std::shared_ptr<const KVPDFServices> services = std::make_shared<const KVPDFServices>();
};

Slot &slot()
{
    // Never destroyed: documents torn down by other static objects may still ask for services.
    static Slot *instance = new Slot;
    return *instance;
}

std::shared_ptr<const KVPDFServices> sealed(KVPDFServices services)
{
    if (!services.sessionFileNames)
        services.sessionFileNames = std::make_shared<KVPDFSessionFileNames>();
    return std::make_shared<const KVPDFServices>(std::move(services));
}
}

void KVPDFSessionFileNames::remember(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QString &path)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_entries.begin(); it != m_entries.end();)
        it = it->second.dictionary.expired() ? m_entries.erase(it) : std::next(it);
    m_entries[dictionary.get()] = {dictionary, path};
}

QString KVPDFSessionFileNames::pathFor(const KVPDFObjectDictionary &dictionary) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_entries.find(&dictionary);
    // The address alone could belong to a new dictionary that took a freed one's place.
    if (it == m_entries.end() || it->second.dictionary.lock().get() != &dictionary)
        return QString();
    return it->second.path;
}

const KVPDFAnnotationClasses &KVPDFAnnotationClasses::engine()
{
    static const KVPDFAnnotationClasses classes = [] {
        KVPDFAnnotationClasses made;
        kvpdfRegisterEngineAnnotationClasses(made);
        return made;
    }();
    return classes;
}

KVPDFDefaultFont KVPDFServices::defaultTextFont()
{
    const std::shared_ptr<const KVPDFServices> services = installed();
    const KVPDFDefaultFont fallback;
    if (!services->defaultFont)
        return fallback;
    KVPDFDefaultFont font = services->defaultFont();
    if (font.name.isEmpty())
        font.name = fallback.name;
    if (!std::isfinite(font.size) || font.size <= 0)
        font.size = fallback.size;
    return font;
}

std::shared_ptr<const KVPDFServices> KVPDFServices::installed()
{
    Slot &s = slot();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.services;
}

void KVPDFServices::install(KVPDFServices services) { exchange(sealed(std::move(services))); }

std::shared_ptr<const KVPDFServices> KVPDFServices::exchange(std::shared_ptr<const KVPDFServices> services)
{
    Slot &s = slot();
    std::lock_guard<std::mutex> guard(s.lock);
    std::swap(s.services, services);
    return services;
}

KVPDFServices::Installer::Installer(KVPDFServices services) : m_previous(exchange(sealed(std::move(services)))) { }

KVPDFServices::Installer::~Installer() { exchange(std::move(m_previous)); }

std::shared_ptr<KVPDFImager> KVPDFImager::pooledPDFImagerForData(const QByteArray &data)
{
    std::shared_ptr<const KVPDFServices> services = KVPDFServices::installed();
    return services->imagerPool ? services->imagerPool->pooledPDFImagerForData(data) : nullptr;
}

QString KVPDFServices::localizedString(const QString &key)
{
    const std::shared_ptr<const KVPDFServices> services = installed();
    if (!services->localizedStrings)
        return key;
    const QString text = services->localizedStrings(key);
    return text.isNull() ? key : text;
}
