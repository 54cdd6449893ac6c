#pragma once
// The graphics and text state the content dispatcher's events change, and the sink that keeps
// it (q/Q, cm, line, colour, text state and text positioning, as the PDF standard has them).
//
// Matrices are QTransforms in the PDF's row-vector order: QTransform(a, b, c, d, e, f), and
// "M concatenated in front of the CTM" is M * CTM. Colours are KVColor; a colour that was never
// set is black, held explicitly.
//
// KVPDFGraphicsState is a value: copies are independent (a saved state, a record made at a
// show or an image, keeps what it was given). Nothing here throws; operands of the wrong kind
// read as 0 or leave the state as it was (a Tf without a name, an unknown colour space).
// Threads: one at a time per object.
#include "KVPDFContentInterpreter.h"

#include "KVColor.h"

#include <QByteArray>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class KVPDFObjectDictionary;

// Colour-space families; the values are stored codes.
enum class KVPDFColorSpace : int32_t {
    DeviceGray = 0,
    DeviceRGB = 1,
    DeviceCMYK = 2,
    CalGray = 3,
    CalRGB = 4,
    Lab = 5,
    ICCBased = 6,
    Pattern = 7,
    Indexed = 8,
    Separation = 9,
    DeviceN = 10,
};

class KVPDFGraphicsState {
public:
    QTransform CTM;
    float TcharSpacing = 0;
    float TwordSpacing = 0;
    float ThorizontalScaling = 1; // a fraction: Tz 50 gives 0.5
    float Tleading = 0;
    QByteArray Tfont; // the font resource's name, without "/"
    // The resources the Tf was read in (a form's own, else its caller's): the name means the
    // font of that Font dictionary wherever the text is shown, a form's /F1 not the page's.
    std::shared_ptr<KVPDFObjectDictionary> TfontResources;
    float TfontSize = 0;
    int32_t Tmode = 0; // 3 is invisible text
    float Trise = 0;
    float CA = 1; // stroking alpha
    float ca = 1; // non-stroking alpha
    bool Tknockout = true;
    QTransform textMatrix;
    QTransform textLineMatrix;
    QTransform outerCTM; // carried and copied; nothing sets it yet
    KVPDFColorSpace strokeColorSpace = KVPDFColorSpace::DeviceGray;
    KVPDFColorSpace nonstrokeColorSpace = KVPDFColorSpace::DeviceGray;
    KVColor strokeColor = KVColor::gray(0);
    KVColor nonstrokeColor = KVColor::gray(0);
    float lineWidth = 1;
    int32_t lineCap = 0;
    int32_t lineJoin = 0;
    float miterLimit = 10;
    std::vector<float> dashArray;
    float dashPhase = 0;

    // Tz's operand, a percentage.
    void setThorizontalScaling(float percent) { ThorizontalScaling = percent / 100; }
    // The start of the next line, offset by (tx, ty) from the start of this one: the text line
    // matrix becomes [1 0 0 1 tx ty] in front of itself, and the text matrix the same.
    void handleTd(float tx, float ty);
    // Moves the text matrix by (tx, ty) in text space, the line matrix staying: what a show
    // advances by, and what a TJ number moves.
    void translateTextMatrix(double tx, double ty);

    // A family name (the eleven of the PDF standard, full names only) or nothing.
    static std::optional<KVPDFColorSpace> colorSpaceForName(QByteArrayView name);
    // Sets the stroke or non-stroke space when `name` is a family; answers whether it was.
    bool setColorSpaceName(QByteArrayView name, bool forStroke);
    bool setStrokeColorSpaceName(QByteArrayView name) { return setColorSpaceName(name, true); }
    bool setNonstrokeColorSpaceName(QByteArrayView name) { return setColorSpaceName(name, false); }
    // A device colour with alpha 1: black for Separation whatever the tint, else by the number
    // of elements: 4 CMYK, 3 RGB, 1 gray; nothing for other counts.
    static std::optional<KVColor> colorFromElements(std::span<const float> elements, KVPDFColorSpace space);
    // Leave the colour as it was when colorFromElements answers nothing.
    void setStrokeColorFromElements(std::span<const float> elements);
    void setNonstrokeColorFromElements(std::span<const float> elements);
    // An ExtGState's alphas ("CA", "ca") and line parameters ("LW", "LC", "LJ", "ML"); other
    // keys and values that are not numbers are ignored.
    void setValuesFromDict(KVPDFObjectDictionary &dictionary);

    // "CTM a b c d e f".
    QString description() const;
};

// Applies the events to a current state and a stack of saved ones. The dispatcher has already
// dropped unbalanced Q's; more saves than kMaxSaved are counted but not copied, and their Q's
// restore nothing.
//
// Showing text (Tj, TJ, ', "): the keeper moves to the next line for ' and " and takes their
// spacing operands, then calls the show handler with the state as it stands for the show. The
// handler (the run builder) makes what it makes of the text and moves the text matrix by the
// text's advance, with translateTextMatrix; without a handler the text matrix stays.
class KVPDFGraphicsStateKeeper : public KVPDFContentSink {
public:
    static constexpr size_t kMaxSaved = 4096;
    using ShowHandler = std::function<void(const KVPDFContentEvent &, KVPDFGraphicsState &)>;

    explicit KVPDFGraphicsStateKeeper(KVPDFGraphicsState initial = {}) : m_state(std::move(initial)) { }

    const KVPDFGraphicsState &state() const { return m_state; }
    KVPDFGraphicsState &state() { return m_state; }
    const std::vector<KVPDFGraphicsState> &savedStates() const { return m_saved; }
    void setShowHandler(ShowHandler handler) { m_showHandler = std::move(handler); }

    void graphicsState(const KVPDFContentEvent &event) override;
    void colour(const KVPDFContentEvent &event) override;
    void textObject(const KVPDFContentEvent &event) override;
    void textState(const KVPDFContentEvent &event) override;
    void textPosition(const KVPDFContentEvent &event) override;
    void textShow(const KVPDFContentEvent &event) override;

private:
    void setColorSpace(const KVPDFContentEvent &event, bool forStroke);

    KVPDFGraphicsState m_state;
    std::vector<KVPDFGraphicsState> m_saved;
    size_t m_uncopiedSaves = 0;
    ShowHandler m_showHandler;
};
