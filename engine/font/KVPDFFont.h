#pragma once
// One PDF font dictionary turned into what text extraction needs: for each code of a string
// operand the Unicode text it stands for and its advance width in em (text-space units per
// unit of font size), plus ascent and descent. Embedded font programs are never read; where a
// width or metric is missing the font measures with the system font of its (normalised) name
// (KVSystemFont at 10 points).
//
// Codes. A simple font reads one byte per code through a 256-entry table (StandardEncoding,
// Mac OS Roman or Windows-1252, changed by Differences). A composite font (Type0), and a simple
// font whose Encoding is an "Identity" name (not Type1) or a CMap stream, reads its codes
// through an encoding CMap (KVPDFEncodingCMap): Identity-H/V take two bytes per code with
// CID = code; a named CMap such as "90ms-RKSJ-H" splits the bytes by its code space (1 to 4
// bytes) and maps codes to CIDs. A trailing odd byte of an Identity string is ignored.
//
// Text, in order of precedence: the ToUnicode stream, keyed by code; for a composite font
// without one, "<Registry>-<Ordering>-UCS2" of the descendant's CIDSystemInfo (else the
// encoding CMap's own), keyed by CID; for a simple font, the code table. A code the ToUnicode
// map leaves out gives the code itself, whatever the encoding. A Differences name is looked up
// in the glyph-name table, then read as uniXXXX / uXXXX[XX] (code points beyond the BMP come
// out as surrogate pairs); any other name gives U+0020 and a log line.
//
// Widths: a composite font looks up W by CID (DW, else 1000, for a CID W leaves out); a
// simple font takes Widths from FirstChar, else the standard-14 table of an exact standard
// name, else measures. A code outside FirstChar..LastChar takes the first width. Type 3
// widths go through the FontMatrix.
//
// Bad input: building never throws and never fails for a dictionary (fontWithFontDictionary
// answers nullptr only for an object that is no dictionary or stream, or that cannot be read
// at all). A font with neither widths nor a known name measures every code. FirstChar..LastChar
// spans at most kMaxWidths codes; Widths and W entries that are no numbers read as 0 or are
// skipped; a FontMatrix that is not six numbers is the identity.
//
// Ownership: held by std::shared_ptr, shared by the pages of a document through its font list
// (KVPDFDocument::lookupFont / addFont). The font keeps its dictionary alive.
// Threads: building reads all the font needs from the object graph, which any number of
// threads may read at once; pages build a font outside KVPDFPageLock and share the first one
// entered in the document's font list (KVPDFPage::sharedFont). Once built, every const member
// may be called from any thread without touching the graph (ascent, descent and the measuring
// font are made once, under std::call_once). fontDictionary(), fontDescriptor() and w() hand
// out graph objects, which any thread may read (KVPDFObject.h). setNSFont is a write (one
// thread at a time).
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

class KVPDFCMap;
class KVPDFEncodingCMap;
class KVPDFObject;
class KVPDFObjectArray;
class KVPDFObjectDictionary;
class KVPDFObjectName;
class KVSystemFont;

class KVPDFFont {
public:
    enum FontType : int32_t { TypeOther = 0, TypeType0 = 1, TypeType1 = 2, TypeType3 = 3, TypeTrueType = 4, TypeCIDFont = 5 };
    // The widest FirstChar..LastChar span read; a larger LastChar is cut to it.
    static constexpr uint32_t kMaxWidths = 65536;

    // The font of a font object (a reference, dictionary or stream); nullptr only when the
    // object does not resolve to a dictionary. Never throws.
    static std::shared_ptr<KVPDFFont> fontWithFontDictionary(const std::shared_ptr<KVPDFObject> &font);

    KVPDFFont(const KVPDFFont &) = delete;
    KVPDFFont &operator=(const KVPDFFont &) = delete;
    ~KVPDFFont();

    // The text of one string operand's bytes.
    QString stringForData(QByteArrayView data) const;
    // Walks a string code by code: reads the code at `position`, moves `position` past it and
    // answers true; false when no code is left (a trailing odd byte of an Identity font is no
    // code: `position` then moves to the end). `length` gets the code's byte count.
    bool nextCode(QByteArrayView data, qsizetype &position, uint32_t &code, int &length) const;
    // The text of one code (as stringForData would give it inside a string).
    QString stringForCode(uint32_t code) const;
    // Advance width of a code in em.
    float glyphWidth(uint32_t code) const;
    // Ascent above the baseline and descent below it (negative), in em.
    float ascent() const;
    float descent() const;
    // The descriptor's Flags, 0 without one (a composite font's descriptor lies in its
    // descendant and is not read here).
    int64_t descriptorFlags() const;
    // The ToUnicode (or UCS2) map's UTF-16 big-endian bytes for a code; empty without a map.
    QByteArray dataForGlyph(uint32_t code) const;

    const std::shared_ptr<KVPDFObjectDictionary> &fontDictionary() const { return m_fontDictionary; }
    const std::shared_ptr<KVPDFObjectDictionary> &fontDescriptor() const { return m_fontDescriptor; }
    FontType fontType() const { return m_fontType; }
    bool isTwoByte() const { return m_isTwoByte; }
    bool isVerticalMode() const { return m_isVerticalMode; }
    // The descriptor's FontName, else BaseFont (for simple fonts; empty for composite ones).
    const QString &fontName() const { return m_fontName; }
    // The dictionary's BaseFont, for every type.
    const QString &baseFontName() const { return m_baseFontName; }
    const QString &subtype() const { return m_subtype; }
    uint32_t firstChar() const { return m_firstChar; }
    uint32_t lastChar() const { return m_lastChar; }
    // The simple font's width table (index i is code firstChar + i), in em (glyph units for
    // Type 3); empty for composite fonts and fonts that measure.
    const std::vector<float> &widths() const { return m_widths; }
    // The composite font's W array as read (nullptr otherwise) and its default width in em.
    const std::shared_ptr<KVPDFObjectArray> &w() const { return m_w; }
    float dw() const { return m_dw; }
    // Whether the text comes from the font's ToUnicode stream.
    bool hasToUnicode() const { return m_hasToUnicode; }
    const std::shared_ptr<KVPDFEncodingCMap> &encodingCMap() const { return m_encodingCMap; }
    // The CID a code selects (the code itself for simple fonts).
    uint32_t cidForCode(uint32_t code) const;
    // The six numbers a b c d tx ty.
    const double *fontMatrix() const { return m_fontMatrix; }
    // The measuring font, made on first use; nullptr for composite fonts.
    std::shared_ptr<KVSystemFont> fontForWidths() const;
    const std::shared_ptr<KVSystemFont> &nsFont() const { return m_nsFont; }
    void setNSFont(const std::shared_ptr<KVSystemFont> &font) { m_nsFont = font; }

    // Fonts are equal when their dictionaries are (the same object, or the same indirect one).
    bool isEqual(const KVPDFFont &other) const;
    bool isEqualToDictionary(const KVPDFObjectDictionary &dictionary) const;
    // "<fontName> <Subtype>".
    QString description() const;

    // The standard-14 name of a form-field abbreviation ("Helv" -> "Helvetica"), else `name`.
    static QString regularName(const QString &name);
    // The system font's full name, abbreviated when it is a standard-14 one, without blanks
    // ("Helvetica Bold" -> /HelveticaBold; "Helvetica" -> /Helv).
    static std::shared_ptr<KVPDFObjectName> abbreviatedNameForFont(const KVSystemFont &font);
    // A new Type1 font dictionary named `resourceName` for `baseName`, with the shared
    // encoding object as Encoding.
    static std::shared_ptr<KVPDFObjectDictionary> fontWithName(const QString &resourceName, const QString &baseName);
    // The one encoding dictionary every fontWithName shares (Differences over
    // StandardEncoding giving the Latin-1 repertoire); made once.
    static std::shared_ptr<KVPDFObjectDictionary> encodingObject();

private:
    KVPDFFont() = default;
    void build(const std::shared_ptr<KVPDFObjectDictionary> &dictionary);
    void chooseEncoding(const std::shared_ptr<KVPDFObject> &encoding);
    void applyNamedEncoding(const QByteArray &name, bool intoPrivateTable);
    void applyDifferences(const std::shared_ptr<KVPDFObjectArray> &differences);
    void setupSimpleWidths();
    void setupCompositeFont();
    void readW(const std::shared_ptr<KVPDFObjectArray> &w);
    float measuredWidth(const QString &text) const;
    float cidWidth(uint32_t cid) const;
    // What ascent and descent need from the dictionaries, read while building.
    void readMetrics();
    void computeMetrics() const;
    void appendCodeText(uint32_t code, QString &out) const;
    std::shared_ptr<KVPDFObjectDictionary> descendant() const;

    std::shared_ptr<KVPDFObjectDictionary> m_fontDictionary;
    std::shared_ptr<KVPDFObjectDictionary> m_fontDescriptor;
    double m_fontMatrix[6] = {1, 0, 0, 1, 0, 0};
    bool m_identityMatrix = true;
    QString m_fontName;
    QString m_measuringName;
    FontType m_fontType = TypeOther;
    uint32_t m_firstChar = 0;
    uint32_t m_lastChar = 0;
    std::vector<float> m_widths;
    // A shared read-only table or m_privateTable's data; nullptr for fonts read by CMap.
    const char16_t *m_encodingTable = nullptr;
    std::vector<char16_t> m_privateTable;
    // Second units of the codes whose Differences name lies beyond the BMP (else 0).
    std::vector<char16_t> m_privateLowSurrogates;
    bool m_hasPrivateTable = false;
    std::shared_ptr<KVPDFObjectArray> m_w;
    std::unordered_map<uint32_t, float> m_cidWidths;
    struct CIDWidthRange {
        uint32_t first;
        uint32_t last;
        float width;
    };
    std::vector<CIDWidthRange> m_cidWidthRanges;
    float m_dw = 1.0f;
    bool m_isTwoByte = false;
    std::shared_ptr<KVPDFEncodingCMap> m_encodingCMap;
    std::shared_ptr<KVPDFCMap> m_cmap;
    // The map is keyed by CID (a predefined UCS2 map) rather than by code.
    bool m_cmapByCID = false;
    bool m_hasToUnicode = false;
    bool m_isVerticalMode = false;
    std::shared_ptr<KVSystemFont> m_nsFont;

    mutable std::once_flag m_measuringOnce;
    mutable std::shared_ptr<KVSystemFont> m_fontForWidths;
    QString m_subtype;
    QString m_baseFontName;
    int64_t m_descriptorFlags = 0;
    std::optional<double> m_descriptorAscent;
    std::optional<double> m_descriptorDescent;
    double m_boxAscent = 0;
    double m_boxDescent = 0;
    mutable std::once_flag m_metricsOnce;
    mutable float m_ascent = 0;
    mutable float m_descent = 0;
};
