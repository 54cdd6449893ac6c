#pragma once
// The stored form of text boxes and the small text edits shared by the text imprints: RTF for
// "textData", the alpha string for "alphaString", a link label, and alignment queries and
// changes. Text is a QTextDocument with the attribute conventions of KVRTF.h; positions are
// UTF-16 units of toPlainText(), a paragraph break counting one.
//
// Runs: a run is a stretch of characters over which one attribute has one value, whatever the
// other attributes do; a paragraph break belongs to the paragraph it ends. A "paragraph style" is
// a block format with any of alignment, margins, first-line indent, tabs, line height or layout
// direction set; a block without one lays out in Qt's defaults.
//
// Alignment values: 0 left, 1 right, 2 centre, 3 justified, 4 natural. Natural is a block
// without an alignment of its own, which Qt aligns by the text's direction.
//
// Alpha string: groups of location, length and alpha, "%d,%d,%.2f" in the C locale, joined by
// ",", for each foreground-colour run whose opacity is below 1, in text order
// ("0,5,0.50,9,2,0.25"). RTF keeps no opacity; this string beside it does.
//
// Bad input: alpha strings and RTF come from files. applyAlphaString stops at the first group
// that is incomplete, not a number (location and length must be whole non-negative numbers),
// or reaches past the end of the text; the groups before it stay applied, and alphas are
// clamped to 0..1. textStorageWithData never fails (see kvrtf::read).
//
// Threads: functions over the caller's document, used on the thread that owns it. Edits go
// through QTextCursor in one edit block each, so the document's undo stack sees one step.
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QString>
#include <QTextDocumentFragment>
#include <QTextFormat>

#include <memory>

class QTextDocument;

namespace JXNSTextStorageExtensions {

inline constexpr int kAlignmentLeft = 0;
inline constexpr int kAlignmentRight = 1;
inline constexpr int kAlignmentCenter = 2;
inline constexpr int kAlignmentJustified = 3;
inline constexpr int kAlignmentNatural = 4;

// RTF of the whole text, with no document-wide settings (paper, margins): the "textData" value.
QByteArray getTextData(const QTextDocument &text);
// A new document holding the RTF's text; what could be read when the data is damaged.
std::unique_ptr<QTextDocument> textStorageWithData(const QByteArray &data);

QString alphaString(const QTextDocument &text);
// Gives each group's range its colour at the group's location, with the group's alpha (black
// when that character has no colour); characters outside the ranges keep their colours. A null
// or empty string changes nothing.
void applyAlphaString(QTextDocument &text, const QString &alphaString);

// The label as a link to `link`, in `color`, underlined, in `font` (family, weight, slant and,
// when it has one, its point size).
QTextDocumentFragment attributedStringWithLink(const QString &link, const QString &label, const QColor &color, const QFont &font);

// The alignment of the first paragraph style in the text; defaultAlignment() when the text is
// empty or has none.
int alignment(const QTextDocument &text);
// True when some paragraph style aligns other than left or natural.
bool containsWrapNeedingAlignment(const QTextDocument &text);
// 1 (right) when the application's language, the localised "ISOLangCode", is written right to
// left; otherwise 0 (left).
int defaultAlignment();
// The same for a given language code ("en", "ar", "he_IL"); an unknown code answers 0.
int defaultAlignmentForLanguage(const QString &languageCode);

// Removes the character or block property from every run that has it.
void removeAttribute(QTextDocument &text, QTextFormat::Property attribute);
// Gives every paragraph the alignment and a head indent (left margin) of 0; its first line keeps
// where it started, and every other property of the paragraph stays. A paragraph without a
// style gains just these two. Values outside 0..4 change nothing.
void applyAlignment(QTextDocument &text, int alignment);
// Gives every run that has a font (a family or a size) the point size, keeping its family,
// weight and slant; runs without a font stay without one. A size that is not a positive finite
// number changes nothing.
void setSizeOfTextTo(QTextDocument &text, float size);

} // namespace JXNSTextStorageExtensions
