#include "JXNSTextStorageExtensions.h"

#include "KVLocalizedStrings.h"
#include "KVNumbers.h"
#include "KVRTF.h"

#include <QLocale>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <climits>
#include <cmath>
#include <optional>
#include <vector>

namespace JXNSTextStorageExtensions {

namespace {

struct Segment {
    int start = 0;
    int length = 0;
    QTextCharFormat format;
};

// Every character of the text with its format, paragraph breaks included. Qt keeps a break's
// format as the character format of the block after it.
std::vector<Segment> characterSegments(const QTextDocument &text)
{
    std::vector<Segment> segments;
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            segments.push_back({fragment.position(), fragment.length(), fragment.charFormat()});
        }
        const QTextBlock next = block.next();
        if (next.isValid())
            segments.push_back({block.position() + block.length() - 1, 1, next.charFormat()});
    }
    return segments;
}

int textLength(const QTextDocument &text) { return std::max(0, text.characterCount() - 1); }

std::optional<QColor> foregroundColor(const QTextCharFormat &format)
{
    if (!format.hasProperty(QTextFormat::ForegroundBrush))
        return std::nullopt;
    const QBrush brush = format.foreground();
    if (brush.style() == Qt::NoBrush)
        return std::nullopt;
    return brush.color().toRgb();
}

bool hasFont(const QTextCharFormat &format)
{
    return format.hasProperty(QTextFormat::FontFamilies) || format.hasProperty(QTextFormat::FontFamily)
           || format.hasProperty(QTextFormat::FontPointSize) || format.hasProperty(QTextFormat::FontPixelSize);
}

bool hasParagraphStyle(const QTextBlockFormat &format)
{
    static const QTextFormat::Property properties[] = {
        QTextFormat::BlockAlignment,    QTextFormat::BlockLeftMargin, QTextFormat::BlockRightMargin, QTextFormat::BlockTopMargin,
        QTextFormat::BlockBottomMargin, QTextFormat::TextIndent,      QTextFormat::TabPositions,     QTextFormat::LineHeight,
        QTextFormat::LineHeightType,    QTextFormat::LayoutDirection, QTextFormat::BlockIndent,
    };
    for (const QTextFormat::Property property : properties)
        if (format.hasProperty(property))
            return true;
    return false;
}

int alignmentValue(const QTextBlockFormat &format)
{
    if (!format.hasProperty(QTextFormat::BlockAlignment))
        return kAlignmentNatural;
    const Qt::Alignment horizontal = format.alignment() & Qt::AlignHorizontal_Mask;
    if (horizontal & Qt::AlignRight)
        return kAlignmentRight;
    if (horizontal & Qt::AlignHCenter)
        return kAlignmentCenter;
    if (horizontal & Qt::AlignJustify)
        return kAlignmentJustified;
    return kAlignmentLeft;
}

// A whole non-negative number that fits an int, blanks around it allowed.
std::optional<int> parseCount(const QString &piece)
{
    const QByteArray bytes = piece.trimmed().toLatin1();
    size_t consumed = 0;
    const std::optional<int64_t> value = kvParseSigned(bytes.constData(), bytes.constData() + bytes.size(), &consumed);
    if (!value || consumed != size_t(bytes.size()) || *value < 0 || *value > INT_MAX)
        return std::nullopt;
    return int(*value);
}

std::optional<double> parseAlpha(const QString &piece)
{
    const QByteArray bytes = piece.trimmed().toLatin1();
    size_t consumed = 0;
    const std::optional<double> value = kvParseDouble(bytes.constData(), bytes.constData() + bytes.size(), &consumed);
    if (!value || consumed != size_t(bytes.size()))
        return std::nullopt;
    return std::clamp(*value, 0.0, 1.0);
}

void selectRange(QTextCursor &cursor, int start, int length)
{
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
}

} // namespace

QByteArray getTextData(const QTextDocument &text) { return kvrtf::write(text); }

std::unique_ptr<QTextDocument> textStorageWithData(const QByteArray &data)
{
    auto text = std::make_unique<QTextDocument>();
    kvrtf::read(data, *text);
    return text;
}

QString alphaString(const QTextDocument &text)
{
    QByteArray out;
    const std::vector<Segment> segments = characterSegments(text);
    for (size_t i = 0; i < segments.size();) {
        const std::optional<QColor> color = foregroundColor(segments[i].format);
        const int start = segments[i].start;
        int length = 0;
        for (; i < segments.size() && foregroundColor(segments[i].format) == color; ++i)
            length += segments[i].length;
        if (!color || length == 0 || color->alphaF() >= 1.0)
            continue;
        if (!out.isEmpty())
            out += ',';
        out += kvFormatSigned(start) + ',' + kvFormatSigned(length) + ',' + kvFormatFixed(color->alphaF(), 2);
    }
    return QString::fromLatin1(out);
}

void applyAlphaString(QTextDocument &text, const QString &alphaString)
{
    if (alphaString.isEmpty())
        return;
    const QStringList pieces = alphaString.split(u',');
    const int length = textLength(text);
    const std::vector<Segment> segments = characterSegments(text);
    QTextCursor cursor(&text);
    cursor.beginEditBlock();
    for (qsizetype group = 0; group + 2 < pieces.size(); group += 3) {
        const std::optional<int> location = parseCount(pieces[group]);
        const std::optional<int> count = parseCount(pieces[group + 1]);
        const std::optional<double> alpha = parseAlpha(pieces[group + 2]);
        if (!location || !count || !alpha || int64_t(*location) + *count > length)
            break;
        // An empty range at the very end has no character to take a colour from.
        if (*count == 0)
            continue;
        std::optional<QColor> color;
        for (const Segment &segment : segments) {
            if (*location >= segment.start && *location < segment.start + segment.length) {
                color = foregroundColor(segment.format);
                break;
            }
        }
        QColor applied = color ? *color : QColor(Qt::black);
        applied.setAlphaF(float(*alpha));
        QTextCharFormat format;
        format.setForeground(applied);
        selectRange(cursor, *location, *count);
        cursor.mergeCharFormat(format);
    }
    cursor.endEditBlock();
}

QTextDocumentFragment attributedStringWithLink(const QString &link, const QString &label, const QColor &color, const QFont &font)
{
    QTextCharFormat format;
    format.setAnchor(true);
    format.setAnchorHref(link);
    format.setForeground(color);
    format.setFontUnderline(true);
    format.setFontFamilies(QStringList{font.family()});
    format.setFontWeight(font.weight());
    format.setFontItalic(font.italic());
    if (font.pointSizeF() > 0)
        format.setFontPointSize(font.pointSizeF());
    QTextDocument document;
    QTextCursor(&document).insertText(label, format);
    return QTextDocumentFragment(&document);
}

int alignment(const QTextDocument &text)
{
    if (textLength(text) == 0)
        return defaultAlignment();
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next())
        if (hasParagraphStyle(block.blockFormat()))
            return alignmentValue(block.blockFormat());
    return defaultAlignment();
}

bool containsWrapNeedingAlignment(const QTextDocument &text)
{
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next()) {
        const int value = alignmentValue(block.blockFormat());
        if (value != kAlignmentLeft && value != kAlignmentNatural)
            return true;
    }
    return false;
}

int defaultAlignment() { return defaultAlignmentForLanguage(JXLocalizedString(QStringLiteral("ISOLangCode"))); }

int defaultAlignmentForLanguage(const QString &languageCode)
{
    if (languageCode.isEmpty())
        return kAlignmentLeft;
    return QLocale(languageCode).textDirection() == Qt::RightToLeft ? kAlignmentRight : kAlignmentLeft;
}

void removeAttribute(QTextDocument &text, QTextFormat::Property attribute)
{
    QTextCursor cursor(&text);
    cursor.beginEditBlock();
    for (Segment &segment : characterSegments(text)) {
        if (!segment.format.hasProperty(attribute))
            continue;
        segment.format.clearProperty(attribute);
        selectRange(cursor, segment.start, segment.length);
        cursor.setCharFormat(segment.format);
    }
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (!format.hasProperty(attribute))
            continue;
        format.clearProperty(attribute);
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
    cursor.endEditBlock();
}

void applyAlignment(QTextDocument &text, int alignment)
{
    static const Qt::Alignment qtAlignments[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter, Qt::AlignJustify};
    if (alignment < kAlignmentLeft || alignment > kAlignmentNatural)
        return;
    QTextCursor cursor(&text);
    cursor.beginEditBlock();
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (alignment == kAlignmentNatural)
            format.clearProperty(QTextFormat::BlockAlignment);
        else
            format.setAlignment(qtAlignments[alignment]);
        // Only the head indent goes: the first line's indent is measured from it, so it takes
        // over the whole distance.
        const double firstLine = format.leftMargin() + format.textIndent();
        format.setLeftMargin(0);
        if (firstLine != 0 || format.hasProperty(QTextFormat::TextIndent))
            format.setTextIndent(firstLine);
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
    cursor.endEditBlock();
}

void setSizeOfTextTo(QTextDocument &text, float size)
{
    if (!std::isfinite(size) || size <= 0)
        return;
    QTextCursor cursor(&text);
    cursor.beginEditBlock();
    for (Segment &segment : characterSegments(text)) {
        if (!hasFont(segment.format))
            continue;
        segment.format.clearProperty(QTextFormat::FontPixelSize);
        segment.format.setFontPointSize(size);
        selectRange(cursor, segment.start, segment.length);
        cursor.setCharFormat(segment.format);
    }
    cursor.endEditBlock();
}

} // namespace JXNSTextStorageExtensions
