#pragma once
// The advance of each character of a text run, measured from the show operation's own bytes:
// what selection needs to place a caret or a hit between characters.
//
// A run's codes are read as its font reads them (KVPDFFont::nextCode over the operand's strings
// joined, literal and hex alike, so a two-byte code may even span two strings of one TJ), and
// each code's width goes to the first character its text decodes to; further characters of the
// same code get 0, and a code that decodes to nothing adds its width to the character before
// it. A space the run builder put into the text for a wide TJ gap gets that gap's width, and
// the code after it no longer carries the gap. A code's width is
//     ((-k / 1000 + glyph width) * Tfs + Tc [+ Tw for a one-byte code 32]) * Th * sx * cx
// with k the TJ numbers since the code before, sx = |text matrix a| (|b| when a is 0) and
// cx = |CTM a| (|b| when a is 0): the run's scale along the line, in page units.
//
// The answer always holds exactly one width per UTF-16 unit of the run's text: codes beyond
// the text are not measured, characters no code reaches get 0, and nothing reads past the
// operand. A run without a font or text gets no widths.
// Threads: pure functions of their arguments; measureRun writes only the run it is given.
#include <QByteArrayView>
#include <QString>

#include <vector>

class KVPDFFont;
class KVPDFGraphicsState;
class KVPDFTextBlob;

namespace KVPDFTextWidths {
// The widths of the characters of `text`, shown by `operand` (a string "(..)"/"<..>" or a TJ
// array "[..]" as it stands in the content) with `font` under `state`.
std::vector<float> measure(QByteArrayView operand, const KVPDFFont *font, const KVPDFGraphicsState &state,
                           const QString &text);
// Measures the run from its stream's decoded data at its data range and stores the widths in
// run.widths and, when their sum is not 0, the sum in run.width. False (the run left as it
// is) when the run has no text, font or stream, or its range lies outside the data.
bool measureRun(KVPDFTextBlob &run);
} // namespace KVPDFTextWidths
