#include "KVProfile.h"

#include <QDebug>
#include <QFile>

#include <lcms2.h>

namespace {
std::mutex providerLock;
KVProfile::DefaultPathProvider &provider()
{
    static KVProfile::DefaultPathProvider installed;
    return installed;
}

QString defaultPath(const QString &key)
{
    KVProfile::DefaultPathProvider current;
    {
        std::lock_guard<std::mutex> lock(providerLock);
        current = provider();
    }
    return current ? current(key) : QString();
}

QByteArray iccBytes(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile, nullptr, &size) || size == 0)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
        return {};
    bytes.resize(size);
    return bytes;
}
}

std::shared_ptr<KVProfile> KVProfile::adopt(Handle handle, const QString &path)
{
    if (!handle)
        return nullptr;
    std::shared_ptr<KVProfile> profile(new KVProfile);
    profile->m_ref = handle;
    profile->m_path = path;
    profile->m_class = uint32_t(cmsGetDeviceClass(handle));
    profile->m_space = uint32_t(cmsGetColorSpace(handle));
    return profile;
}

std::shared_ptr<KVProfile> KVProfile::profileWithPath(const QString &path)
{
    if (path.isEmpty())
        return std::shared_ptr<KVProfile>(new KVProfile);
    // Whole files are read by Qt, so that any path Qt can open opens, however long.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty())
        return nullptr;
    return adopt(cmsOpenProfileFromMem(bytes.constData(), cmsUInt32Number(bytes.size())), path);
}

std::shared_ptr<KVProfile> KVProfile::profileWithGenericRGB()
{
    return adopt(cmsCreate_sRGBProfile(), QString());
}

std::shared_ptr<KVProfile> KVProfile::profileWithGenericGray()
{
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    if (!gamma)
        return nullptr;
    cmsHPROFILE handle = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
    cmsFreeToneCurve(gamma);
    return adopt(handle, QString());
}

std::shared_ptr<KVProfile> KVProfile::profileDefaultRGB()
{
    const QString path = defaultPath(QStringLiteral("DefaultRGBProfile"));
    qDebug().noquote() << QStringLiteral("path = %1").arg(path);
    return profileWithPath(path);
}

std::shared_ptr<KVProfile> KVProfile::profileDefaultGray()
{
    return profileWithPath(defaultPath(QStringLiteral("DefaultGrayProfile")));
}

std::shared_ptr<KVProfile> KVProfile::profileDefaultCMYK()
{
    return profileWithPath(defaultPath(QStringLiteral("DefaultCMYKProfile")));
}

void KVProfile::setDefaultPathProvider(DefaultPathProvider installed)
{
    std::lock_guard<std::mutex> lock(providerLock);
    provider() = std::move(installed);
}

KVProfile::~KVProfile()
{
    if (m_ref)
        cmsCloseProfile(m_ref);
}

QColorSpace KVProfile::colorspace() const
{
    std::call_once(m_colorspaceOnce, [this] {
        if (m_ref)
            m_colorspace = QColorSpace::fromIccProfile(iccBytes(m_ref));
    });
    return m_colorspace;
}

QString KVProfile::description() const
{
    std::call_once(m_nameOnce, [this] {
        if (!m_ref)
            return;
        const cmsUInt32Number size = cmsGetProfileInfo(m_ref, cmsInfoDescription, "en", "US", nullptr, 0);
        if (size < sizeof(wchar_t))
            return;
        std::wstring text(size / sizeof(wchar_t), L'\0');
        cmsGetProfileInfo(m_ref, cmsInfoDescription, "en", "US", text.data(), size);
        m_name = QString::fromStdWString(text.c_str());
    });
    return m_name;
}

QImage KVImageCreateCopyWithDefaultSpace(const QImage &image)
{
    if (image.isNull() || image.colorSpace().isValid())
        return image;
    std::shared_ptr<KVProfile> profile;
    switch (image.pixelFormat().colorModel()) {
    case QPixelFormat::RGB:
    case QPixelFormat::BGR:
    case QPixelFormat::Indexed: profile = KVProfile::profileDefaultRGB(); break;
    case QPixelFormat::Grayscale: profile = KVProfile::profileDefaultGray(); break;
    default: break;
    }
    if (!profile || !profile->colorspace().isValid())
        return image;
    QImage copy = image;
    copy.setColorSpace(profile->colorspace());
    return copy.colorSpace().isValid() ? copy : image;
}
