#pragma once
// Drawing a page of PDF bytes, a service the engine uses (column detection draws pages at half
// scale to find text columns) but does not provide: the engine links no renderer. The
// application puts a pool of imagers over its renderer into the services it installs
// (KVPDFServices::imagerPool); without one the engine gets no imager and goes without.
//
// Contract of an installed pool:
// - pooledPDFImagerForData takes the imager kept for equal bytes out of the pool, or makes a
//   new one over the bytes. It never fails for valid PDF bytes; for bytes its renderer cannot
//   load it answers nullptr. The pool is used from any thread and locks itself.
// - drawPage draws the zero-based page into the painter under the painter's current
//   transform as an image of the page is drawn: the crop box as the page displays (its own
//   Rotate applied), turned by a further `rotatedBy` degrees (a multiple of 90), its top-left
//   corner at the painter's origin, one painter unit per point, y downwards. A page number
//   past the end draws nothing.
// - returnToPool puts the imager back, stamped with the time, keeping what its renderer
//   parsed of the bytes, so the next request for the same bytes draws without parsing them
//   again. The caller drops its pointer after returning it.
// An imager is used by one thread at a time, between taking it and returning it.
#include <QByteArray>

#include <memory>

class QPainter;

class KVPDFImager {
public:
    virtual ~KVPDFImager() = default;
    virtual void drawPage(int pageNumber, double rotatedBy, QPainter &painter) = 0;
    virtual void returnToPool() = 0;

    class Pool {
    public:
        virtual ~Pool() = default;
        virtual std::shared_ptr<KVPDFImager> pooledPDFImagerForData(const QByteArray &data) = 0;
    };

    // An imager from the installed services' pool, or nullptr when they have none or the bytes
    // do not load.
    static std::shared_ptr<KVPDFImager> pooledPDFImagerForData(const QByteArray &data);
};
