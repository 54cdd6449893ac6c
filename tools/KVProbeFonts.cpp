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
#include <cstdio>
#include <exception>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kvprobe fonts FILE --page N [--font F --decode HEX] [--password P]\n");
    return 2;
}

// Widths to six decimals, so that 0.278 prints as 0.278.
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
        return kvProbeRounded(value->realValue(), 6);
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
        entry[QStringLiteral("dw")] = kvProbeRounded(font.dw(), 6);
    } else {
        QJsonArray widths;
        for (const float width : font.widths())
            widths.append(kvProbeRounded(width, 6));
        entry[QStringLiteral("widths")] = widths;
    }
    return entry;
}

} // namespace

QJsonObject kvprobeFontsJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    const std::optional<KVProbeOptions> read =
        kvProbeOptions(options, {QStringLiteral("--font"), QStringLiteral("--decode")});
    if (!read || read->page < 1 || read->values.contains(QStringLiteral("--font")) != read->values.contains(QStringLiteral("--decode"))) {
        *exitCode = usage();
        return {};
    }
    const QString fontKey = read->values.value(QStringLiteral("--font"));
    const QString hex = read->values.value(QStringLiteral("--decode"));
    const bool hasDecode = read->values.contains(QStringLiteral("--decode"));
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, read->password, exitCode);
    if (!document)
        return {};
    const std::shared_ptr<KVPDFPage> page = kvProbePage(*document, path, read->page);
    if (!page) {
        *exitCode = 2;
        return {};
    }
    const std::vector<KVPDFPage::FontUse> uses = page->fontsInResources();

    QJsonObject out;
    if (!hasDecode) {
        QJsonObject fonts;
        for (const KVPDFPage::FontUse &use : uses)
            if (!fonts.contains(QString::fromLatin1(use.path)))
                fonts[QString::fromLatin1(use.path)] = fontJson(use);
        out[QStringLiteral("page")] = read->page;
        out[QStringLiteral("fonts")] = fonts;
        return out;
    }

    const QByteArray key = fontKey.toLatin1();
    auto use = std::find_if(uses.begin(), uses.end(), [&](const KVPDFPage::FontUse &u) { return u.path == key; });
    if (use == uses.end() || !use->font) {
        std::fprintf(stderr, "kvprobe: page %lld has no font %s\n", read->page, qPrintable(fontKey));
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
        entry[QStringLiteral("width")] = kvProbeRounded(font.glyphWidth(code), 6);
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
