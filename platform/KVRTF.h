// RTF for text storages. Qt reads and writes no RTF; every stored "textData" goes through here.
//
// The text storage is a QTextDocument. Positions are UTF-16 units of toPlainText(); a paragraph
// break counts one. The attributes carried, and where they live in the document:
//   font          QTextCharFormat::fontFamilies() first entry, the family alone ("Helvetica"),
//                 with fontWeight() (QFont::Bold and above written as bold) and fontItalic();
//                 a PostScript name such as "Helvetica-Bold" in a font table becomes that family
//                 plus weight and slant
//   size          QTextCharFormat::fontPointSize(), points
//   underline     fontUnderline()
//   colours       foreground() and background() brushes; RTF keeps no opacity (the alpha string
//                 beside the RTF does)
//   link          anchorHref() with isAnchor(), written as a HYPERLINK field
//   alignment     QTextBlockFormat::alignment(): AlignLeft, AlignRight, AlignHCenter, AlignJustify
//   indents       head indent = leftMargin(), first-line head indent = leftMargin() + textIndent(),
//                 tail indent = rightMargin(); all in points
//   spacing, tabs topMargin()/bottomMargin() (space before/after), tabPositions(); in points
//
// Threads: pure functions over the caller's objects; a QTextDocument is used on one thread.
#pragma once

#include <QByteArray>
#include <QString>

class QTextDocument;

namespace kvrtf {

// Plain RTF other programs read: font and colour tables, \uN (signed 16-bit) with \uc0 for
// everything outside ASCII. Never fails.
QByteArray write(const QTextDocument &document);

// What the reader met, for callers that log it. `complete` is false when the data was cut off,
// malformed or beyond the reader's bounds; the document then holds the text read so far.
struct ReadReport {
    bool complete = true;
    QString problem;
};

// Replaces the document's contents with the RTF's text and formats. Reads what `write` writes,
// what office suites write and the dialect of another desktop's text system. Input comes from
// files: group depth and token lengths are bounded, and the worst outcome is the plain text read
// so far (empty data gives an empty document).
ReadReport read(const QByteArray &data, QTextDocument &document);

} // namespace kvrtf
