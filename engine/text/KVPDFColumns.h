#pragma once
// The text sections of a page picture, in reading order: the page is drawn into an 8-bit gray
// bitmap at half scale with its text runs painted as solid black boxes and thresholded (byte 0
// black, anything else white), and these functions cut that bitmap at white gaps.
//
// A rectangle at least 37 pixels wide is cut across at its first gap of at least 4 white rows
// with black below (so white rows at its top trim it); else it is cut down at the longest run
// of "white" pixels in one column (of equal runs the last), a pixel counting as white when
// neither it nor its left and right neighbours are black, when that run is longer than 18 rows
// and no earlier cut at most 22 columns away already spans its rows. Pieces are analysed again,
// in the order above, left, right, below. A rectangle narrower than 27 or lower than 18 pixels
// is never cut.
//
// Coordinates: pixels. Rectangles given and the rectangles of columnsInRect are in data rows
// (row 0 the top); sections and separators are bottom-up (y = bitmap height - top - height),
// the strip of a cut whose white run of length `run` starts `start` rows below the top y0 of
// its rectangle being x = column, y = bitmap height + 1 - y0 - run - start, width 1, height
// run - 1.
//
// Bad input: a bitmap that is not 8-bit gray gives no sections. Rectangles are clamped to the
// bitmap, and pixels beside the bitmap's edges count as white, so nothing reads outside it. The
// analysis keeps its own stack of pieces rather than recursing, so no bitmap exhausts the call
// stack.
// Threads: pure functions of their arguments; the separator list belongs to one analysis.
#include "KVBitmap.h"

#include <QRect>

#include <vector>

namespace KVPDFColumns {
// The sections inside `rect` (data rows) less a 2-pixel margin at its left and right, in
// reading order, bottom-up.
std::vector<QRect> sectionsInRect(const KVBitmap &bitmap, const QRect &rect);
// The sections inside `rect` in reading order, in data rows; none when the rectangle holds no
// black pixel. Each cut made adds its strip to `separators`, which earlier cuts of the same
// analysis have filled.
std::vector<QRect> columnsInRect(const KVBitmap &bitmap, const QRect &rect, std::vector<QRect> &separators);
}
