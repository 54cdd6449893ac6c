#include "KVPDFDestination.h"

#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectNull.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"

#include <QDir>
#include <QFileInfo>
#include <QRectF>
#include <QUrl>

#include <cmath>

namespace {
constexpr const char *kFitNames[] = {"", "XYZ", "Fit", "FitH", "FitV", "FitR", "FitB", "FitBH", "FitBV"};

KVPDFObjectPtr resolved(const KVPDFObjectPtr &object) { return object ? object->resolvedObject() : nullptr; }

QString textOf(const KVPDFObjectPtr &object)
{
    KVPDFObjectPtr value = resolved(object);
    if (auto string = kv_cast<KVPDFObjectString>(value))
        return string->stringValue();
    if (auto name = kv_cast<KVPDFObjectName>(value))
        return name->stringValue();
    return QString();
}

std::optional<double> operand(KVPDFObjectArray &array, size_t index)
{
    if (index >= array.count())
        return std::nullopt;
    KVPDFObjectPtr value = array.resolvedObjectAtIndex(index);
    if (!value || (value->objectType() != KVPDFObject::TypeInteger && value->objectType() != KVPDFObject::TypeReal))
        return std::nullopt;
    const double number = value->objectType() == KVPDFObject::TypeInteger ? double(value->longLongValue())
                                                                           : double(value->realValue());
    return std::isfinite(number) ? std::optional<double>(number) : std::nullopt;
}

KVPDFObjectPtr operandObject(const std::optional<double> &value)
{
    return value ? KVPDFObjectPtr(KVPDFObjectReal::realWithFloat(float(*value))) : KVPDFObjectPtr(KVPDFObjectNull::nullObject());
}

QString folderOf(const QString &documentPath)
{
    return documentPath.isEmpty() ? QString() : QFileInfo(documentPath).absolutePath();
}

// A file path as an absolute file address: a relative one is taken under the document's folder.
QString fileURLForPath(const QString &path, const QString &folder)
{
    if (path.isEmpty())
        return QString();
    if (QDir::isAbsolutePath(path) || folder.isEmpty())
        return QUrl::fromLocalFile(path).toString();
    return QUrl::fromLocalFile(QDir::cleanPath(QDir(folder).absoluteFilePath(path))).toString();
}
} // namespace

int KVPDFFitOperands::fitForName(const QByteArray &name)
{
    for (int fit = XYZ; fit <= FitBV; ++fit)
        if (name == kFitNames[fit])
            return fit;
    return None;
}

QByteArray KVPDFFitOperands::nameForFit(int fit) { return fit >= XYZ && fit <= FitBV ? QByteArray(kFitNames[fit]) : QByteArray(); }

KVPDFFitOperands KVPDFFitOperands::fromArray(KVPDFObjectArray &array)
{
    KVPDFFitOperands operands;
    auto name = kv_cast<KVPDFObjectName>(array.count() > 1 ? array.resolvedObjectAtIndex(1) : nullptr);
    operands.fit = name ? fitForName(name->bytes()) : None;
    switch (operands.fit) {
    case XYZ:
        operands.left = operand(array, 2);
        operands.top = operand(array, 3);
        operands.zoom = operand(array, 4);
        break;
    case FitH:
    case FitBH: operands.top = operand(array, 2); break;
    case FitV:
    case FitBV: operands.left = operand(array, 2); break;
    case FitR:
        operands.left = operand(array, 2);
        operands.bottom = operand(array, 3);
        operands.right = operand(array, 4);
        operands.top = operand(array, 5);
        break;
    default: break;
    }
    return operands;
}

void KVPDFFitOperands::appendTo(std::vector<KVPDFObjectPtr> &elements) const
{
    const QByteArray name = nameForFit(fit);
    if (name.isEmpty())
        return;
    elements.push_back(KVPDFObjectName::nameWithBytes(name));
    switch (fit) {
    case XYZ:
        for (const auto *value : {&left, &top, &zoom})
            elements.push_back(operandObject(*value));
        break;
    case FitH:
    case FitBH: elements.push_back(operandObject(top)); break;
    case FitV:
    case FitBV: elements.push_back(operandObject(left)); break;
    case FitR:
        for (const auto *value : {&left, &bottom, &right, &top})
            elements.push_back(operandObject(*value));
        break;
    default: break;
    }
}

std::shared_ptr<KVPDFDestination> KVPDFDestination::destinationFromDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary,
                                                                               KVPDFDocument &document)
{
    auto destination = std::make_shared<KVPDFDestination>();
    if (!dictionary)
        return destination;
    try {
        KVPDFObjectPtr dest = dictionary->objectForKey("Dest");
        if (!dest) {
            destination->m_action = dictionary->objectForKey("A");
            auto action = kv_cast<KVPDFObjectDictionary>(resolved(destination->m_action));
            const QByteArray kind = action ? action->nameForKey("S") : QByteArray();
            if (kind == "GoTo") {
                dest = action->objectForKey("D");
            } else if (kind == "URI") {
                destination->m_type = TypeURL;
                destination->m_url = textOf(action->objectForKey("URI"));
            } else if (kind == "GoToR") {
                destination->m_type = TypeFile;
                destination->m_url = fileAddress(action->objectForKey("F"), document.path());
            }
        }
        if (dest) {
            auto array = kv_cast<KVPDFObjectArray>(document.resolveDestination(dest));
            if (!array || !destination->readArray(*array, document))
                destination->m_unresolvedDest = dictionary->objectForKey("Dest");
        }
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("A destination could not be read: %1").arg(QString::fromStdString(failure.reason())));
    }
    return destination;
}

bool KVPDFDestination::readArray(KVPDFObjectArray &array, KVPDFDocument &document)
{
    if (array.count() == 0)
        return false;
    KVPDFObjectPtr first = array.objectAtIndex(0);
    std::shared_ptr<KVPDFPage> page;
    if (first && first->objectType() == KVPDFObject::TypeInteger) {
        // Some writers give a page index where a reference belongs.
        const int64_t index = first->longLongValue();
        if (index >= 0)
            page = document.pageAtIndex(size_t(index));
    } else {
        page = document.pageForReference(first);
    }
    if (!page)
        return false;
    m_type = TypePage;
    m_page = page;
    m_operands = KVPDFFitOperands::fromArray(array);
    return true;
}

QString KVPDFDestination::fileAddress(const KVPDFObjectPtr &file, const QString &documentPath)
{
    const QString folder = folderOf(documentPath);
    KVPDFObjectPtr value = resolved(file);
    if (value && value->objectType() == KVPDFObject::TypeString)
        return fileURLForPath(textOf(value), folder);
    auto specification = kv_cast<KVPDFObjectDictionary>(value);
    if (!specification)
        return QString();
    const QByteArray system = specification->nameForKey("FS");
    const QString f = textOf(specification->objectForKey("F"));
    if (system == "URL") {
        const QUrl url(f);
        if (url.isValid() && !f.isEmpty())
            return url.toString();
    } else if (system.isEmpty() && specification->objectForKey("Mac")) {
        // "Disk:folder:file": the parts after the volume under the document's folder, where
        // the file travels with the document.
        const QString mac = textOf(specification->objectForKey("Mac"));
        QStringList parts = mac.split(QLatin1Char(':'), Qt::SkipEmptyParts);
        if (parts.size() > 1)
            parts.removeFirst();
        const QString candidate = folder.isEmpty() ? QString() : QDir(folder).absoluteFilePath(parts.join(QLatin1Char('/')));
        if (!candidate.isEmpty() && QFileInfo::exists(candidate))
            return QUrl::fromLocalFile(QDir::cleanPath(candidate)).toString();
        if (f.isEmpty())
            return mac;
    }
    return fileURLForPath(f, folder);
}

void KVPDFDestination::setPage(const std::shared_ptr<KVPDFPage> &page)
{
    m_type = TypePage;
    m_page = page;
}

void KVPDFDestination::setBounds(const QRectF &rect)
{
    m_operands = {};
    m_operands.fit = KVPDFFitOperands::XYZ;
    m_operands.left = rect.x();
    m_operands.bottom = rect.y();
    m_operands.right = rect.x() + rect.width();
    m_operands.top = rect.y() + rect.height();
}

std::shared_ptr<KVPDFObjectArray> KVPDFDestination::pageDestination() const
{
    std::shared_ptr<KVPDFPage> target = page();
    if (m_type != TypePage || !target || !target->pageDictionary()) {
        kvLog(QStringLiteral("Attempting to create page destination dictionary for non-page destination"));
        return nullptr;
    }
    std::vector<KVPDFObjectPtr> elements{KVPDFObjectReference::referenceWithObject(target->pageDictionary())};
    m_operands.appendTo(elements);
    return KVPDFObjectArray::arrayWithArray(std::move(elements));
}

QString KVPDFDestination::description() const
{
    switch (m_type) {
    case TypeNone: return QStringLiteral("<<< unknown type >>>");
    case TypePage: {
        std::shared_ptr<KVPDFPage> target = page();
        const auto number = [](const std::optional<double> &value) {
            return value ? QString::number(*value, 'f', 1) : QStringLiteral("null");
        };
        return QStringLiteral("page:%1  fit:%2  %3 %4 %5 %6 %7%")
            .arg(target ? QString::number(target->pageNumberInDocument()) : QStringLiteral("(gone)"))
            .arg(m_operands.fit)
            .arg(number(m_operands.top), number(m_operands.left), number(m_operands.bottom), number(m_operands.right),
                 m_operands.zoom ? QString::number(*m_operands.zoom * 100, 'f', 0) : QStringLiteral("null"));
    }
    default: return QStringLiteral("type:%1  url:%2").arg(m_type).arg(m_url);
    }
}
