#pragma once
// A reader of rich text (RTF) as text views store it under "textData": the plain text, and the
// font, size and colour of its first character. Qt reads no RTF, and the stored bytes may come
// from any RTF writer (desktop text views, word processors), so the reader knows the syntax,
// not one writer's habits.
//
// What it reads: groups and their nesting; control words with their numeric parameter and
// control symbols; the font table (\fonttbl, names up to ";") and the colour table (\colortbl,
// \red \green \blue per entry, an entry without them being the automatic colour); \f \fs \cf
// \plain \deff; \uN Unicode characters with \ucN fallback skipping (a negative N counts from
// 65536, so surrogate pairs arrive whole; an N outside 16 bits reads as U+FFFD); \'hh and raw bytes above 0x7F as Windows-1252,
// whatever \ansicpg says; \par \line and a backslash before a line end as "\n", \tab and
// \cell as "\t", \row as "\n", and the named punctuation (\emdash, \lquote, \~ ...). Groups
// marked \* and destinations that hold no text of the document (style sheet, info, pictures,
// headers and footers, field instructions, list tables ...) are skipped. Everything else is
// passed over; nothing is an error but data that does not begin with "{\rtf".
//
// Bad input: never throws, never reads outside the data. Data that ends early gives what was
// read up to there; a "}" past the outermost group ends the text. Groups nested deeper than
// kMaxDepth take the state of the group at that depth. Parameters are clamped to 32-bit
// values, control words longer than 32 letters end at 32, and \bin skips at most what is left.
// A font or colour index the tables do not hold gives no name or the automatic colour.
// Pure functions, safe from any thread.
#include "KVColor.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct KVRTFText {
    QString plainText;
    // The font table's name for the first character's font ("Helvetica", "Times-Bold"); empty
    // when the table has no entry for it. Without a character, the attributes are those in force
    // where the text of the document ends.
    QString fontName;
    // In points; 12 when \fs never says otherwise (half of RTF's default 24 half-points).
    double fontSize = 12.0;
    // RGB from the colour table; nullopt for the automatic colour (\cf0, or no \cf).
    std::optional<KVColor> color;
};

class KVRTFReader {
public:
    static constexpr int kMaxDepth = 1000;

    // nullopt when `data` is not RTF (does not begin with "{\rtf").
    static std::optional<KVRTFText> read(const QByteArray &data);
};
