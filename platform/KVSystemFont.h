#pragma once
// A system font for measuring text, in place of the platform's font service: fontconfig picks
// the face, FreeType measures it. The engine measures with it where a PDF font lacks widths or
// metrics; the form code names fonts by it.
//
// Names: a PostScript or PDF font name is split into family and style before fontconfig sees
// it ("Times-Bold", "TimesNewRomanPS-BoldMT", "Arial,BoldItalic", "Helvetica-Oblique"): the part
// after "-" or "," gives weight and slant (Bold, Italic, Oblique, BoldItalic, BoldOblique, with
// a trailing "MT"/"PS" dropped), the part before it the family. A name with blanks ("Zapf
// Dingbats", "Helvetica Bold") is a family name, with a trailing style word read the same way
// ("Roman" excepted there: "Times New Roman" is a family). A subset prefix ("ABCDEF+") is dropped.
// A part after "-" that is no run of style words stays in the family. A family without blanks
// that fontconfig does not list loses a trailing "MT"/"PS" ("ArialMT", "TimesNewRomanPS"), while
// an installed one keeps it ("NimbusMonoPS").
// Whatever fontconfig answers is taken (it always answers some face); Helvetica, Times and
// Courier resolve to their URW metric twins through fontconfig's own aliases. Answers are cached
// per requested name for the process.
//
// Units: advances, ascent and descent are in points at the font's size (descent negative).
//
// Ownership: a value shared by std::shared_ptr; faces are cached per (file, index) for the
// process. Threads: every member may be called from any thread; FreeType faces are used under
// one mutex (the FreeType library object is not shared between threads unlocked).
// Bad input never throws: a face FreeType cannot open gives a font with no face, whose advances,
// ascent and descent are 0 and whose names are the requested family.
#include <QString>

#include <memory>

class KVSystemFont {
public:
    // The face fontconfig chooses for `name` at `size` points.
    static std::shared_ptr<KVSystemFont> fontWithName(const QString &name, double size);

    double size() const { return m_size; }
    // The face's family and style as fontconfig states them ("Nimbus Sans", "Bold").
    QString familyName() const { return m_family; }
    QString styleName() const { return m_style; }
    // Family and style joined by a blank, the style left out when it is "Regular" ("Nimbus Sans
    // Bold"); for a standard-14 request the standard name's full form ("Helvetica Bold").
    QString fullName() const;
    // The PostScript name of the face ("NimbusSans-Bold").
    QString postScriptName() const { return m_postScriptName; }
    // The file fontconfig chose, empty when none.
    QString filePath() const { return m_filePath; }
    bool hasFace() const;

    // Sum of the horizontal advances of the text's characters (no kerning), in points. A character
    // the face lacks counts with the face's .notdef advance; there is no fallback to other faces.
    double advance(const QString &text) const;
    double ascent() const;
    double descent() const;

    ~KVSystemFont();

private:
    struct Face;
    double verticalMetric(bool ascent) const;
    KVSystemFont() = default;
    std::shared_ptr<Face> m_face;
    double m_size = 0;
    QString m_requested;
    QString m_family;
    QString m_style;
    QString m_postScriptName;
    QString m_filePath;
};
