#include "KVSystemFont.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H

#include <QFile>
#include <QHash>
#include <QStringList>

#include <cstring>

#include <map>
#include <mutex>
#include <utility>

struct KVSystemFont::Face {
    FT_Face ft = nullptr; // owned by the registry below, alive for the process
};

namespace {

// What fontconfig answered for one requested name.
struct Resolved {
    QString family;
    QString style;
    QString postScriptName;
    QString filePath;
    int index = 0;
    QString fallbackFamily; // the family we asked for, for a face that cannot be opened
};

// The one FreeType library, the faces opened from it and the answers fontconfig gave. Everything
// in here is used under `mutex`. Never destroyed: fonts handed out may outlive static
// destruction, and their faces must stay valid as long as they do.
struct Registry {
    std::mutex mutex;
    FT_Library library = nullptr;
    bool fontconfigReady = false;
    std::map<std::pair<QString, int>, FT_Face> faces; // nullptr for a file FreeType cannot open
    QHash<QString, Resolved> resolved;
};

Registry &registry()
{
    static Registry *shared = [] {
        auto *r = new Registry();
        if (FT_Init_FreeType(&r->library) != 0)
            r->library = nullptr;
        r->fontconfigReady = FcInit() == FcTrue;
        return r;
    }();
    return *shared;
}

// Weight and slant read from a style such as "BoldItalic", "Bold Oblique" or "SemiboldMT".
struct Style {
    int weight = -1; // fontconfig weight, -1 when the style names none
    int slant = -1;  // fontconfig slant, -1 when the style names none
};

// Reads `style` as a run of known style words in any case, with a trailing "MT" or "PS" dropped.
// Answers false when some part of it is no style word. `allowRoman` is false for the trailing
// words of a family name with blanks, where "Roman" is part of the family ("Times New Roman").
bool parseStyle(QString style, Style &out, bool allowRoman = true)
{
    style = style.trimmed();
    for (const char *suffix : {"MT", "PS"}) {
        if (style.endsWith(QLatin1String(suffix)))
            style.chop(2);
    }
    static const struct {
        const char *word;
        int weight;
        int slant;
    } words[] = {
        // Longer words first, so "Semibold" is not read as "Semi" and "bold".
        {"extralight", FC_WEIGHT_EXTRALIGHT, -1}, {"ultralight", FC_WEIGHT_ULTRALIGHT, -1},
        {"extrabold", FC_WEIGHT_EXTRABOLD, -1},   {"ultrabold", FC_WEIGHT_ULTRABOLD, -1},
        {"semibold", FC_WEIGHT_DEMIBOLD, -1},     {"demibold", FC_WEIGHT_DEMIBOLD, -1},
        {"regular", FC_WEIGHT_REGULAR, -1},       {"oblique", -1, FC_SLANT_OBLIQUE},
        {"italic", -1, FC_SLANT_ITALIC},          {"medium", FC_WEIGHT_MEDIUM, -1},
        {"normal", FC_WEIGHT_REGULAR, -1},        {"roman", FC_WEIGHT_REGULAR, FC_SLANT_ROMAN},
        {"black", FC_WEIGHT_BLACK, -1},           {"heavy", FC_WEIGHT_HEAVY, -1},
        {"light", FC_WEIGHT_LIGHT, -1},           {"thin", FC_WEIGHT_THIN, -1},
        {"bold", FC_WEIGHT_BOLD, -1},             {"book", FC_WEIGHT_BOOK, -1},
        {"demi", FC_WEIGHT_DEMIBOLD, -1},         {"semi", FC_WEIGHT_DEMIBOLD, -1},
    };
    QString rest = style.toLower();
    rest.remove(QLatin1Char(' '));
    if (rest.isEmpty())
        return false;
    Style read;
    while (!rest.isEmpty()) {
        bool matched = false;
        for (const auto &w : words) {
            if (!allowRoman && std::strcmp(w.word, "roman") == 0)
                continue;
            if (rest.startsWith(QLatin1String(w.word))) {
                if (w.weight >= 0 && (read.weight < 0 || read.weight == FC_WEIGHT_REGULAR))
                    read.weight = w.weight;
                if (w.slant >= 0 && (read.slant < 0 || read.slant == FC_SLANT_ROMAN))
                    read.slant = w.slant;
                rest.remove(0, int(std::strlen(w.word)));
                matched = true;
                break;
            }
        }
        if (!matched)
            return false;
    }
    out = read;
    return true;
}

// A family fontconfig lists among the installed fonts (its own comparison: case and blanks do
// not count). Aliases such as "Times" are not listed; they count as unknown here.
bool isInstalledFamily(const QString &family)
{
    FcPattern *pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(family.toUtf8().constData()));
    FcObjectSet *objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet *set = FcFontList(nullptr, pattern, objects);
    bool found = set && set->nfont > 0;
    if (set)
        FcFontSetDestroy(set);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return found;
}

struct Request {
    QString family;
    Style style;
};

// Splits a PostScript or PDF font name into family and style (see the header).
Request splitName(QString name)
{
    name = name.trimmed();
    // A subset prefix: six capitals and "+".
    if (name.size() > 7 && name.at(6) == QLatin1Char('+')) {
        bool capitals = true;
        for (int i = 0; i < 6; ++i)
            capitals = capitals && name.at(i) >= QLatin1Char('A') && name.at(i) <= QLatin1Char('Z');
        if (capitals)
            name.remove(0, 7);
    }
    Request request;
    request.family = name;
    int comma = name.lastIndexOf(QLatin1Char(','));
    int hyphen = name.contains(QLatin1Char(' ')) ? -1 : name.lastIndexOf(QLatin1Char('-'));
    int cut = comma >= 0 ? comma : hyphen;
    Style style;
    if (cut > 0 && parseStyle(name.mid(cut + 1), style)) {
        request.family = name.left(cut).trimmed();
        request.style = style;
    } else if (name.contains(QLatin1Char(' '))) {
        // "Helvetica Bold", "Times New Roman Bold Italic": style words at the end.
        QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        int first = int(words.size());
        while (first > 1 && parseStyle(words.mid(first - 1).join(QString()), style, false))
            --first;
        if (first < words.size()) {
            parseStyle(words.mid(first).join(QString()), style, false);
            request.family = words.mid(0, first).join(QLatin1Char(' '));
            request.style = style;
        }
    }
    // "ArialMT", "TimesNewRomanPSMT", "CourierNewPS": the makers' marks are no part of the family
    // fontconfig knows, but "NimbusMonoPS" is, so they go only when the whole is unknown.
    if (!request.family.contains(QLatin1Char(' ')) && !isInstalledFamily(request.family)) {
        QString family = request.family;
        for (const char *suffix : {"MT", "PS"}) {
            if (family.size() > 2 && family.endsWith(QLatin1String(suffix)))
                family.chop(2);
        }
        request.family = family;
    }
    return request;
}

// The URW family drawn for a standard family or one of its usual stand-in names, or null.
const char *standardTwin(const QString &family)
{
    QString key = family.toLower();
    key.remove(QLatin1Char(' '));
    static const std::pair<const char *, const char *> twins[] = {
        {"helvetica", "Nimbus Sans"},  {"arial", "Nimbus Sans"},        {"times", "Nimbus Roman"},
        {"timesroman", "Nimbus Roman"}, {"timesnewroman", "Nimbus Roman"}, {"courier", "Nimbus Mono PS"},
        {"couriernew", "Nimbus Mono PS"},
    };
    for (const auto &[name, twin] : twins)
        if (key == QLatin1String(name))
            return twin;
    return nullptr;
}

QString patternString(FcPattern *pattern, const char *object)
{
    FcChar8 *value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char *>(value));
}

// Under the registry's mutex.
Resolved resolve(Registry &r, const QString &name)
{
    if (auto found = r.resolved.constFind(name); found != r.resolved.constEnd())
        return *found;
    Request request = splitName(name);
    Resolved answer;
    answer.fallbackFamily = request.family;
    FcPattern *pattern = FcPatternCreate();
    // The standard faces and the names PDF producers give them keep the metrics of the standard
    // fonts whatever else is installed: fontconfig alone would give Arial or Times New Roman to
    // another metric family (Liberation) once that is present.
    if (const char *twin = standardTwin(request.family))
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(twin));
    if (!request.family.isEmpty())
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>(request.family.toUtf8().constData()));
    if (request.style.weight >= 0)
        FcPatternAddInteger(pattern, FC_WEIGHT, request.style.weight);
    if (request.style.slant >= 0)
        FcPatternAddInteger(pattern, FC_SLANT, request.style.slant);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern *match = FcFontMatch(nullptr, pattern, &result);
    if (match) {
        answer.family = patternString(match, FC_FAMILY);
        answer.style = patternString(match, FC_STYLE);
        answer.postScriptName = patternString(match, FC_POSTSCRIPT_NAME);
        answer.filePath = patternString(match, FC_FILE);
        int index = 0;
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch)
            answer.index = index;
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    r.resolved.insert(name, answer);
    return answer;
}

// Under the registry's mutex.
FT_Face openFace(Registry &r, const QString &file, int index)
{
    if (file.isEmpty() || !r.library)
        return nullptr;
    auto key = std::make_pair(file, index);
    if (auto found = r.faces.find(key); found != r.faces.end())
        return found->second;
    FT_Face face = nullptr;
    if (FT_New_Face(r.library, QFile::encodeName(file).constData(), index, &face) != 0)
        face = nullptr;
    else if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0)
        FT_Select_Charmap(face, FT_ENCODING_MS_SYMBOL);
    r.faces.emplace(key, face);
    return face;
}

// The full names of the standard 14 (and the blank form of the dingbats) as the fonts state them.
QString standardFullName(const QString &requested)
{
    static const QHash<QString, QString> names = {
        {"Times-Roman", "Times Roman"},
        {"Times-Bold", "Times Bold"},
        {"Times-Italic", "Times Italic"},
        {"Times-BoldItalic", "Times Bold Italic"},
        {"Helvetica", "Helvetica"},
        {"Helvetica-Bold", "Helvetica Bold"},
        {"Helvetica-Oblique", "Helvetica Oblique"},
        {"Helvetica-BoldOblique", "Helvetica Bold Oblique"},
        {"Courier", "Courier"},
        {"Courier-Bold", "Courier Bold"},
        {"Courier-Oblique", "Courier Oblique"},
        {"Courier-BoldOblique", "Courier Bold Oblique"},
        {"Symbol", "Symbol"},
        {"ZapfDingbats", "Zapf Dingbats"},
        {"Zapf Dingbats", "Zapf Dingbats"},
    };
    return names.value(requested);
}

} // namespace

std::shared_ptr<KVSystemFont> KVSystemFont::fontWithName(const QString &name, double size)
{
    Registry &r = registry();
    std::shared_ptr<KVSystemFont> font(new KVSystemFont());
    font->m_size = size;
    font->m_requested = name;
    std::lock_guard<std::mutex> lock(r.mutex);
    Resolved answer = r.fontconfigReady ? resolve(r, name) : Resolved{};
    if (!r.fontconfigReady)
        answer.fallbackFamily = name;
    font->m_face = std::make_shared<Face>();
    font->m_face->ft = openFace(r, answer.filePath, answer.index);
    font->m_filePath = answer.filePath;
    if (font->hasFace()) {
        font->m_family = answer.family;
        font->m_style = answer.style;
        font->m_postScriptName = answer.postScriptName;
        if (font->m_postScriptName.isEmpty()) {
            if (const char *psName = FT_Get_Postscript_Name(font->m_face->ft))
                font->m_postScriptName = QString::fromLatin1(psName);
        }
    } else {
        font->m_family = answer.fallbackFamily;
        font->m_style.clear();
        font->m_postScriptName.clear();
    }
    return font;
}

KVSystemFont::~KVSystemFont() = default;

bool KVSystemFont::hasFace() const { return m_face && m_face->ft; }

QString KVSystemFont::fullName() const
{
    QString standard = standardFullName(m_requested);
    if (!standard.isEmpty())
        return standard;
    if (m_style.isEmpty() || m_style == QLatin1String("Regular"))
        return m_family;
    return m_family + QLatin1Char(' ') + m_style;
}

double KVSystemFont::advance(const QString &text) const
{
    if (!hasFace() || text.isEmpty())
        return 0;
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    FT_Face face = m_face->ft;
    if (face->units_per_EM == 0)
        return 0;
    const bool symbolMap = face->charmap && face->charmap->encoding == FT_ENCODING_MS_SYMBOL;
    double units = 0;
    for (char32_t c : text.toUcs4()) {
        FT_UInt glyph = FT_Get_Char_Index(face, c);
        // Symbol cmaps put the byte codes at U+F000 and up.
        if (glyph == 0 && symbolMap && c < 0x100)
            glyph = FT_Get_Char_Index(face, 0xF000 + c);
        FT_Fixed advance = 0;
        if (FT_Get_Advance(face, glyph, FT_LOAD_NO_SCALE, &advance) == 0)
            units += double(advance);
    }
    return units * m_size / face->units_per_EM;
}

double KVSystemFont::verticalMetric(bool ascent) const
{
    if (!hasFace())
        return 0;
    std::lock_guard<std::mutex> lock(registry().mutex);
    FT_Face face = m_face->ft;
    if (face->units_per_EM == 0)
        return 0;
    // Faces that leave the metric at 0 still have a bounding box.
    const double units = ascent ? (face->ascender != 0 ? face->ascender : face->bbox.yMax)
                                : (face->descender != 0 ? face->descender : face->bbox.yMin);
    return units * m_size / face->units_per_EM;
}

double KVSystemFont::ascent() const { return verticalMetric(true); }

double KVSystemFont::descent() const { return verticalMetric(false); }
