#pragma once
// A link annotation: where it leads (a page of its document, a web address, a file), its
// border width and its colour. It draws nothing and builds no appearance: the program draws
// its rectangle itself.
//
// Reading: Dest first (a named destination is looked up in the document's table); without
// one, the action A: GoTo reads its D as Dest, URI gives a web address with every blank and
// NUL removed, GoToR a file address resolved against the folder of the document's file
// (KVPDFDestination::fileAddress; the process's working directory is never touched); any other
// action is logged and leaves the link without target. Reading never writes the dictionary:
// a link without C shows defaultLinkColor() and still has no C, one without Border has width
// 0.5 and still has no Border.
//
// Writing: the setters write their key at once (C, Border, and Dest or A for a new target),
// unless called with initialSet. A copy is made like the base annotation's, and a page link's
// copy states its target explicitly with the same fit and operands; C and Border stay as the
// link had them.
//
// Ownership: the target page is held weakly. Threads and bad input: as the base class; a Dest
// that is not an array after resolution is logged ("found badly formed link Dest: ...") and
// leaves the link without target; a page reference or index that names no page of the
// document leaves the target empty, the kind staying a page link.
#include "KVPDFAnnotation.h"
#include "KVPDFDestination.h"

#include <QString>

#include <optional>

class KVPDFAnnotationLink : public KVPDFAnnotation {
public:
    enum LinkType : int { LinkNone = 0, LinkPage = 1, LinkURI = 2, LinkFile = 3 };

    KVPDFAnnotationLink(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, KVPDFPage *page);
    // A new link to `target` with the fit and operands given (fit None writes an empty Dest).
    static std::shared_ptr<KVPDFAnnotationLink> linkWithRect(const QRectF &rect, const std::shared_ptr<KVPDFPage> &target,
                                                             KVPDFPage *page, const KVPDFFitOperands &operands);
    // A new link to `target` with fit Fit.
    static std::shared_ptr<KVPDFAnnotationLink> linkWithRect(const QRectF &rect, const std::shared_ptr<KVPDFPage> &target,
                                                             KVPDFPage *page);
    // A new URI link: the text parsed as a URL, its address normalised; text that does not
    // parse gives "".
    static std::shared_ptr<KVPDFAnnotationLink> linkWithRect(const QRectF &rect, const QString &url, KVPDFPage *page);

    int annotationType() const override { return AnnotationLink; }
    bool leadsToPage() const override { return m_linkType == LinkPage; }
    std::shared_ptr<KVPDFImprint> copy() const override;

    int linkType() const { return m_linkType; }
    // The kind alone; the dictionary is not changed.
    void setLinkType(int type) { m_linkType = type; }
    // The target page of a page link, or nullptr.
    std::shared_ptr<KVPDFPage> destinationPage() const { return m_destinationPage.lock(); }
    // The address of a URI or file link, else empty.
    const QString &destinationText() const { return m_destinationText; }
    // Kind becomes a page link: Dest = [page /Fit], A removed.
    void setDestinationPage(const std::shared_ptr<KVPDFPage> &target);
    // Kind becomes a URI link: the URI of the link's action is replaced (the action is
    // rewritten as a direct dictionary, so an action object shared with another link keeps
    // its own URI); without an action, A = {S /URI URI text} and Dest is removed.
    void setDestinationURL(const QString &url);
    // The fit of a page link and its operands (an operand stated as null is empty).
    const KVPDFFitOperands &fit() const { return m_fit; }
    int fitStyle() const { return m_fit.fit; }

    const KVColor &color() const { return m_color; }
    // Writes C unless initialSet.
    void setColor(const KVColor &color, bool initialSet = false);
    // The Border width: element 2 of Border, 1.0 for a shorter array, 0.5 without Border.
    float borderWidth() const { return m_borderWidth.value_or(0.5f); }
    bool hasBorderWidth() const { return m_borderWidth.has_value(); }
    // Writes Border [0 0 width] unless initialSet.
    void setBorderWidth(float width, bool initialSet = false);
    // Calibrated blue at alpha 0.2.
    static KVColor defaultLinkColor();

private:
    KVPDFAnnotationLink() = default;
    void readLink();
    // Reads a Dest value (or a GoTo action's D) into the page target and fit.
    void readDestination(const KVPDFObjectPtr &value);
    KVPDFDocument *linkDocument() const;
    void writePageDest(const std::shared_ptr<KVPDFPage> &target, const KVPDFFitOperands &operands);

    int m_linkType = LinkNone;
    std::weak_ptr<KVPDFPage> m_destinationPage;
    QString m_destinationText;
    KVPDFFitOperands m_fit;
    std::optional<float> m_borderWidth;
    KVColor m_color = defaultLinkColor();
};
