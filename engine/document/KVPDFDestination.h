#pragma once
// Where an outline item or a link leads: a page of the same document with a fit and its
// operands, a web address (URI action) or a file in another document (GoToR action).
//
// Operands: the format lets any operand be null ("keep the current value"); a null is held as
// an empty optional and written back as null, so [p /XYZ null null null] never turns into a
// jump to the page's corner at zoom 0.
//
// Precedence when reading a dictionary (an outline item or a link): Dest first; without one,
// the action A (GoTo leads to its D; URI and GoToR give an address; any other action, such as
// Named or Launch, leaves the destination without a target but is kept, see action()).
// Named destinations are looked up in the document's table (KVPDFDocument::dests).
//
// GoToR: a relative file name is resolved against the folder of the document's file (never
// against the process's working directory, which is not touched); a document without a path
// keeps the name as it is. A "Mac" path ("Disk:folder:file") maps its colons to "/" under that
// folder; when no such file exists its text is kept as it was.
//
// Ownership: the page is held weakly (the document owns its pages; an item parked on a removed
// page must not keep that page alive). The kept action is the object the dictionary held.
// Threads: one thread at a time, the document's.
// Bad input: never throws; whatever cannot be read leaves the destination without target
// (type None) and is logged. A destination array shorter than its fit needs reads the missing
// operands as null.
#include "KVPDFObject.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class KVPDFDocument;
class KVPDFObjectArray;
class KVPDFObjectDictionary;
class KVPDFPage;
class QRectF;

// A fit and its operands, as a destination array states them after the page.
struct KVPDFFitOperands {
    enum Fit : int { None = 0, XYZ = 1, Fit = 2, FitH = 3, FitV = 4, FitR = 5, FitB = 6, FitBH = 7, FitBV = 8 };
    int fit = None;
    std::optional<double> left, top, bottom, right, zoom;

    // The fit of a name, None for any other.
    static int fitForName(const QByteArray &name);
    // "" for None and unknown fits.
    static QByteArray nameForFit(int fit);
    // Reads element 1 (the fit name) and the operands after it. A non-numeric operand reads
    // as null.
    static KVPDFFitOperands fromArray(KVPDFObjectArray &array);
    // The fit name and its operands in array order (XYZ: left top zoom; FitR: left bottom
    // right top; FitH, FitBH: top; FitV, FitBV: left); nothing for None and unknown fits.
    // Operands are reals, nulls stay null.
    void appendTo(std::vector<KVPDFObjectPtr> &elements) const;
    bool operator==(const KVPDFFitOperands &) const = default;
};

class KVPDFDestination {
public:
    enum Type : int { TypeNone = 0, TypePage = 1, TypeURL = 2, TypeFile = 3 };

    KVPDFDestination() = default;
    // Reads an outline item's or a link's dictionary (see the top of this file).
    static std::shared_ptr<KVPDFDestination> destinationFromDictionary(const std::shared_ptr<KVPDFObjectDictionary> &dictionary,
                                                                       KVPDFDocument &document);
    // A page destination from a resolved destination array: element 0 a page reference (or a
    // zero-based page index), then the fit. False, with nothing changed, when the page is not
    // one of the document's.
    bool readArray(KVPDFObjectArray &array, KVPDFDocument &document);
    // The absolute address of a GoToR file specification `file` (a string, or a file
    // specification dictionary) for a document whose file lies at `documentPath` (may be
    // empty). Empty when nothing can be read.
    static QString fileAddress(const KVPDFObjectPtr &file, const QString &documentPath);

    Type type() const { return m_type; }
    std::shared_ptr<KVPDFPage> page() const { return m_page.lock(); }
    // Type becomes TypePage.
    void setPage(const std::shared_ptr<KVPDFPage> &page);
    // left = x, bottom = y, right = x + width, top = y + height, zoom null, fit XYZ.
    void setBounds(const QRectF &rect);
    const KVPDFFitOperands &operands() const { return m_operands; }
    void setOperands(const KVPDFFitOperands &operands) { m_operands = operands; }
    int fit() const { return m_operands.fit; }
    const QString &url() const { return m_url; }
    // The action the dictionary held (A, as stored: a reference or a direct dictionary), or
    // nullptr: the writer keeps it for a destination that is not a page.
    const KVPDFObjectPtr &action() const { return m_action; }
    // The Dest the dictionary held when it did not lead to a page (a name nobody defines), or
    // nullptr: kept for writing, like the action.
    const KVPDFObjectPtr &unresolvedDest() const { return m_unresolvedDest; }

    // [page-reference fit operands...] for a page destination whose page still lives; else
    // logs "Attempting to create page destination dictionary for non-page destination" and
    // answers nullptr.
    std::shared_ptr<KVPDFObjectArray> pageDestination() const;
    QString description() const;

private:
    Type m_type = TypeNone;
    std::weak_ptr<KVPDFPage> m_page;
    KVPDFFitOperands m_operands;
    QString m_url;
    KVPDFObjectPtr m_action;
    KVPDFObjectPtr m_unresolvedDest;
};
