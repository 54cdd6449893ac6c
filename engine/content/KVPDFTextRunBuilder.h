#pragma once
// The text-run builder: the state keeper's show handler. Each Tj, TJ, ' and " gives at most one
// KVPDFTextBlob, then the text matrix moves by what was shown, as the PDF standard has it.
//
// A run: its location is the translation of the text rendering matrix
// [Tfs*Th 0 0 Tfs 0 Trise] x Tm x CTM at its first code (TJ numbers before that code move it
// there, and the run's text matrix with it); its range is the show's string operand (the
// whole array for TJ) in the data of the stream holding the operator (the page's content
// stream, which for a page of several streams is their join, or the form being drawn); its
// text is the operand's codes decoded by the font. A run within 0.05 of the previous run's y
// takes that y exactly, so one line keeps one baseline. A TJ gap between two codes wider than
// 50 * (width of code 32) + 50 thousandths of an em puts a space into the text (one code 32 or
// <0020> in the rewrite), unless the text holds a space already. A TJ of numbers only gives a
// run with empty text whose width is the gap it moves, in page units.
//
// The advance: per code (w * Tfs + Tc, + Tw for a one-byte code 32) * Th, each TJ number n
// -n / 1000 * Tfs * Th. A vertical font (WMode 1) moves down by 1 em per code instead (the
// fonts read no vertical metrics) plus Tc and Tw, and n moves by -n / 1000 * Tfs.
//
// Fonts: the state's font name is looked up in the resources its Tf was read in (a form's
// own, else its caller's; KVPDFGraphicsState::TfontResources), shared through the document's
// font list, and entered in the page's fonts (the page's own take their names, a form's only
// free ones). A name that finds no font still gives a run, with null text, ascent and descent
// of 1 em, and an advance of Tc and Tw alone.
//
// Rewrites: with a table given, each run with text gets an entry: the show written again one
// code per operator ("(H) Tj (i) Tj"; a code after a TJ number as "[-20 (B)] TJ"; "T* " in
// front for ' and "; codes of more than one byte as hex, "<0041>"; a TJ number after the last
// code as "[n] TJ", so what follows stays where it was).
//
// Bad input: an operand that is no string or array shows nothing and moves nothing; a range
// outside the data is logged ("Failed to parse text blob. Content out of range.") and gives no
// run. Strings end at the operand's end however they are cut (a lone hex digit counts as
// followed by 0). Nothing throws out of show().
//
// Threads: runs and rewrites are appended under KVPDFPageLock, taken by blocking and only for
// the append; fonts are resolved and text decoded before it is taken. One show at a time per
// builder; the page is the caller's (one thread at a time).
#include "KVPDFContentInterpreter.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFPage.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <vector>

class KVPDFFont;
class KVPDFObjectDictionary;
class KVPDFObjectStream;
class KVPDFTextBlob;

class KVPDFTextRunBuilder {
public:
    static constexpr double kBaselineSnap = 0.05;

    // `contentStream` is the stream whose data the dispatcher reads at depth 0 (runs of forms
    // name the form); runs are appended to `runs`, rewrites (when `rewrites` is not null) to
    // `rewrites`. All must outlive the builder.
    KVPDFTextRunBuilder(KVPDFPage &page, std::shared_ptr<KVPDFObjectStream> contentStream,
                        std::vector<std::shared_ptr<KVPDFTextBlob>> &runs, KVPDFTextRewrites *rewrites = nullptr);

    // Makes the builder the keeper's show handler.
    void attach(KVPDFGraphicsStateKeeper &keeper);
    void show(const KVPDFContentEvent &event, KVPDFGraphicsState &state);

    // One element of a show's operand: a string's bytes, or a TJ number.
    struct Element {
        bool isNumber = false;
        QByteArray bytes;
        float number = 0;
    };
    // The elements of a string operand ("(...)" or "<...>") or a TJ array, escapes decoded.
    static std::vector<Element> elementsOf(QByteArrayView operand);

private:
    std::shared_ptr<KVPDFFont> fontFor(const KVPDFGraphicsState &state);
    static void finishShow(KVPDFGraphicsState &state, double advance, bool vertical);

    KVPDFPage &m_page;
    std::shared_ptr<KVPDFObjectStream> m_contentStream;
    std::vector<std::shared_ptr<KVPDFTextBlob>> &m_runs;
    KVPDFTextRewrites *m_rewrites;
    std::shared_ptr<KVPDFObjectDictionary> m_pageResources;
    struct CachedFont {
        std::shared_ptr<KVPDFObjectDictionary> resources; // keeps the key's address taken
        std::shared_ptr<KVPDFFont> font;                  // null: looked up, none found
    };
    std::map<std::pair<const KVPDFObjectDictionary *, QByteArray>, CachedFont> m_fonts;
};
