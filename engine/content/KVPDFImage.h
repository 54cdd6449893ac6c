#pragma once
// An image XObject drawn on a page: which stream, its pixel size and depth, and where and how
// large it is drawn. Made by the image collector at each Do of an image; editing picks out,
// copies or blanks out images through these records, and a compressing save recompresses them.
//
// A value: it holds the stream (shared with the document's object graph) and a copy of the
// graphics state in force at the Do, so later operators never move a recorded image. Nothing
// here throws: entries that are missing, not numbers or unreadable (a reference to a damaged
// object) read as 0, a ColorSpace of another shape as not grey; integers out of range
// saturate.
// Threads: one at a time per record.
#include "KVPDFGraphicsState.h"

#include <QByteArray>
#include <QSizeF>
#include <QString>
#include <QTransform>

#include <cstdint>
#include <memory>
#include <vector>

class KVPDFDocument;
class KVPDFObjectArray;
class KVPDFObjectDictionary;
class KVPDFObjectStream;
class KVPDFObjectString;

// Image dictionaries come from files: a resolved entry or array element, null when it is
// missing or the object it refers to cannot be read (never throws).
KVPDFObjectPtr kvpdfImageEntry(KVPDFObjectDictionary &dictionary, QByteArrayView key);
KVPDFObjectPtr kvpdfImageElement(KVPDFObjectArray &array, size_t index);

// The pixels of an image that is not yet in any PDF, for KVPDFImage::pdfDataWithImages. Rows
// run from the top, without padding.
struct KVPDFImageSamples {
    enum class Kind {
        Gray, // 8 bits, one byte a pixel: DeviceGray
        RGB,  // 8 bits a component, three bytes a pixel: DeviceRGB
        JPEG, // the bytes of a JPEG file, stored as they are (DCTDecode), never decoded here
    };
    Kind kind = Kind::RGB;
    int width = 0;
    int height = 0;
    QByteArray data;
    // JPEG only: 1 (DeviceGray), 3 (DeviceRGB) or 4 (DeviceCMYK), as its frame header says, and
    // whether its CMYK is stored inverted (Adobe's APP14 marker), which a Decode array undoes.
    int components = 3;
    bool invertedCMYK = false;
    // Opacity, 8 bits a pixel (width x height bytes), written as the image's SMask; empty for
    // an opaque image.
    QByteArray alpha;
};

// One page of a PDF made from images: its size in points and where the image lies on it, as
// the matrix that maps the unit square onto the image in PDF user space (origin at the
// bottom left), as a cm before the Do would.
struct KVPDFImagePage {
    KVPDFImageSamples image;
    QSizeF pageSize;
    QTransform ctm;
};

class KVPDFImage {
public:
    // Reads Width and Height (into both the drawn and the pixel fields), BitsPerComponent
    // (1 for an image mask that leaves it out), Length, "FolivoURL" (a string, else none) and
    // whether the colour space is grey: DeviceGray or CalGray (as a name or an array), or an
    // ICCBased profile whose Alternate is grey or, without an Alternate, whose N is 1. Null
    // only for a null stream.
    static std::shared_ptr<KVPDFImage> imageWithXObject(const std::shared_ptr<KVPDFObjectStream> &xObject);
    explicit KVPDFImage(const std::shared_ptr<KVPDFObjectStream> &xObject);

    const std::shared_ptr<KVPDFObjectStream> &xObject() const { return m_xObject; }
    float x() const { return m_x; }
    void setX(float x) { m_x = x; }
    float y() const { return m_y; }
    void setY(float y) { m_y = y; }
    float width() const { return m_width; }
    void setWidth(float width) { m_width = width; }
    float height() const { return m_height; }
    void setHeight(float height) { m_height = height; }
    // The pixel field when above 0, else the drawn size.
    float pixelWidth() const { return m_pixelWidth > 0 ? m_pixelWidth : m_width; }
    float pixelHeight() const { return m_pixelHeight > 0 ? m_pixelHeight : m_height; }
    bool hasPixels() const { return m_pixelWidth > 0 && m_pixelHeight > 0; }
    int32_t bitspercomponent() const { return m_bitsPerComponent; }
    bool isGrayScale() const { return m_grayscale; }
    int32_t length() const { return m_length; }
    const std::shared_ptr<KVPDFObjectString> &urlString() const { return m_urlString; }
    const KVPDFGraphicsState &gstate() const { return m_gstate; }
    void setGstate(const KVPDFGraphicsState &state) { m_gstate = state; }
    // The XObject's resource name, without "/".
    const QByteArray &name() const { return m_name; }
    void setName(const QByteArray &name) { m_name = name; }
    bool blankedOut() const { return m_blankedOut; }

    // Blanking out puts a one-pixel white image (marked "FolivoBlank") in the document's table
    // under the image's number and generation, so every use of the image shows it, and
    // rebuilds the document's data (KVPDFDocument::updateDocData); restoring puts the kept
    // stream back the same way. `document` is the one whose table holds the image. False, with
    // nothing changed, for an image without a number or when the data cannot be rebuilt.
    // Rebuilding rereads the pages, which drops their lists of image records: a record reached
    // only through its page's list may be gone when the call returns.
    bool blankOutImage(KVPDFDocument &document);
    bool restoreImage(KVPDFDocument &document);
    // Blanked out by this record, or by an earlier one before the document was saved.
    bool hasBeenBlankedOut() const;
    // Restoring goes through restoreImage; this logs that and does nothing.
    void restore() const;
    // A one-page PDF showing the image alone, as drawn: the media box is the image's box on its
    // page (the unit square under the CTM of its Do). Empty when it cannot be written.
    QByteArray pdfData() const;
    // A PDF of one page for each of `pages`, in order, each showing its image alone: samples
    // Flate-compressed, JPEG data as it is, alpha as an SMask. Empty, with the reason logged,
    // for no pages, a page without area (or not finite), an image without pixels, data or
    // alpha whose size disagrees with the image's, a JPEG with another component count, or
    // when the file cannot be written. Never throws; no state is shared between calls.
    static QByteArray pdfDataWithImages(const std::vector<KVPDFImagePage> &pages);

    // "KVPDFImage <name>: x y width height".
    QString description() const;

private:
    std::shared_ptr<KVPDFObjectStream> m_xObject;
    float m_height = 0;
    float m_width = 0;
    float m_x = 0;
    float m_y = 0;
    float m_pixelHeight = 0;
    float m_pixelWidth = 0;
    int32_t m_bitsPerComponent = 0;
    bool m_grayscale = false;
    int32_t m_length = 0;
    std::shared_ptr<KVPDFObjectString> m_urlString;
    KVPDFGraphicsState m_gstate;
    bool m_blankedOut = false;
    QByteArray m_name;
};

// The sink that records images: at a Do of an image XObject (directly or inside a form), a
// record placed by the bounding box of the unit square under the keeper's CTM, holding a copy
// of the keeper's state. Put it after the keeper in a KVPDFContentSinkList, so a cm before the
// Do has been applied. Inline images, forms and other XObjects make no record.
class KVPDFImageCollector : public KVPDFContentSink {
public:
    explicit KVPDFImageCollector(const KVPDFGraphicsStateKeeper &keeper) : m_keeper(keeper) { }

    void xobject(const KVPDFContentEvent &event, const QByteArray &name,
                 const std::shared_ptr<KVPDFObjectStream> &object) override;

    const std::vector<std::shared_ptr<KVPDFImage>> &images() const { return m_images; }
    std::vector<std::shared_ptr<KVPDFImage>> takeImages() { return std::move(m_images); }

private:
    const KVPDFGraphicsStateKeeper &m_keeper;
    std::vector<std::shared_ptr<KVPDFImage>> m_images;
};
