#include "KVPDFFieldAppearance.h"

#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFOperandText.h"
#include "KVPDFPage.h"

#include <algorithm>

namespace kvpdf::fieldappearance {
namespace {
enum class TokenKind { Number, Name, String, HexString, Open, Close, Operator, Comment, InlineData, Other };

struct Token {
    TokenKind kind;
    qsizetype begin;
    qsizetype end;
};

bool isWhite(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }
bool isDelimiter(char c)
{
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' || c == '/'
           || c == '%';
}
bool isRegular(char c) { return !isWhite(c) && !isDelimiter(c); }

// Inline image data runs from one blank after ID to an EI that stands alone between blanks.
qsizetype inlineDataEnd(const QByteArray &data, qsizetype from)
{
    const qsizetype size = data.size();
    for (qsizetype i = from; i + 1 < size; ++i) {
        if (data[i] == 'E' && data[i + 1] == 'I' && (i == from || isWhite(data[i - 1]))
            && (i + 2 >= size || isWhite(data[i + 2]) || isDelimiter(data[i + 2])))
            return i;
    }
    return size;
}

// Content tokens with their byte spans. Never fails: a string or comment cut by the end of
// the data ends there, and a lone ")" or ">" is a token of its own.
std::vector<Token> tokenize(const QByteArray &data)
{
    std::vector<Token> tokens;
    const qsizetype size = data.size();
    qsizetype i = 0;
    while (i < size) {
        const char c = data[i];
        const qsizetype start = i;
        if (isWhite(c)) {
            ++i;
            continue;
        }
        if (c == '%') {
            while (i < size && data[i] != '\n' && data[i] != '\r')
                ++i;
            tokens.push_back({TokenKind::Comment, start, i});
            continue;
        }
        if (c == '(') {
            int depth = 0;
            while (i < size) {
                const char s = data[i++];
                if (s == '\\') {
                    ++i;
                } else if (s == '(') {
                    ++depth;
                } else if (s == ')' && --depth == 0) {
                    break;
                }
            }
            i = std::min(i, size);
            tokens.push_back({TokenKind::String, start, i});
            continue;
        }
        if (c == '<') {
            if (i + 1 < size && data[i + 1] == '<') {
                i += 2;
                tokens.push_back({TokenKind::Open, start, i});
                continue;
            }
            while (i < size && data[i] != '>')
                ++i;
            i = std::min(i + 1, size);
            tokens.push_back({TokenKind::HexString, start, i});
            continue;
        }
        if (c == '>') {
            i += (i + 1 < size && data[i + 1] == '>') ? 2 : 1;
            tokens.push_back({TokenKind::Close, start, i});
            continue;
        }
        if (c == '[' || c == '{') {
            ++i;
            tokens.push_back({TokenKind::Open, start, i});
            continue;
        }
        if (c == ']' || c == '}' || c == ')') {
            ++i;
            tokens.push_back({TokenKind::Close, start, i});
            continue;
        }
        if (c == '/') {
            ++i;
            while (i < size && isRegular(data[i]))
                ++i;
            tokens.push_back({TokenKind::Name, start, i});
            continue;
        }
        while (i < size && isRegular(data[i]))
            ++i;
        const QByteArrayView word(data.constData() + start, i - start);
        const bool number = std::all_of(word.begin(), word.end(), [](char d) {
            return (d >= '0' && d <= '9') || d == '.' || d == '-' || d == '+';
        });
        tokens.push_back({number ? TokenKind::Number : TokenKind::Operator, start, i});
        if (!number && word == "ID") {
            const qsizetype dataStart = std::min(i + 1, size);
            const qsizetype dataEnd = inlineDataEnd(data, dataStart);
            tokens.push_back({TokenKind::InlineData, dataStart, dataEnd});
            i = dataEnd;
        }
    }
    return tokens;
}

QByteArray bytesOf(const QByteArray &data, const Token &token) { return data.mid(token.begin, token.end - token.begin); }

// A name token's name: without its slash, "#xx" escapes decoded.
QByteArray decodedName(const QByteArray &data, const Token &token)
{
    QByteArray name;
    for (qsizetype i = token.begin + 1; i < token.end; ++i) {
        if (data[i] == '#' && i + 2 < token.end) {
            bool ok = false;
            const int value = data.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                name.append(char(value));
                i += 2;
                continue;
            }
        }
        name.append(data[i]);
    }
    return name;
}

QByteArray decodedName(const QByteArray &nameWithSlash)
{
    return decodedName(nameWithSlash, Token{TokenKind::Name, 0, nameWithSlash.size()});
}

bool isOperator(const QByteArray &data, const Token &token, QByteArrayView op)
{
    return token.kind == TokenKind::Operator && QByteArrayView(data.constData() + token.begin, token.end - token.begin) == op;
}

QByteArray rgbOperator(const KVColor &color, bool stroke)
{
    const QColor rgb = color.toQColor();
    return kvpdf::operandText(rgb.redF()) + ' ' + kvpdf::operandText(rgb.greenF()) + ' ' + kvpdf::operandText(rgb.blueF())
           + (stroke ? " RG" : " rg");
}

// One place in the content where bytes are replaced.
struct Edit {
    qsizetype begin;
    qsizetype end;
    QByteArray with;
};

QByteArray applyEdits(const QByteArray &content, std::vector<Edit> edits)
{
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.begin < b.begin; });
    QByteArray out;
    out.reserve(content.size());
    qsizetype at = 0;
    for (const Edit &edit : edits) {
        if (edit.begin < at)
            continue;
        out.append(content.constData() + at, edit.begin - at);
        out.append(edit.with);
        at = edit.end;
    }
    out.append(content.constData() + at, content.size() - at);
    return out;
}
}

QByteArray firstFontOperand(const QByteArray &content)
{
    const std::vector<Token> tokens = tokenize(content);
    qsizetype operandsFrom = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::Operator)
            continue;
        if (isOperator(content, tokens[i], "Tf")) {
            for (size_t j = size_t(operandsFrom); j < i; ++j)
                if (tokens[j].kind == TokenKind::Name)
                    return bytesOf(content, tokens[j]);
        }
        operandsFrom = qsizetype(i) + 1;
    }
    return QByteArray();
}

QByteArray renameName(const QByteArray &content, const QByteArray &from, const QByteArray &to)
{
    const QByteArray wanted = decodedName(from);
    std::vector<Edit> edits;
    for (const Token &token : tokenize(content))
        if (token.kind == TokenKind::Name && decodedName(content, token) == wanted)
            edits.push_back({token.begin, token.end, to});
    return applyEdits(content, std::move(edits));
}

std::set<QByteArray> namesUsed(const QByteArray &content)
{
    std::set<QByteArray> names;
    for (const Token &token : tokenize(content))
        if (token.kind == TokenKind::Name)
            names.insert(decodedName(content, token));
    return names;
}

QByteArray recolor(const QByteArray &content, const Colors &colors)
{
    const std::vector<Token> tokens = tokenize(content);
    enum class Use { Unknown, Text, Background };
    struct FillSetting {
        qsizetype begin;
        qsizetype end;
        bool insideText;
        Use use = Use::Unknown;
    };
    std::vector<FillSetting> fills;
    std::vector<Edit> edits;
    // The fill setting in force (an index into fills, -1 for the initial colour), saved by q.
    long current = -1;
    std::vector<long> saved;
    int textDepth = 0;
    size_t operandsFrom = 0;
    auto markUse = [&](Use use) {
        if (current >= 0 && fills[size_t(current)].use == Use::Unknown)
            fills[size_t(current)].use = use;
    };
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &token = tokens[i];
        if (token.kind == TokenKind::Comment)
            continue;
        if (token.kind != TokenKind::Operator) {
            if (token.kind == TokenKind::InlineData)
                operandsFrom = i + 1;
            continue;
        }
        const QByteArrayView op(content.constData() + token.begin, token.end - token.begin);
        const size_t first = operandsFrom;
        operandsFrom = i + 1;
        bool hasName = false;
        size_t operandCount = 0;
        for (size_t j = first; j < i; ++j) {
            if (tokens[j].kind == TokenKind::Comment)
                continue;
            ++operandCount;
            hasName = hasName || tokens[j].kind == TokenKind::Name;
        }
        // The span from the first operand that is no comment to the operator's end.
        qsizetype spanBegin = token.begin;
        for (size_t j = first; j < i; ++j)
            if (tokens[j].kind != TokenKind::Comment) {
                spanBegin = tokens[j].begin;
                break;
            }
        const bool fill = op == "g" || op == "rg" || op == "k" || op == "sc" || op == "scn";
        const bool stroke = op == "G" || op == "RG" || op == "K" || op == "SC" || op == "SCN";
        if (stroke) {
            if (colors.border && !hasName && operandCount > 0)
                edits.push_back({spanBegin, token.end, rgbOperator(*colors.border, true)});
        } else if (fill) {
            if (!hasName && operandCount > 0) {
                fills.push_back({spanBegin, token.end, textDepth > 0});
                current = long(fills.size()) - 1;
            } else {
                current = -1; // a pattern: not ours to change
            }
        } else if (op == "q") {
            saved.push_back(current);
        } else if (op == "Q") {
            if (!saved.empty()) {
                current = saved.back();
                saved.pop_back();
            }
        } else if (op == "BT") {
            ++textDepth;
        } else if (op == "ET") {
            textDepth = std::max(0, textDepth - 1);
        } else if (op == "Tj" || op == "TJ" || op == "'" || op == "\"") {
            markUse(Use::Text);
        } else if (op == "f" || op == "F" || op == "f*" || op == "B" || op == "B*" || op == "b" || op == "b*") {
            markUse(Use::Background);
        }
    }
    for (const FillSetting &setting : fills) {
        const bool text = setting.insideText || setting.use == Use::Text;
        const std::optional<KVColor> &color = text ? colors.text : colors.background;
        if (color)
            edits.push_back({setting.begin, setting.end, rgbOperator(*color, false)});
    }
    return applyEdits(content, std::move(edits));
}

namespace {
// The resource categories whose entries content names by operator operands.
const char *const kCategories[] = {"Font", "ColorSpace", "ExtGState", "Pattern", "Shading", "XObject", "Properties"};

// The deep copy of `value` and, for a copy of an indirect object, a reference to it; the new
// references are gathered in `subobjects`.
KVPDFObjectPtr copiedEntry(const KVPDFObjectPtr &value, std::vector<KVPDFObjectPtr> &subobjects)
{
    std::vector<KVPDFObjectPtr> copies = KVPDFAnnotation::copySubtreeFor(value);
    if (copies.empty() || !copies.front())
        return nullptr;
    for (const KVPDFObjectPtr &copy : copies)
        if (copy && copy->objectType() == KVPDFObject::TypeReference)
            subobjects.push_back(copy);
    return copies.front();
}
}

std::optional<Rendering> fromRendering(KVPDFDocument &rendering, const QByteArray &resourceName)
{
    try {
        std::shared_ptr<KVPDFPage> page = rendering.pageAtIndex(0);
        if (!page || !page->pageDictionary()) {
            kvLog(QStringLiteral("Field rendering has no page"));
            return std::nullopt;
        }
        Rendering result;
        result.mediaBox = page->mediaBox();
        const std::vector<std::shared_ptr<KVPDFObjectStream>> streams = page->contentStreams();
        // One stream: contentStreams() joins several into one.
        if (!streams.empty() && streams.front())
            result.content = streams.front()->decodedData();
        if (std::any_of(streams.begin(), streams.end(), [](const auto &stream) { return !stream->decodeComplete(); })) {
            kvLog(QStringLiteral("Field rendering content does not decode"));
            return std::nullopt;
        }

        QByteArray fontName;
        const QByteArray operand = firstFontOperand(result.content);
        if (!operand.isEmpty()) {
            fontName = decodedName(operand);
            const std::set<QByteArray> used = namesUsed(result.content);
            if (!resourceName.isEmpty() && resourceName != fontName && !used.count(resourceName)) {
                result.content = renameName(result.content, operand, "/" + resourceName);
                fontName = resourceName;
            }
        }

        std::shared_ptr<KVPDFObjectDictionary> pageResources = page->resources();
        const std::set<QByteArray> used = namesUsed(result.content);
        result.resources = std::make_shared<KVPDFObjectDictionary>();
        for (const char *category : kCategories) {
            auto entries = pageResources ? kv_cast<KVPDFObjectDictionary>(pageResources->resolvedObjectForKey(category))
                                         : nullptr;
            if (!entries)
                continue;
            auto kept = std::make_shared<KVPDFObjectDictionary>();
            for (const auto &[key, value] : entries->value()) {
                // The field font is stored under its new name.
                const QByteArray stored = (!operand.isEmpty() && qstrcmp(category, "Font") == 0 && key == decodedName(operand))
                                              ? fontName
                                              : key;
                if (!value || !used.count(stored))
                    continue;
                try {
                    KVPDFObjectPtr copy = copiedEntry(value, result.subobjects);
                    if (!copy)
                        continue;
                    kept->setObject(stored, copy);
                    if (stored == fontName && qstrcmp(category, "Font") == 0)
                        result.fontReference = copy;
                } catch (const FolivoException &failure) {
                    kvLog(QStringLiteral("Field rendering resource %1 could not be copied: %2")
                              .arg(QString::fromLatin1(key), QString::fromStdString(failure.reason())));
                }
            }
            if (kept->count() > 0)
                result.resources->setObject(category, kept);
        }
        result.fontName = fontName;
        return result;
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Field rendering unreadable: %1").arg(QString::fromStdString(failure.reason())));
        return std::nullopt;
    }
}

std::shared_ptr<KVPDFObjectStream> placedForm(const Rendering &rendering, const QRectF &frame, const KVPDFObjectDictionary *owner)
{
    KVPDFDocument *document = owner ? kvpdf::documentOf(*owner) : nullptr;
    const QByteArray eol = document ? document->EOL() : QByteArrayLiteral("\n");
    const QSizeF box = frame.size();
    QByteArray data = "q 1 0 0 1 " + operandText(frame.x()) + ' ' + operandText(frame.y()) + " cm" + eol;
    const QRectF &media = rendering.mediaBox;
    if (media.isValid() && box.width() > 0 && box.height() > 0 && media != QRectF(QPointF(0, 0), box)) {
        const double sx = box.width() / media.width();
        const double sy = box.height() / media.height();
        data += operandText(sx) + " 0 0 " + operandText(sy) + ' ' + operandText(-media.x() * sx) + ' '
                + operandText(-media.y() * sy) + " cm" + eol;
    }
    data += rendering.content + eol + "Q" + eol;

    auto stream = KVPDFObjectStream::streamByDeflatingData(data);
    auto resources = rendering.resources ? kv_cast<KVPDFObjectDictionary>(rendering.resources->copy())
                                         : std::make_shared<KVPDFObjectDictionary>();
    resources->setObject("ProcSet", KVPDFObjectArray::arrayWithArray({KVPDFObjectName::nameWithBytes("PDF"),
                                                                      KVPDFObjectName::nameWithBytes("Text")}));
    const std::shared_ptr<KVPDFObjectDictionary> &dictionary = stream->dictionary();
    dictionary->setObject("BBox", KVPDFAnnotation::arrayForRect(frame));
    dictionary->setObject("Matrix", KVPDFAnnotation::arrayForTransform(QTransform::fromTranslate(-frame.x(), -frame.y())));
    dictionary->setObject("Type", KVPDFObjectName::nameWithBytes("XObject"));
    dictionary->setObject("Subtype", KVPDFObjectName::nameWithBytes("Form"));
    dictionary->setObject("FormType", KVPDFObjectInteger::integerWithLongLong(1));
    dictionary->setObject("Resources", resources);
    return stream;
}

}
