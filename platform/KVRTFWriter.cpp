// The writer half of the RTF codec (KVRTF.h). The output sticks to the oldest, most widely read
// words of RTF so that office suites, command-line converters and our own reader agree on it:
// one \plain-reset run per fragment, paragraph properties restated after every \pard, and
// everything outside printable ASCII as \uN under \uc0 (no fallback bytes to get out of step).
#include "KVRTF.h"

#include "KVNumbers.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextFragment>

#include <cmath>

namespace {

struct FontFace {
    QString family;
    bool bold = false;
    bool italic = false;
};

// Font names taken from PDF files are PostScript names ("Helvetica-BoldOblique"). Other programs
// look fonts up by family, and would miss the face, so the face goes into \b and \i.
FontFace splitPostScriptName(const QString &name)
{
    FontFace face{name};
    const qsizetype dash = name.lastIndexOf(u'-');
    if (dash <= 0)
        return face;
    const QString style = name.mid(dash + 1).toLower();
    static const struct {
        const char *style;
        bool bold;
        bool italic;
    } styles[] = {
        {"regular", false, false}, {"roman", false, false},    {"plain", false, false},
        {"book", false, false},    {"bold", true, false},      {"italic", false, true},
        {"oblique", false, true},  {"bolditalic", true, true}, {"boldoblique", true, true},
    };
    for (const auto &candidate : styles) {
        if (style == QLatin1String(candidate.style)) {
            face.family = name.left(dash);
            face.bold = candidate.bold;
            face.italic = candidate.italic;
            break;
        }
    }
    return face;
}

QString familyOf(const QTextCharFormat &format)
{
    const QStringList families = format.fontFamilies().toStringList();
    return families.isEmpty() ? QString() : families.first();
}

std::optional<QColor> solidColor(const QTextCharFormat &format, QTextFormat::Property property)
{
    if (!format.hasProperty(property))
        return std::nullopt;
    const QBrush brush = format.brushProperty(property);
    if (brush.style() == Qt::NoBrush)
        return std::nullopt;
    return brush.color().toRgb();
}

QByteArray twips(double points)
{
    if (!std::isfinite(points))
        return "0";
    return kvFormatSigned(std::llround(std::clamp(points, -1e6, 1e6) * 20.0));
}

class Writer {
public:
    explicit Writer(const QTextDocument &document) : m_document(document) { }

    QByteArray run()
    {
        collectTables();
        QByteArray body;
        for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
            writeParagraphFormat(body, block.blockFormat());
            writeBlockText(body, block);
            if (block.next().isValid())
                body += "\\par\n";
        }

        QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc0\n{\\fonttbl";
        for (qsizetype i = 0; i < m_fonts.size(); ++i) {
            out += "{\\f" + kvFormatSigned(i) + "\\fnil\\fcharset0 ";
            appendText(out, m_fonts[i], false);
            out += ";}";
        }
        out += "}\n{\\colortbl;";
        for (const QColor &color : std::as_const(m_colors))
            out += "\\red" + kvFormatSigned(color.red()) + "\\green" + kvFormatSigned(color.green()) + "\\blue"
                   + kvFormatSigned(color.blue()) + ";";
        out += "}\n";
        out += body;
        out += "}\n";
        return out;
    }

private:
    void collectTables()
    {
        auto note = [this](const QTextCharFormat &format) {
            const QString family = familyOf(format);
            if (!family.isEmpty()) {
                const QString name = splitPostScriptName(family).family;
                if (!m_fonts.contains(name))
                    m_fonts.append(name);
            }
            for (const QTextFormat::Property property : {QTextFormat::ForegroundBrush, QTextFormat::BackgroundBrush}) {
                if (const std::optional<QColor> color = solidColor(format, property)) {
                    const QColor opaque = QColor::fromRgb(color->red(), color->green(), color->blue());
                    if (!m_colors.contains(opaque))
                        m_colors.append(opaque);
                }
            }
        };
        for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
            if (block.length() <= 1)
                note(block.charFormat());
            for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it)
                note(it.fragment().charFormat());
        }
    }

    void writeParagraphFormat(QByteArray &out, const QTextBlockFormat &format)
    {
        out += "\\pard";
        if (format.hasProperty(QTextFormat::BlockAlignment)) {
            const Qt::Alignment horizontal = format.alignment() & Qt::AlignHorizontal_Mask;
            if (horizontal & Qt::AlignRight)
                out += "\\qr";
            else if (horizontal & Qt::AlignHCenter)
                out += "\\qc";
            else if (horizontal & Qt::AlignJustify)
                out += "\\qj";
            else
                out += "\\ql";
        }
        if (format.hasProperty(QTextFormat::BlockLeftMargin))
            out += "\\li" + twips(format.leftMargin());
        if (format.hasProperty(QTextFormat::TextIndent))
            out += "\\fi" + twips(format.textIndent());
        if (format.hasProperty(QTextFormat::BlockRightMargin))
            out += "\\ri" + twips(format.rightMargin());
        if (format.hasProperty(QTextFormat::BlockTopMargin))
            out += "\\sb" + twips(format.topMargin());
        if (format.hasProperty(QTextFormat::BlockBottomMargin))
            out += "\\sa" + twips(format.bottomMargin());
        for (const QTextOption::Tab &tab : format.tabPositions()) {
            switch (tab.type) {
            case QTextOption::RightTab: out += "\\tqr"; break;
            case QTextOption::CenterTab: out += "\\tqc"; break;
            case QTextOption::DelimiterTab: out += "\\tqdec"; break;
            case QTextOption::LeftTab: break;
            }
            out += "\\tx" + twips(tab.position);
        }
        out += ' ';
    }

    void writeBlockText(QByteArray &out, const QTextBlock &block)
    {
        // An empty paragraph still carries the font its mark was typed in.
        if (block.length() <= 1) {
            writeCharacterFormat(out, block.charFormat());
            return;
        }
        QString openLink;
        bool inLink = false;
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            const bool isLink = format.isAnchor() && !format.anchorHref().isEmpty();
            if (inLink && (!isLink || format.anchorHref() != openLink)) {
                out += "}}";
                inLink = false;
            }
            if (isLink && !inLink) {
                openLink = format.anchorHref();
                // The instruction without a group of its own: converters that print fields show
                // the label for this form, and the address in place of it for the other.
                out += "{\\field{\\*\\fldinst HYPERLINK \"";
                // A quote would end the field's argument early; in an address it is %22 anyway.
                QString href = openLink;
                href.replace(u'"', QLatin1String("%22"));
                appendText(out, href, false);
                out += "\"}{\\fldrslt ";
                inLink = true;
            }
            writeCharacterFormat(out, format);
            appendText(out, fragment.text(), true);
        }
        if (inLink)
            out += "}}";
    }

    void writeCharacterFormat(QByteArray &out, const QTextCharFormat &format)
    {
        out += "\\plain";
        const QString family = familyOf(format);
        FontFace face;
        if (!family.isEmpty()) {
            face = splitPostScriptName(family);
            out += "\\f" + kvFormatSigned(m_fonts.indexOf(face.family));
        }
        if (format.hasProperty(QTextFormat::FontPointSize)) {
            const double size = format.fontPointSize();
            if (std::isfinite(size) && size > 0)
                out += "\\fs" + kvFormatSigned(std::llround(std::min(size, 16383.0) * 2.0));
        }
        if (face.bold || format.fontWeight() >= QFont::Bold)
            out += "\\b";
        if (face.italic || format.fontItalic())
            out += "\\i";
        if (format.fontUnderline())
            out += "\\ul";
        if (const std::optional<QColor> color = solidColor(format, QTextFormat::ForegroundBrush))
            out += "\\cf" + kvFormatSigned(colorIndex(*color));
        // \cb is what desktop text systems write, \highlight what word processors read.
        if (const std::optional<QColor> color = solidColor(format, QTextFormat::BackgroundBrush)) {
            const QByteArray index = kvFormatSigned(colorIndex(*color));
            out += "\\cb" + index + "\\highlight" + index;
        }
        out += ' ';
    }

    int colorIndex(const QColor &color) const
    {
        return int(m_colors.indexOf(QColor::fromRgb(color.red(), color.green(), color.blue()))) + 1;
    }

    // Every control word written here ends in a blank, so a digit or letter of the text that
    // follows can never be read as part of it.
    static void appendText(QByteArray &out, const QString &text, bool inBody)
    {
        for (const QChar ch : text) {
            const char16_t unit = ch.unicode();
            if (unit == u'\\' || unit == u'{' || unit == u'}') {
                out += '\\';
                out += char(unit);
            } else if (inBody && unit == u'\t') {
                out += "\\tab ";
            } else if (inBody && (unit == 0x2028 || unit == u'\n' || unit == u'\r')) {
                out += "\\line ";
            } else if (!inBody && unit == u';') {
                out += "\\'3b"; // a bare ";" ends the font table's entry
            } else if (unit >= 0x20 && unit < 0x7F) {
                out += char(unit);
            } else if (inBody) {
                // Signed 16-bit: what older readers take, and a surrogate pair is two of them.
                // Each in a group of its own, because some readers skip the text after \uN
                // whatever \uc says.
                out += "{\\u" + kvFormatSigned(int16_t(unit)) + '}';
            } else {
                out += "\\u" + kvFormatSigned(int16_t(unit)) + ' ';
            }
        }
    }

    const QTextDocument &m_document;
    QList<QString> m_fonts;
    QList<QColor> m_colors;
};

} // namespace

namespace kvrtf {

QByteArray write(const QTextDocument &document) { return Writer(document).run(); }

} // namespace kvrtf
