#pragma once
// Baseline and progressive JPEG (DCTDecode) through libjpeg: the samples as the file stores
// them, 1, 3 or 4 bytes per pixel, converted only as the JPEG itself asks (YCbCr to RGB,
// YCCK to CMYK); Adobe-inverted CMYK stays as stored, as other PDF readers give it.
// Bad input: a fatal libjpeg error or data that ends before the last scan line gives no
// samples, complete false and the reason; an image larger than `maxOutput` bytes is refused
// before anything is allocated. Never throws. Thread-safe (no shared state).
#include "KVPDFFilters.h"

#include <QByteArray>
#include <QString>

struct KVPDFJPEGImage {
    QByteArray samples; // row after row, components bytes per pixel
    int width = 0;
    int height = 0;
    int components = 0;
    bool complete = false;
    QString error; // why there are no samples
};

KVPDFJPEGImage KVPDFDecodeJPEG(const QByteArray &jpeg, qsizetype maxOutput = KVPDFMaxDecodedSize);
