#pragma once
// The page text with its attributes: the plain text (UTF-16, so positions are the page's
// character positions), the font and foreground colour of each stretch, and the paragraph
// spacing of each line. Text preparation appends to it run by run; column detection rebuilds
// it line by line in reading order, copying each run's stretch from the old string.
//
// A value: copies are independent. Attribute stretches are kept in text order, never overlap,
// and lie inside the text; append() and substring() keep that, whatever they are given
// (stretches of a part are clipped to it, an empty stretch is dropped). Paragraph styles
// are recorded as given and clipped the same way by substring().
// Threads: one thread at a time per value.
#include <QColor>
#include <QFont>
#include <QString>

#include <algorithm>
#include <vector>

struct KVPDFPageString {
    struct Attributes {
        qsizetype start = 0;
        qsizetype length = 0;
        QFont font;
        QColor colour;
    };
    // Spacing before the paragraph that starts at `start` (points), or a line-height multiple
    // for its lines; 0 means unset.
    struct Paragraph {
        qsizetype start = 0;
        qsizetype length = 0;
        double spacingBefore = 0;
        double lineHeightMultiple = 0;
    };

    QString text;
    std::vector<Attributes> attributes;
    std::vector<Paragraph> paragraphs;

    qsizetype size() const { return text.size(); }
    bool isEmpty() const { return text.isEmpty(); }

    // Appends `part` with one font and colour; an empty part adds nothing.
    void append(const QString &part, const QFont &font, const QColor &colour)
    {
        if (part.isEmpty())
            return;
        attributes.push_back({text.size(), part.size(), font, colour});
        text += part;
    }
    // Appends text that carries no attributes (a line break, an inserted space): it takes the
    // attributes of the stretch before it when that stretch ends where it starts, so a line
    // break reads in the line's font.
    void appendPlain(const QString &part)
    {
        if (part.isEmpty())
            return;
        if (!attributes.empty() && attributes.back().start + attributes.back().length == text.size())
            attributes.back().length += part.size();
        text += part;
    }
    // Appends another page string, its stretches moved to their new place.
    void append(const KVPDFPageString &part)
    {
        const qsizetype offset = text.size();
        text += part.text;
        for (const Attributes &a : part.attributes)
            if (a.length > 0)
                attributes.push_back({a.start + offset, a.length, a.font, a.colour});
        for (const Paragraph &p : part.paragraphs)
            paragraphs.push_back({p.start + offset, p.length, p.spacingBefore, p.lineHeightMultiple});
    }
    // The characters [start, start + length) with their attributes, clipped to the text.
    KVPDFPageString substring(qsizetype start, qsizetype length) const
    {
        KVPDFPageString part;
        start = std::clamp<qsizetype>(start, 0, text.size());
        length = std::clamp<qsizetype>(length, 0, text.size() - start);
        part.text = text.mid(start, length);
        const qsizetype end = start + length;
        for (const Attributes &a : attributes) {
            const qsizetype from = std::max(a.start, start), to = std::min(a.start + a.length, end);
            if (from < to)
                part.attributes.push_back({from - start, to - from, a.font, a.colour});
        }
        for (const Paragraph &p : paragraphs) {
            const qsizetype from = std::max(p.start, start), to = std::min(p.start + p.length, end);
            if (from < to)
                part.paragraphs.push_back({from - start, to - from, p.spacingBefore, p.lineHeightMultiple});
        }
        return part;
    }
    // The stretch holding `position`, or nullptr.
    const Attributes *attributesAt(qsizetype position) const
    {
        auto it = std::upper_bound(attributes.begin(), attributes.end(), position,
                                   [](qsizetype p, const Attributes &a) { return p < a.start; });
        if (it == attributes.begin())
            return nullptr;
        --it;
        return position < it->start + it->length ? &*it : nullptr;
    }
};
