#pragma once
// Draws pages of PDF bytes held in memory, through poppler's Qt binding, and keeps the parsed
// documents in a process-wide pool so that bytes that do not change are parsed once and drawn
// many times. The page content is drawn alone: annotations are left out (imprints draw
// themselves) and the paper is transparent, so a drawing can be laid over another one.
//
// Two ways of drawing one page, both under the painter's current transform:
// - the engine's (KVPDFImager::drawPage): the crop box as the page displays, its own Rotate
//   applied and then `rotatedBy` more degrees clockwise (a multiple of 90), its top-left corner
//   at the origin, y downwards, one unit per point;
// - page space (drawPage with applyTranslation): the page unrotated, in its own coordinates
//   (y upwards, the crop box where the page puts it), then turned counterclockwise by
//   `rotatedBy` about the crop box's centre into the frame of the turned box, whose corner
//   stays where the box's corner was; with applyTranslation the crop box's corner is moved to
//   the origin first. A page of Rotate r shows as it displays when drawn with (360 - r) mod 360.
// "Crop box" is the page's effective crop box: the crop box intersected with the media box.
// Pixels are made at the painter's device resolution: where the transform from the page to the
// device is a scale along the axes (after any turn by quarters), the page is rasterised at that
// scale and put down without resampling, on whole device pixels; any other transform draws a
// raster at the transform's mean scale, smoothly resampled.
// A painter over a PDF paint engine (QPdfWriter, a PDF printer) is refused with a log line and
// nothing is drawn: PDF output composes pages at object level, never through a raster.
//
// Threads: an imager is used by one thread at a time, between taking it and returning it; the
// pool locks itself and is shared by every thread. Parsing happens outside the pool's lock.
// Bad input: bytes poppler cannot load, or that need a password, give no imager (nullptr); a
// page index outside the document draws nothing and has empty bounds.
#include "KVPDFImager.h"

#include <QByteArray>
#include <QRectF>
#include <QTransform>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class JXPDFImagerPool;
namespace Poppler {
class Document;
}

class JXPDFImager : public KVPDFImager, public std::enable_shared_from_this<JXPDFImager> {
public:
    // A private imager over `data`, in no pool (returnToPool does nothing), or nullptr when the
    // bytes do not load.
    static std::shared_ptr<JXPDFImager> imagerWithData(const QByteArray &data);
    ~JXPDFImager() override;

    const QByteArray &data() const { return m_data; }
    int pageCount() const;
    // The page's crop box in its own coordinates; empty for an index outside the document.
    QRectF boundsOfPage(int pageIndex) const;
    // The union of every page's crop box; empty for a document without pages.
    QRectF bounds() const;

    void drawPage(int pageIndex, double rotatedBy, QPainter &painter) override;
    void drawPage(int pageIndex, int rotatedBy, bool applyTranslation, QPainter &painter);
    // Back into the pool it came from, stamped with the pool's clock, keeping the parsed
    // document. The caller drops its pointer.
    void returnToPool() override;

    // Page space to the painter's coordinates for the page-space drawing: the translation of
    // the crop box's corner to the origin (when asked) first, then the turn by `rotatedBy`
    // degrees counterclockwise about the box's centre into the turned frame.
    static QTransform pageSpaceTransform(const QRectF &cropBox, int rotatedBy, bool applyTranslation);

private:
    friend class JXPDFImagerPool;
    struct PageGeometry {
        QRectF cropBox;  // in page space, unrotated
        int rotate = 0;  // the page's own Rotate, 0, 90, 180 or 270
    };

    JXPDFImager(QByteArray data, std::unique_ptr<Poppler::Document> document);
    bool pageGeometry(int pageIndex, PageGeometry &geometry) const;
    // Draws the page whose unrotated upright picture (y down, crop box corner at the origin,
    // one unit per point) maps to the painter's coordinates through `upright`.
    void drawUpright(int pageIndex, const PageGeometry &geometry, const QTransform &upright, QPainter &painter);

    QByteArray m_data;
    std::unique_ptr<Poppler::Document> m_document;
    std::weak_ptr<JXPDFImagerPool> m_pool;
    // The hash of m_data, made when a lookup first needs it.
    mutable bool m_hashed = false;
    mutable size_t m_hash = 0;
};

// The pool: at most one idle imager per distinct data; an imager taken is out of the pool until
// it is returned, so two takers of the same bytes get two imagers. Every take counts; a take
// whose count has bit 6 set (the 64th to 127th, the 192nd to 255th ...) also drops imagers idle
// for 60 seconds or more on the pool's clock.
// Looking up compares buffers first: bytes that share the buffer of an idle imager's data (the
// same data pointer and size, as copies of one QByteArray do) find it without reading the
// bytes. Only bytes in another buffer of the same size as an idle imager's are hashed (their
// hash once per take, an idle imager's once in its life) and compared in full on equal hashes.
class JXPDFImagerPool : public KVPDFImager::Pool, public std::enable_shared_from_this<JXPDFImagerPool> {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds kIdleLifetime{60};

    // `clock` defaults to the steady clock; tests inject their own.
    static std::shared_ptr<JXPDFImagerPool> create(Clock clock = {});
    // The process-wide pool the program installs into the engine's services.
    static std::shared_ptr<JXPDFImagerPool> shared();

    std::shared_ptr<KVPDFImager> pooledPDFImagerForData(const QByteArray &data) override;
    std::shared_ptr<JXPDFImager> pooledImagerForData(const QByteArray &data);

    size_t idleCount() const;
    // How many full reads of bytes (hashes and compares) lookups have made; for tests and
    // benchmarks that check a hit reads nothing.
    size_t byteReads() const;

private:
    struct Idle {
        std::shared_ptr<JXPDFImager> imager;
        std::chrono::steady_clock::time_point returnedAt;
    };

    explicit JXPDFImagerPool(Clock clock);
    void giveBack(const std::shared_ptr<JXPDFImager> &imager);
    // The index of the idle entry holding bytes equal to `data`, or -1. Called under m_lock.
    ptrdiff_t findIdle(const QByteArray &data, const JXPDFImager *hashedImager);
    friend class JXPDFImager;

    Clock m_clock;
    mutable std::mutex m_lock;
    std::vector<Idle> m_idle;
    uint32_t m_takes = 0;
    size_t m_byteReads = 0;
};
