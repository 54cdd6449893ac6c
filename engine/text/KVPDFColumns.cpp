#include "KVPDFColumns.h"

#include <algorithm>

namespace {
constexpr int kMinCutWidth = 27;         // narrower rectangles are never cut
constexpr int kMinCutHeight = 18;        // lower ones neither
constexpr int kMinAcrossWidth = 37;      // narrower ones are not cut across
constexpr int kMinWhiteRows = 4;         // a gap across is at least this many white rows
constexpr int kMinRunRows = 19;          // a cut down runs at least this many rows
constexpr int kSeparatorReach = 24;      // a cut closer than this to an earlier one that spans it is refused

// `rect` clamped to 0..width, 0..height, without overflow at any int values.
QRect clampedRect(const QRect &rect, int width, int height)
{
    const qint64 x0 = std::clamp<qint64>(rect.x(), 0, width);
    const qint64 y0 = std::clamp<qint64>(rect.y(), 0, height);
    const qint64 x1 = std::clamp<qint64>(qint64(rect.x()) + rect.width(), x0, width);
    const qint64 y1 = std::clamp<qint64>(qint64(rect.y()) + rect.height(), y0, height);
    return QRect(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
}

struct Run {
    int length = 0;
    int start = 0; // rows below the rectangle's top
    int column = -1;
};

class Analysis {
public:
    Analysis(const KVBitmap &bitmap, std::vector<QRect> &separators)
        : m_bits(bitmap.row(0)), m_rowBytes(bitmap.bytesPerRow()), m_width(bitmap.width()), m_height(bitmap.height()),
          m_separators(separators)
    {
    }

    std::vector<QRect> run(const QRect &rect)
    {
        std::vector<QRect> sections;
        std::vector<QRect> pending{rect};
        while (!pending.empty()) {
            const QRect piece = pending.back();
            pending.pop_back();
            const QRect clamped = clampedRect(piece, m_width, m_height);
            std::vector<QRect> parts;
            switch (analyse(clamped, parts)) {
            case Outcome::Nothing: break;
            case Outcome::Whole: sections.push_back(clamped); break;
            case Outcome::Parts: pending.insert(pending.end(), parts.rbegin(), parts.rend()); break;
            }
        }
        return sections;
    }

private:
    enum class Outcome { Nothing, Whole, Parts };

    bool black(int x, int y) const { return x >= 0 && x < m_width && m_bits[y * m_rowBytes + x] == 0; }

    bool anyBlack(int x0, int y0, int x1, int y1) const
    {
        for (int y = y0; y < y1; ++y) {
            const uint8_t *row = m_bits + y * m_rowBytes;
            if (std::find(row + x0, row + x1, uint8_t(0)) != row + x1)
                return true;
        }
        return false;
    }

    QRect strip(const Run &run, int y0) const
    {
        return QRect(run.column, (m_height + 1 - y0) - run.length - run.start, 1, run.length - 1);
    }

    // The candidate lies within an earlier strip's rows and their union is narrower than the reach.
    bool refused(const Run &run, int y0) const
    {
        const QRect candidate = strip(run, y0);
        for (auto separator = m_separators.rbegin(); separator != m_separators.rend(); ++separator) {
            const int left = std::min(candidate.x(), separator->x());
            const int right = std::max(candidate.x() + candidate.width(), separator->x() + separator->width());
            const bool within = candidate.y() >= separator->y()
                && candidate.y() + candidate.height() <= separator->y() + separator->height();
            if (within && right - left < kSeparatorReach)
                return true;
        }
        return false;
    }

    // `rect` lies within the bitmap.
    Outcome analyse(const QRect &rect, std::vector<QRect> &parts)
    {
        const int x0 = rect.x(), y0 = rect.y(), w = rect.width(), h = rect.height();
        const int x1 = x0 + w, y1 = y0 + h;

        if (w < kMinCutWidth || h < kMinCutHeight)
            return anyBlack(x0, y0, x1, y1) ? Outcome::Whole : Outcome::Nothing;

        if (w >= kMinAcrossWidth) {
            Run best, current;
            for (int r = 0; r < h; ++r) {
                const uint8_t *row = m_bits + (y0 + r) * m_rowBytes;
                if (std::find(row + x0, row + x1, uint8_t(0)) == row + x1) {
                    if (current.length++ == 0)
                        current.start = r;
                    if (current.length > best.length)
                        best = current;
                    continue;
                }
                current.length = 0;
                if (best.length >= kMinWhiteRows) {
                    if (best.start > 0)
                        parts.emplace_back(x0, y0, w, best.start);
                    const int below = h - best.start - best.length;
                    if (below > 0)
                        parts.emplace_back(x0, y0 + best.start + best.length, w, below);
                    return Outcome::Parts;
                }
            }
        }

        Run best;
        int lastBlack = -1;
        for (int x = x0; x < x1; ++x) {
            Run current{0, 0, x};
            bool stop = false;
            auto endRun = [&] {
                if (current.length == 0 || current.length < best.length)
                    return;
                const Run previous = best;
                best = current;
                if (refused(best, y0))
                    best = previous;
            };
            for (int r = 0; r < h; ++r) {
                const int y = y0 + r;
                const bool here = black(x, y);
                if (!here && !black(x - 1, y) && !black(x + 1, y)) {
                    if (current.length++ == 0)
                        current.start = r;
                    continue;
                }
                endRun();
                current.length = 0;
                if (here) {
                    lastBlack = x;
                    if (best.length == h) {
                        stop = true;
                        break;
                    }
                }
            }
            if (stop)
                break;
            endRun();
        }
        if (lastBlack < 0)
            return Outcome::Nothing;
        if (best.length == h && best.column == x1 - 1)
            best.column = lastBlack + 1;
        if (best.length < kMinRunRows || refused(best, y0))
            return Outcome::Whole;

        m_separators.push_back(strip(best, y0));
        if (best.start > 0)
            parts.emplace_back(x0, y0, w, best.start);
        parts.emplace_back(x0, y0 + best.start, best.column - x0, best.length);
        parts.emplace_back(best.column + 1, y0 + best.start, x1 - 1 - best.column, best.length);
        const int below = h - best.start - best.length;
        if (below > 0)
            parts.emplace_back(x0, y0 + best.start + best.length, w, below);
        return Outcome::Parts;
    }

    const uint8_t *m_bits;
    qsizetype m_rowBytes;
    int m_width;
    int m_height;
    std::vector<QRect> &m_separators;
};

bool analysable(const KVBitmap &bitmap)
{
    return !bitmap.isNull() && bitmap.bitsPerPixel() == 8 && bitmap.samples() == 1;
}
}

namespace KVPDFColumns {
std::vector<QRect> columnsInRect(const KVBitmap &bitmap, const QRect &rect, std::vector<QRect> &separators)
{
    if (!analysable(bitmap))
        return {};
    return Analysis(bitmap, separators).run(rect);
}

std::vector<QRect> sectionsInRect(const KVBitmap &bitmap, const QRect &rect)
{
    if (!analysable(bitmap))
        return {};
    const QRect within = clampedRect(rect, bitmap.width(), bitmap.height());
    std::vector<QRect> separators;
    std::vector<QRect> sections
        = columnsInRect(bitmap, QRect(within.x() + 2, within.y(), within.width() - 4, within.height()), separators);
    for (QRect &section : sections)
        section.moveTop(bitmap.height() - (section.y() + section.height()));
    return sections;
}
}
