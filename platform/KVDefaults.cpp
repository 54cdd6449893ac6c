#include "KVDefaults.h"

#include "KVNotificationCenter.h"
#include "KVNumbers.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDevice>
#include <QIODevice>
#include <QSettings>
#include <QStandardPaths>

#include <cmath>

namespace {

// The settings file is JSON written and read here rather than through QJsonDocument, which
// reads 1.0 back as the integer 1 and writes the real 36.0 as "36": a reader could no longer
// tell what a key was stored as.

constexpr int kMaxDepth = 64;
const QString kDataTag = QStringLiteral("$data");
const QString kDateTag = QStringLiteral("$date");

bool isTaggedMap(const QVariantMap &map)
{
    return map.size() == 1 && (map.firstKey() == kDataTag || map.firstKey() == kDateTag);
}

void writeString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[u >> 4];
                out += hex[u & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// False for what the file cannot keep, with `out` then unspecified.
bool writeValue(QByteArray &out, const QVariant &value, int depth)
{
    if (depth > kMaxDepth)
        return false;
    switch (value.typeId()) {
    case QMetaType::Bool:
        out += value.toBool() ? "true" : "false";
        return true;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
        out += kvFormatSigned(value.toLongLong());
        return true;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        out += kvFormatUnsigned(value.toULongLong());
        return true;
    case QMetaType::ULongLong:
        // Read back as a signed integer, so only what fits one is an integer here.
        if (value.toULongLong() > static_cast<quint64>(INT64_MAX))
            return false;
        out += kvFormatUnsigned(value.toULongLong());
        return true;
    case QMetaType::Float:
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (!std::isfinite(d))
            return false;
        QByteArray text = QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
        if (!text.contains('.') && !text.contains('e'))
            text += ".0";
        out += text;
        return true;
    }
    case QMetaType::QString:
    case QMetaType::QChar:
        writeString(out, value.toString());
        return true;
    case QMetaType::QByteArray:
        out += "{\"$data\":\"" + value.toByteArray().toBase64() + "\"}";
        return true;
    case QMetaType::QDateTime: {
        const QDateTime when = value.toDateTime();
        if (!when.isValid())
            return false;
        out += "{\"$date\":";
        writeString(out, when.toString(Qt::ISODateWithMs));
        out += '}';
        return true;
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        out += '[';
        bool first = true;
        for (const QVariant &item : value.toList()) {
            if (!first)
                out += ',';
            first = false;
            if (!writeValue(out, item, depth + 1))
                return false;
        }
        out += ']';
        return true;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        const QVariantMap map = value.toMap();
        if (isTaggedMap(map))
            return false;
        out += '{';
        bool first = true;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!first)
                out += ',';
            first = false;
            writeString(out, it.key());
            out += ':';
            if (!writeValue(out, it.value(), depth + 1))
                return false;
        }
        out += '}';
        return true;
    }
    default:
        return false;
    }
}

class Reader {
public:
    explicit Reader(const QByteArray &text) : m_p(text.constData()), m_end(text.constData() + text.size()) {}

    bool readTop(QSettings::SettingsMap &map)
    {
        skipBlanks();
        if (m_p == m_end)
            return true;
        if (*m_p != '{')
            return false;
        ++m_p;
        if (!readMembers([&](const QString &key, QVariant value) {
                // A hand-written null stands for no value.
                if (value.isValid())
                    map.insert(key, std::move(value));
            }, 1))
            return false;
        skipBlanks();
        return m_p == m_end;
    }

private:
    void skipBlanks()
    {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r'))
            ++m_p;
    }

    bool literal(const char *word)
    {
        const size_t n = strlen(word);
        if (static_cast<size_t>(m_end - m_p) < n || memcmp(m_p, word, n) != 0)
            return false;
        m_p += n;
        return true;
    }

    // After the opening brace: members up to and including the closing brace.
    template <typename Sink>
    bool readMembers(Sink &&sink, int depth)
    {
        skipBlanks();
        if (m_p != m_end && *m_p == '}') {
            ++m_p;
            return true;
        }
        for (;;) {
            skipBlanks();
            QString key;
            if (!readString(key))
                return false;
            skipBlanks();
            if (m_p == m_end || *m_p != ':')
                return false;
            ++m_p;
            QVariant value;
            if (!readValue(value, depth))
                return false;
            sink(key, std::move(value));
            skipBlanks();
            if (m_p == m_end)
                return false;
            if (*m_p == '}') {
                ++m_p;
                return true;
            }
            if (*m_p != ',')
                return false;
            ++m_p;
        }
    }

    bool readValue(QVariant &value, int depth)
    {
        if (depth > kMaxDepth)
            return false;
        skipBlanks();
        if (m_p == m_end)
            return false;
        switch (*m_p) {
        case '{': {
            ++m_p;
            QVariantMap map;
            if (!readMembers([&](const QString &key, QVariant item) { map.insert(key, std::move(item)); }, depth + 1))
                return false;
            value = untag(std::move(map));
            return true;
        }
        case '[': {
            ++m_p;
            QVariantList list;
            skipBlanks();
            if (m_p != m_end && *m_p == ']') {
                ++m_p;
                value = list;
                return true;
            }
            for (;;) {
                QVariant item;
                if (!readValue(item, depth + 1))
                    return false;
                list.append(std::move(item));
                skipBlanks();
                if (m_p == m_end)
                    return false;
                if (*m_p == ']') {
                    ++m_p;
                    value = list;
                    return true;
                }
                if (*m_p != ',')
                    return false;
                ++m_p;
            }
        }
        case '"': {
            QString text;
            if (!readString(text))
                return false;
            value = text;
            return true;
        }
        case 't':
            value = true;
            return literal("true");
        case 'f':
            value = false;
            return literal("false");
        case 'n':
            value = QVariant();
            return literal("null");
        default:
            return readNumber(value);
        }
    }

    static QVariant untag(QVariantMap map)
    {
        if (isTaggedMap(map) && map.first().typeId() == QMetaType::QString) {
            const QString text = map.first().toString();
            if (map.firstKey() == kDataTag) {
                auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
                if (decoded)
                    return decoded.decoded;
            } else {
                const QDateTime when = QDateTime::fromString(text, Qt::ISODateWithMs);
                if (when.isValid())
                    return when;
            }
        }
        return map;
    }

    bool readNumber(QVariant &value)
    {
        const char *start = m_p;
        const char *p = m_p;
        if (p != m_end && *p == '-')
            ++p;
        const char *digits = p;
        while (p != m_end && *p >= '0' && *p <= '9')
            ++p;
        if (p == digits)
            return false;
        bool real = false;
        if (p != m_end && *p == '.') {
            real = true;
            ++p;
            const char *fraction = p;
            while (p != m_end && *p >= '0' && *p <= '9')
                ++p;
            if (p == fraction)
                return false;
        }
        if (p != m_end && (*p == 'e' || *p == 'E')) {
            real = true;
            ++p;
            if (p != m_end && (*p == '+' || *p == '-'))
                ++p;
            const char *exponent = p;
            while (p != m_end && *p >= '0' && *p <= '9')
                ++p;
            if (p == exponent)
                return false;
        }
        m_p = p;
        if (!real) {
            size_t used = 0;
            const auto whole = kvParseSigned(start, p, &used);
            // An integer too long for 64 bits is kept as the nearest real rather than clamped.
            if (whole && (*whole != INT64_MAX && *whole != INT64_MIN)) {
                value = static_cast<qlonglong>(*whole);
                return true;
            }
        }
        const auto number = kvParseDouble(start, p);
        if (!number)
            return false;
        value = *number;
        return true;
    }

    static int hexDigit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    bool readHex4(char16_t &unit)
    {
        if (m_end - m_p < 4)
            return false;
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = hexDigit(m_p[i]);
            if (d < 0)
                return false;
            unit = static_cast<char16_t>(unit * 16 + d);
        }
        m_p += 4;
        return true;
    }

    bool readString(QString &text)
    {
        if (m_p == m_end || *m_p != '"')
            return false;
        ++m_p;
        QByteArray utf8;
        for (;;) {
            if (m_p == m_end)
                return false;
            const char c = *m_p++;
            if (c == '"')
                break;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                utf8 += c;
                continue;
            }
            if (m_p == m_end)
                return false;
            switch (*m_p++) {
            case '"': utf8 += '"'; break;
            case '\\': utf8 += '\\'; break;
            case '/': utf8 += '/'; break;
            case 'b': utf8 += '\b'; break;
            case 'f': utf8 += '\f'; break;
            case 'n': utf8 += '\n'; break;
            case 'r': utf8 += '\r'; break;
            case 't': utf8 += '\t'; break;
            case 'u': {
                char16_t units[2];
                if (!readHex4(units[0]))
                    return false;
                qsizetype count = 1;
                if (QChar::isHighSurrogate(units[0]) && m_end - m_p >= 6 && m_p[0] == '\\' && m_p[1] == 'u') {
                    m_p += 2;
                    if (!readHex4(units[1]))
                        return false;
                    count = 2;
                }
                // A lone surrogate becomes U+FFFD through the UTF-8 round trip.
                utf8 += QString(reinterpret_cast<const QChar *>(units), count).toUtf8();
                break;
            }
            default:
                return false;
            }
        }
        text = QString::fromUtf8(utf8);
        return true;
    }

    const char *m_p;
    const char *m_end;
};

bool readSettings(QIODevice &device, QSettings::SettingsMap &map)
{
    QSettings::SettingsMap read;
    if (!Reader(device.readAll()).readTop(read))
        return false;
    map = std::move(read);
    return true;
}

bool writeSettings(QIODevice &device, const QSettings::SettingsMap &map)
{
    // QSettings writes its merged view even when the file on disk did not parse, which would
    // replace a damaged file, and every setting in it, by what this process knows. Refusing here
    // leaves the file as it is (QSettings commits only a write that succeeded).
    if (const auto *target = qobject_cast<const QFileDevice *>(&device)) {
        QFile existing(target->fileName());
        if (existing.open(QIODevice::ReadOnly)) {
            QSettings::SettingsMap ignored;
            if (!Reader(existing.readAll()).readTop(ignored))
                return false;
        }
    }
    QByteArray out = "{\n";
    bool first = true;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        QByteArray line;
        writeString(line, it.key());
        line += ": ";
        // Values came through setObject(), which refused what cannot be written.
        if (!writeValue(line, it.value(), 0))
            continue;
        if (!first)
            out += ",\n";
        first = false;
        out += "  " + line;
    }
    out += "\n}\n";
    return device.write(out) == out.size();
}

QSettings::Format jsonFormat()
{
    static const QSettings::Format format = QSettings::registerFormat(QStringLiteral("json"), readSettings, writeSettings);
    return format;
}

// QSettings writes on its own when its thread's event loop delivers an update request, outside
// any lock of ours; taking the store's mutex there keeps that write from racing other threads.
class LockedSettings : public QSettings {
public:
    LockedSettings(const QString &filePath, std::mutex &mutex) : QSettings(filePath, jsonFormat()), m_mutex(mutex) {}

protected:
    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::UpdateRequest)
            return QSettings::event(event);
        std::lock_guard lock(m_mutex);
        return QSettings::event(event);
    }

private:
    std::mutex &m_mutex;
};

} // namespace

std::optional<QVariantMap> KVDefaults::parseSettingsText(const QByteArray &text)
{
    QSettings::SettingsMap map;
    if (!Reader(text).readTop(map))
        return std::nullopt;
    return map;
}

KVDefaults &KVDefaults::standardUserDefaults()
{
    // Destroyed at exit, when QSettings writes what is still pending.
    static KVDefaults defaults(
        QSettings(jsonFormat(), QSettings::UserScope, QStringLiteral("quorvane"), QStringLiteral("Folivo")).fileName());
    return defaults;
}

KVDefaults::KVDefaults(const QString &filePath) : m_settings(std::make_unique<LockedSettings>(filePath, m_mutex))
{
    m_settings->setFallbacksEnabled(false);
}

KVDefaults::~KVDefaults() = default;

QString KVDefaults::filePath() const { return m_settings->fileName(); }

bool KVDefaults::contains(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    return m_settings->contains(key);
}

QVariant KVDefaults::objectForKey(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    return m_settings->value(key);
}

QString KVDefaults::stringForKey(const QString &key, const QString &fallback) const
{
    const QVariant value = objectForKey(key);
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        // The platform answered a number's own description.
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::LongLong:
    case QMetaType::Int:
        return QString::fromLatin1(kvFormatSigned(value.toLongLong()));
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    default:
        return fallback;
    }
}

QVariantList KVDefaults::arrayForKey(const QString &key, const QVariantList &fallback) const
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QVariantList ? value.toList() : fallback;
}

QVariantMap KVDefaults::dictionaryForKey(const QString &key, const QVariantMap &fallback) const
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : fallback;
}

QByteArray KVDefaults::dataForKey(const QString &key, const QByteArray &fallback) const
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : fallback;
}

namespace {

std::optional<double> numberOf(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QString: {
        const QByteArray text = value.toString().trimmed().toLatin1();
        size_t used = 0;
        const auto number = kvParseDouble(text.constData(), text.constData() + text.size(), &used);
        if (!number || used != static_cast<size_t>(text.size()))
            return std::nullopt;
        return number;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

qint64 KVDefaults::integerForKey(const QString &key, qint64 fallback) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int)
        return value.toLongLong();
    const auto number = numberOf(value);
    if (!number)
        return fallback;
    // Saturate: a stored 1e300 must not become undefined behaviour.
    if (*number >= 9.2233720368547758e18)
        return INT64_MAX;
    if (*number <= -9.2233720368547758e18)
        return INT64_MIN;
    return static_cast<qint64>(*number);
}

double KVDefaults::doubleForKey(const QString &key, double fallback) const
{
    return numberOf(objectForKey(key)).value_or(fallback);
}

bool KVDefaults::boolForKey(const QString &key, bool fallback) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0 || text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
            return true;
        const auto number = numberOf(value);
        return number && *number != 0;
    }
    const auto number = numberOf(value);
    return number ? *number != 0 : fallback;
}

QString KVDefaults::flagForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    return value.typeId() == QMetaType::QString ? value.toString().toUpper() : QString();
}

bool KVDefaults::setObject(const QString &key, const QVariant &value)
{
    QByteArray probe;
    if (!writeValue(probe, value, 0))
        return false;
    {
        std::lock_guard lock(m_mutex);
        // Stored in the form it is read back as, so this process sees what another would.
        const QByteArray wrapped = "{\"v\":" + probe + "}";
        QSettings::SettingsMap parsed;
        Reader(wrapped).readTop(parsed);
        m_settings->setValue(key, parsed.value(QStringLiteral("v")));
    }
    changed(key);
    return true;
}

void KVDefaults::removeObject(const QString &key)
{
    {
        std::lock_guard lock(m_mutex);
        m_settings->remove(key);
    }
    changed(key);
}

bool KVDefaults::synchronize()
{
    std::lock_guard lock(m_mutex);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

void KVDefaults::changed(const QString &key)
{
    KVNotificationCenter::defaultCenter().post(KVDefaultsDidChangeNotification, this, {{QStringLiteral("key"), key}});
}
