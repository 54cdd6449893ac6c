#pragma once
// The one place where PDF text-string bytes become QString and back: UTF-16 with a byte-order
// mark (either order is read; FE FF big-endian is written), UTF-8 with its mark, otherwise
// PDFDocEncoding.
#include <QByteArray>
#include <QString>

QString kvDecodeTextString(const QByteArray &bytes);
// PDFDocEncoding when every character has a code there, else FE FF and big-endian UTF-16.
QByteArray kvEncodeTextString(const QString &text);
// UTF-16 text starting FF FE rewritten as FE FF big-endian; other bytes unchanged.
QByteArray kvBigEndianTextBytes(const QByteArray &bytes);
