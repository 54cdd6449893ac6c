#include "KVPDFImage.h"

#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"

std::shared_ptr<KVPDFImage> KVPDFImage::imageWithXObject(const std::shared_ptr<KVPDFObjectStream> &xObject)
{
    return xObject ? std::make_shared<KVPDFImage>(xObject) : nullptr;
}

KVPDFImage::KVPDFImage(const std::shared_ptr<KVPDFObjectStream> &xObject) : m_xObject(xObject) { }

QString KVPDFImage::description() const
{
    return QStringLiteral("KVPDFImage %1: %2 %3 %4 %5")
        .arg(QString::fromLatin1(m_name))
        .arg(double(m_x))
        .arg(double(m_y))
        .arg(double(m_width))
        .arg(double(m_height));
}

void KVPDFImageCollector::xobject(const KVPDFContentEvent &, const QByteArray &, const std::shared_ptr<KVPDFObjectStream> &)
{
}
