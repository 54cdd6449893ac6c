#pragma once
// kvprobe's operations on a page's images and invisible text; their usage and JSON are
// described in KVProbeImageOps.cpp.
#include <QString>
#include <QStringList>

// kvprobe ocr-text FILE [--page N] [--password P]
int kvprobeOCRText(const QString &path, const QStringList &options);
// kvprobe remove-ocr-text IN OUT [--page N] [--password P]
int kvprobeRemoveOCRText(const QStringList &arguments);
// kvprobe blank-image IN OUT --page N [--index I] [--restore yes] [--password P]
int kvprobeBlankImage(const QStringList &arguments);
// kvprobe image-pdf IN OUT --page N [--index I] [--password P]
int kvprobeImagePDF(const QStringList &arguments);
