// kvprobe fonts FILE --page N [--password P]
// kvprobe fonts FILE --page N --font F --decode HEX [--password P]
//
// Without --font, the fonts of page N (1-based) as the engine reads them: those of the page's
// resources and of the resources of its form XObjects and patterns, keyed by resource name
// ("F1"; "Fm0/F1" for a font of form Fm0):
//   {"page": N, "fonts": {"F1": {"object": "12 0 R" | null, "subtype": "Type1",
//     "base_font": "Helvetica", "font_name": "Helvetica", "two_byte": false, "first_char": 32,
//     "last_char": 126, "widths": [0.278, ...], "to_unicode": true}, ...}}
// "widths" are the simple font's width table in em (glyph units for Type 3), index i being
// code first_char + i; a composite font gives "w" (its W array as numbers and arrays, [] when
// it has none) and "dw" instead. "object" is the font's indirect object, null for a font
// written into the resources directly. A font the engine cannot build gives {"error": ...}.
//
// With --font F --decode HEX, what font F (a key of the list above) makes of the bytes:
//   {"font": "F1", "text": "...", "codes": [{"code": 65, "length": 1, "cid": 65, "width": 0.722}]}
#include "KVProbeFonts.h"

#include "KVProbeJson.h"
#include "KVPDFDocument.h"
#include "KVPDFFont.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFPage.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kvprobe fonts FILE --page N [--font F --decode HEX] [--password P]\n");
    return 2;
}

// Widths to six decimals, so that 0.278 prints as 0.278.
double rounded(double value) { return std::round(value * 1e6) / 1e6; }

QJsonValue numbersJson(const KVPDFObjectPtr &object, int depth)
{
    KVPDFObjectPtr value;
    try {
        value = object ? object->resolvedObject() : nullptr;
    } catch (const std::exception &) {
        return QJsonValue();
    }
    if (!value)
        return QJsonValue();
    if (value->objectType() == KVPDFObject::TypeInteger)
        return double(value->longLongValue());
    if (value->objectType() == KVPDFObject::TypeReal)
        return rounded(value->realValue());
    if (auto array = kv_cast<KVPDFObjectArray>(value); array && depth < 4) {
        QJsonArray out;
        for (size_t i = 0; i < array->count(); ++i)
            out.append(numbersJson(array->objectAtIndex(i), depth + 1));
        return out;
    }
    return QJsonValue();
}

QJsonObject fontJson(const KVPDFPage::FontUse &use)
{
    QJsonObject entry;
    const auto &dictionary = use.font ? use.font->fontDictionary() : nullptr;
    if (dictionary && dictionary->objectNumber() != 0)
        entry[QStringLiteral("object")] =
            QStringLiteral("%1 %2 R").arg(dictionary->objectNumber()).arg(dictionary->generation());
    else
        entry[QStringLiteral("object")] = QJsonValue();
    if (!use.font) {
        entry[QStringLiteral("error")] = QStringLiteral("font not built");
        return entry;
    }
    const KVPDFFont &font = *use.font;
    entry[QStringLiteral("subtype")] = font.subtype();
    entry[QStringLiteral("base_font")] = font.baseFontName();
    entry[QStringLiteral("font_name")] = font.fontName();
    entry[QStringLiteral("two_byte")] = font.isTwoByte();
    entry[QStringLiteral("first_char")] = qint64(font.firstChar());
    entry[QStringLiteral("last_char")] = qint64(font.lastChar());
    entry[QStringLiteral("to_unicode")] = font.hasToUnicode();
    if (font.fontType() == KVPDFFont::TypeType0) {
        QJsonValue w = font.w() ? numbersJson(font.w(), 0) : QJsonValue(QJsonArray());
        entry[QStringLiteral("w")] = w.isArray() ? w : QJsonValue(QJsonArray());
        entry[QStringLiteral("dw")] = rounded(font.dw());
    } else {
        QJsonArray widths;
        for (const float width : font.widths())
            widths.append(rounded(width));
        entry[QStringLiteral("widths")] = widths;
    }
    return entry;
}

} // namespace

QJsonObject kvprobeFontsJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    QString password;
    QString fontKey;
    QString hex;
    bool hasDecode = false;
    qlonglong pageNumber = 0;
    for (qsizetype i = 0; i < options.size(); ++i) {
        const QString &option = options[i];
        if (i + 1 >= options.size()) {
            *exitCode = usage();
            return {};
        }
        const QString value = options[++i];
        if (option == QLatin1String("--password")) {
            password = value;
        } else if (option == QLatin1String("--page")) {
            bool ok = false;
            pageNumber = value.toLongLong(&ok);
            if (!ok || pageNumber < 1) {
                *exitCode = usage();
                return {};
            }
        } else if (option == QLatin1String("--font")) {
            fontKey = value;
        } else if (option == QLatin1String("--decode")) {
            hex = value;
            hasDecode = true;
        } else {
            *exitCode = usage();
            return {};
        }
    }
    if (pageNumber < 1 || fontKey.isEmpty() != !hasDecode) {
        *exitCode = usage();
        return {};
    }
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, password, exitCode);
    if (!document)
        return {};
    if (qulonglong(pageNumber) > document->pageCount()) {
        std::fprintf(stderr, "kvprobe: %s has %zu pages\n", qPrintable(path), document->pageCount());
        *exitCode = 2;
        return {};
    }
    const std::shared_ptr<KVPDFPage> page = document->pageAtIndex(size_t(pageNumber - 1));
    const std::vector<KVPDFPage::FontUse> uses = page->fontsInResources();

    QJsonObject out;
    if (!hasDecode) {
        QJsonObject fonts;
        for (const KVPDFPage::FontUse &use : uses)
            if (!fonts.contains(QString::fromLatin1(use.path)))
                fonts[QString::fromLatin1(use.path)] = fontJson(use);
        out[QStringLiteral("page")] = pageNumber;
        out[QStringLiteral("fonts")] = fonts;
        return out;
    }

    const QByteArray key = fontKey.toLatin1();
    auto use = std::find_if(uses.begin(), uses.end(), [&](const KVPDFPage::FontUse &u) { return u.path == key; });
    if (use == uses.end() || !use->font) {
        std::fprintf(stderr, "kvprobe: page %lld has no font %s\n", pageNumber, qPrintable(fontKey));
        *exitCode = 2;
        return {};
    }
    QByteArray digits = hex.toLatin1();
    digits.replace(' ', QByteArray());
    const QByteArray bytes = QByteArray::fromHex(digits);
    const KVPDFFont &font = *use->font;
    QJsonArray codes;
    qsizetype position = 0;
    uint32_t code = 0;
    int length = 0;
    while (font.nextCode(bytes, position, code, length)) {
        QJsonObject entry;
        entry[QStringLiteral("code")] = qint64(code);
        entry[QStringLiteral("length")] = length;
        entry[QStringLiteral("cid")] = qint64(font.cidForCode(code));
        entry[QStringLiteral("width")] = rounded(font.glyphWidth(code));
        codes.append(entry);
    }
    out[QStringLiteral("font")] = fontKey;
    out[QStringLiteral("text")] = font.stringForData(bytes);
    out[QStringLiteral("codes")] = codes;
    return out;
}

int kvprobeFonts(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeFontsJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
