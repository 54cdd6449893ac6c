// The page's text preparation: the page string and its lines for search, then widths, column
// order, paragraph spacing and links for selection, and the hit tests that use them.
#include "KVPDFPage.h"

#include "KVBitmap.h"
#include "KVPDFBaseline.h"
#include "KVPDFColumns.h"
#include "KVPDFDocument.h"
#include "KVPDFFont.h"
#include "KVPDFImager.h"
#include "KVPDFLog.h"
#include "KVPDFPageString.h"
#include "KVPDFTextBlob.h"
#include "KVPDFTextWidths.h"
#include "KVSystemFont.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>
#include <mutex>
#include <optional>

namespace {

// ---- Fonts of the page string ------------------------------------------------------------

QFont qFontFrom(const KVSystemFont &font, double size, bool bold, bool italic)
{
    QFont out(font.familyName());
    const QString style = font.styleName();
    out.setBold(bold || style.contains(QLatin1String("Bold"), Qt::CaseInsensitive));
    out.setItalic(italic || style.contains(QLatin1String("Italic"), Qt::CaseInsensitive)
                  || style.contains(QLatin1String("Oblique"), Qt::CaseInsensitive));
    // QFont refuses sizes of 0 and below; such text keeps the default size.
    if (size > 0 && std::isfinite(size))
        out.setPointSizeF(size);
    return out;
}

// The system font a PDF font without a usable name stands for, from its descriptor's flags
// and the hints its name gives.
std::shared_ptr<KVSystemFont> fontFromFlags(const KVPDFFont &font, const QString &name, double size, QFont::StyleHint *hint,
                                            bool *bold, bool *italic)
{
    const int64_t flags = font.descriptorFlags();
    const QString lower = name.toLower();
    const bool fixedPitch = flags & 1;
    const bool serif = flags & 2;
    const bool symbolic = flags & 4;
    const bool script = flags & 8;
    *bold = (flags & 0x40000) || lower.contains(QLatin1String("bold"));
    *italic = (flags & 64) || lower.contains(QLatin1String("italic")) || lower.contains(QLatin1String("oblique"));
    *hint = serif ? QFont::Serif : symbolic ? QFont::AnyStyle : script ? QFont::Cursive : QFont::SansSerif;
    // No face of Helvetica or Times is monospaced, so the trait decides the family.
    QString family = fixedPitch ? QStringLiteral("Courier") : (serif || script) ? QStringLiteral("Times") : QStringLiteral("Helvetica");
    if (fixedPitch)
        *hint = QFont::TypeWriter;
    const bool slanted = family != QLatin1String("Times");
    QString style;
    if (*bold)
        style += QLatin1String("Bold");
    if (*italic)
        style += slanted ? QLatin1String("Oblique") : QLatin1String("Italic");
    std::shared_ptr<KVSystemFont> found = KVSystemFont::fontWithName(style.isEmpty() ? family : family + '-' + style, size);
    if (!found || !found->hasFace())
        found = KVSystemFont::fontWithName(QStringLiteral("Helvetica"), size);
    return found;
}

// Finds each run's font for the page string, remembering the last name matched on the page.
class FontMatcher {
public:
    FontMatcher(QString &lastName, std::shared_ptr<KVSystemFont> &lastMatch) : m_lastName(lastName), m_lastMatch(lastMatch) { }

    QFont fontFor(const KVPDFTextBlob &run)
    {
        const double size = std::fabs(double(float(run.TfontSize * run.textMatrix.m22() * run.CTM.m22())));
        KVPDFFont *record = run.font.get();
        const auto key = std::make_pair(static_cast<const KVPDFFont *>(record), size);
        if (auto it = m_made.find(key); it != m_made.end())
            return it->second;
        QFont font = make(record, size);
        m_made.emplace(key, font);
        return font;
    }

private:
    QFont make(KVPDFFont *record, double size)
    {
        if (!record)
            return qFontFrom(*KVSystemFont::fontWithName(QStringLiteral("Helvetica"), size), size, false, false);
        std::shared_ptr<KVSystemFont> known;
        {
            // Fonts are shared by the document's pages, which other threads may be preparing.
            std::lock_guard<std::mutex> guard(KVPDFPageLock);
            known = record->nsFont();
        }
        if (known)
            return qFontFrom(*known, size, false, false);

        QString name = record->fontName();
        if (const qsizetype plus = name.indexOf(QLatin1Char('+')); plus >= 0)
            name = name.mid(plus + 1);
        // Only a name says two records are one font: nameless ones differ by their flags.
        if (m_lastMatch && !name.isEmpty() && name == m_lastName)
            return qFontFrom(*m_lastMatch, size, false, false);

        std::shared_ptr<KVSystemFont> found;
        if (!name.isEmpty()) {
            found = KVSystemFont::fontWithName(name, size);
            if (found && !found->hasFace())
                found.reset();
        }
        QFont::StyleHint hint = QFont::AnyStyle;
        bool bold = false, italic = false;
        if (!found)
            found = fontFromFlags(*record, name, size, &hint, &bold, &italic);
        m_lastName = name;
        m_lastMatch = found;
        {
            std::lock_guard<std::mutex> guard(KVPDFPageLock);
            if (!record->nsFont())
                record->setNSFont(found);
        }
        QFont font = qFontFrom(*found, size, bold, italic);
        font.setStyleHint(hint);
        return font;
    }

    QString &m_lastName;
    std::shared_ptr<KVSystemFont> &m_lastMatch;
    std::map<std::pair<const KVPDFFont *, double>, QFont> m_made;
};

// ---- Links ---------------------------------------------------------------------------------

// Characters a sentence puts after a link rather than the link itself.
QString trimmedLink(QString text)
{
    static const QString trailing = QStringLiteral(".,;:!?'\"");
    for (;;) {
        if (text.isEmpty())
            return text;
        const QChar last = text.back();
        if (trailing.contains(last)) {
            text.chop(1);
            continue;
        }
        static const std::pair<QChar, QChar> brackets[] = {{u'(', u')'}, {u'[', u']'}, {u'{', u'}'}};
        bool unbalanced = false;
        for (const auto &[open, close] : brackets)
            if (last == close && text.count(close) > text.count(open))
                unbalanced = true;
        if (!unbalanced)
            return text;
        text.chop(1);
    }
}

std::vector<KVPDFDetectedLink> detectLinks(const QString &text)
{
    struct Pattern {
        QRegularExpression expression;
        QString prefix; // put in front of the matched text to make the URL
        bool trim;
    };
    // One set per thread: matching never shares a pattern between threads.
    static thread_local const Pattern patterns[] = {
        {QRegularExpression(QStringLiteral("(?<![\\w.+-])https?://[^\\s<>\"]+"), QRegularExpression::CaseInsensitiveOption),
         QString(), true},
        {QRegularExpression(QStringLiteral("(?<![\\w@./:-])www\\.[a-z0-9-]+(?:\\.[a-z0-9-]+)+(?:[/?#][^\\s<>\"]*)?"),
                            QRegularExpression::CaseInsensitiveOption),
         QStringLiteral("http://"), true},
        {QRegularExpression(QStringLiteral("(?<![\\w.%+-])[a-z0-9._%+-]+@[a-z0-9-]+(?:\\.[a-z0-9-]+)*\\.[a-z]{2,}(?![\\w-])"),
                            QRegularExpression::CaseInsensitiveOption),
         QStringLiteral("mailto:"), false},
    };
    struct Found {
        qsizetype start;
        qsizetype length;
        QUrl url;
    };
    std::vector<Found> found;
    for (const Pattern &pattern : patterns) {
        QRegularExpressionMatchIterator it = pattern.expression.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            QString link = match.captured(0);
            if (pattern.trim)
                link = trimmedLink(link);
            if (link.isEmpty())
                continue;
            // A sentence's full stop after an address is no part of it either.
            while (link.endsWith(QLatin1Char('.')))
                link.chop(1);
            const QUrl url(pattern.prefix + link, QUrl::StrictMode);
            if (url.isValid() && !url.host().isEmpty() == (pattern.prefix != QLatin1String("mailto:")))
                found.push_back({match.capturedStart(0), link.size(), url});
        }
    }
    // A link inside another (an address in a URL's query, a "www." in an http URL) is part of
    // the one that starts first.
    std::stable_sort(found.begin(), found.end(), [](const Found &a, const Found &b) { return a.start < b.start; });
    std::vector<KVPDFDetectedLink> links;
    qsizetype covered = 0;
    for (const Found &f : found) {
        if (f.start < covered)
            continue;
        links.push_back({KVPDFRange{uint64_t(f.start), uint64_t(f.length)}, f.url});
        covered = f.start + f.length;
    }
    return links;
}

// ---- Geometry ------------------------------------------------------------------------------

double finiteOr0(double value) { return std::isfinite(value) ? value : 0.0; }

// Closed rectangles, so a line of no width (its runs unmeasured) on the box still counts.
bool touches(const QRectF &a, const QRectF &b)
{
    return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom() && b.top() <= a.bottom();
}

bool isBlankRun(const QString &text)
{
    if (text.isEmpty())
        return true;
    return text.size() <= 4 && std::all_of(text.begin(), text.end(), [](QChar c) { return c == QLatin1Char(' '); });
}

constexpr double kAnalysisScale = 0.5;

} // namespace

// ---- Stages ------------------------------------------------------------------------------------

void KVPDFPage::prepareForSearch()
{
    if (preparedForSearch())
        return;
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    if (preparedForSearch())
        return;
    auto string = std::make_shared<KVPDFPageString>();
    std::vector<std::shared_ptr<KVPDFBaseline>> lines;
    try {
        setupFontInfo(resources());
        parseContent();
        std::vector<std::shared_ptr<KVPDFTextBlob>> runs = textBlobs();
        // The runs' reading order, with positions that are no numbers counting as 0 so the
        // order stays an order.
        std::stable_sort(runs.begin(), runs.end(), [](const auto &a, const auto &b) {
            const double ay = finiteOr0(a->location.y()), by = finiteOr0(b->location.y());
            if (ay != by)
                return ay > by;
            const double ax = finiteOr0(a->location.x()), bx = finiteOr0(b->location.x());
            if (ax != bx)
                return ax < bx;
            return a->dataRange.location < b->dataRange.location;
        });
        FontMatcher fonts(m_lastFontName, m_lastFontMatch);
        KVPDFBaseline::Blobs lineRuns;
        qsizetype lineStart = 0;
        for (size_t i = 0; i < runs.size(); ++i) {
            KVPDFTextBlob &run = *runs[i];
            lineRuns.push_back(runs[i]);
            const qsizetype start = string->size();
            if (!run.string.isEmpty())
                string->append(run.string, fonts.fontFor(run), run.nonstrokeColor.toQColor());
            const qsizetype length = string->size() - start;
            if (i + 1 < runs.size() && runs[i + 1]->location.y() == run.location.y()) {
                run.rangeInPageString = {uint64_t(start), uint64_t(length)};
                continue;
            }
            string->appendPlain(QStringLiteral("\n"));
            run.rangeInPageString = {uint64_t(start), uint64_t(length + 1)};
            // Runs without text leave their line once it is measured, so the line break goes
            // with the last run that has text.
            if (length == 0) {
                for (auto it = lineRuns.rbegin() + 1; it != lineRuns.rend(); ++it) {
                    if ((*it)->string.isEmpty())
                        continue;
                    run.rangeInPageString.length = 0;
                    (*it)->rangeInPageString.length += 1;
                    break;
                }
            }
            lines.push_back(KVPDFBaseline::baselineWithBlobs(std::move(lineRuns),
                                                             {uint64_t(lineStart), uint64_t(string->size() - lineStart)}));
            lineRuns.clear();
            lineStart = string->size();
        }
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Page %1 text unreadable: %2").arg(m_pageNumber + 1).arg(QString::fromUtf8(failure.what())));
    }
    m_pageString = std::move(string);
    m_baselines = std::move(lines);
    m_preparedForSearch.store(true, std::memory_order_release);
}

void KVPDFPage::prepareForSelection(std::vector<QRectF> *sections)
{
    if (preparedForSelection())
        return;
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    if (preparedForSelection())
        return;
    prepareForSearch();
    try {
        for (const std::shared_ptr<KVPDFTextBlob> &run : textBlobs())
            KVPDFTextWidths::measureRun(*run);
        for (const std::shared_ptr<KVPDFBaseline> &line : m_baselines)
            line->bounds();

        bool dropped = false;
        if (const std::optional<QRectF> crop = cropBox()) {
            const QRectF visible(0, 0, crop->width(), crop->height());
            const auto outside = [&](const std::shared_ptr<KVPDFBaseline> &line) { return !touches(line->bounds(), visible); };
            const size_t before = m_baselines.size();
            m_baselines.erase(std::remove_if(m_baselines.begin(), m_baselines.end(), outside), m_baselines.end());
            dropped = m_baselines.size() != before;
        }
        const std::shared_ptr<const KVPDFPageString> unordered = m_pageString;
        std::vector<QRectF> found = prepareColumns();
        if (sections)
            *sections = std::move(found);
        if (m_pageString == unordered && dropped) {
            // No column order, but the dropped lines still leave the text.
            auto rebuilt = std::make_shared<KVPDFPageString>();
            for (const std::shared_ptr<KVPDFBaseline> &line : m_baselines)
                line->addBaselineBlobsToPageString(*rebuilt, *m_pageString);
            m_pageString = std::move(rebuilt);
        }

        // Paragraph spacing: a gap above a line starts a paragraph; lines closer than that keep
        // their own line height.
        auto spaced = std::make_shared<KVPDFPageString>(*m_pageString);
        std::optional<QRectF> previous;
        for (const std::shared_ptr<KVPDFBaseline> &line : m_baselines) {
            const QRectF current = line->rectForClearing();
            if (previous && previous->height() != 0 && current.y() < previous->y()) {
                const double gap = previous->y() - current.y() - current.height();
                const KVPDFRange range = line->rangeInPageString();
                KVPDFPageString::Paragraph paragraph{qsizetype(range.location), qsizetype(range.length), 0, 0};
                if (gap > 0) {
                    paragraph.spacingBefore = gap;
                } else {
                    const KVPDFTextBlob *first = line->blobs().empty() ? nullptr : line->blobs().front().get();
                    const double descent = first && first->font ? double(first->font->descent()) : 0.0;
                    const double multiple = gap + 1 + descent;
                    paragraph.lineHeightMultiple = multiple < 0.75 ? 1.0 : multiple;
                }
                spaced->paragraphs.push_back(paragraph);
            }
            previous = current;
        }
        m_pageString = std::move(spaced);
        m_clickableURLs = detectLinks(m_pageString->text);
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Page %1 text unreadable: %2").arg(m_pageNumber + 1).arg(QString::fromUtf8(failure.what())));
    }
    m_preparedForSelection.store(true, std::memory_order_release);
}

// ---- Column order ------------------------------------------------------------------------------

std::vector<QRectF> KVPDFPage::prepareColumns()
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    // The runs lie in the unrotated page with the crop box's corner as origin, so the page is
    // analysed unrotated: turned back by its own rotation when drawn.
    const QRectF media = mediaBox();
    const QRectF crop = cropBox().value_or(media);
    QRectF visible = media.intersected(crop);
    if (!visible.isValid())
        visible = media;
    const int width = int(visible.width() * kAnalysisScale + 0.5);
    const int height = int(visible.height() * kAnalysisScale + 0.5);

    QImage picture;
    if (width > 0 && height > 0)
        picture = QImage(width, height, QImage::Format_Grayscale8);
    if (picture.isNull()) {
        kvLog(QStringLiteral("graphics or image creation problem: %1, %2").arg(width).arg(height));
        return {};
    }
    std::shared_ptr<KVPDFImager> imager = m_document ? KVPDFImager::pooledPDFImagerForData(m_document->docData()) : nullptr;
    if (!imager)
        return {};
    picture.fill(255);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        // The imager puts the crop box's top-left corner at the painter's origin.
        painter.setTransform(QTransform::fromScale(kAnalysisScale, kAnalysisScale));
        painter.translate(crop.left() - visible.left(), visible.bottom() - crop.bottom());
        imager->drawPage(int(m_pageNumber), -double(rotate().value_or(0)), painter);
        imager->returnToPool();
        imager.reset();

        // Run coordinates to pixels: y upwards from the crop box's corner.
        painter.setTransform(QTransform(kAnalysisScale, 0, 0, -kAnalysisScale, kAnalysisScale * (crop.left() - visible.left()),
                                        kAnalysisScale * (visible.bottom() - crop.top())));
        for (const std::shared_ptr<KVPDFBaseline> &line : m_baselines)
            for (const std::shared_ptr<KVPDFTextBlob> &run : line->blobs()) {
                if (isBlankRun(run->string))
                    continue;
                // One point less each way keeps boxes of neighbouring lines and words apart.
                const QRectF box(run->location.x(), run->location.y() + run->descent, std::max(0.0, double(run->width) - 1),
                                 std::max(0.0, double(run->height()) - 1));
                painter.fillRect(box, Qt::black);
            }
    }
    KVBitmap bitmap = KVBitmap::fromQImage(picture);
    if (bitmap.isNull()) {
        kvLog(QStringLiteral("graphics or image creation problem: %1, %2").arg(width).arg(height));
        return {};
    }
    bitmap.forceAdjustContrastGrayscale();
    const std::vector<QRect> pixels = KVPDFColumns::sectionsInRect(bitmap, QRect(0, 0, width, height));

    // Back to page units, a pixel of margin around each, then to run coordinates.
    std::vector<QRectF> sections;
    sections.reserve(pixels.size());
    const QPointF shift = visible.topLeft() - crop.topLeft();
    for (const QRect &p : pixels)
        sections.emplace_back(2.0 * p.x() - 1 + shift.x(), 2.0 * p.y() - 1 + shift.y(), 2.0 * p.width() + 2, 2.0 * p.height() + 2);

    const auto sectionOf = [&](const KVPDFTextBlob &run) -> int {
        const QPointF centre(run.location.x() + run.width / 2, run.location.y());
        for (size_t k = 0; k < sections.size(); ++k)
            if (sections[k].contains(centre))
                return int(k);
        return -1;
    };
    std::vector<std::vector<std::shared_ptr<KVPDFBaseline>>> buckets(sections.size() + 1);
    for (const std::shared_ptr<KVPDFBaseline> &whole : m_baselines) {
        // A line split off is walked from its start like any other.
        std::shared_ptr<KVPDFBaseline> line = whole;
        while (line) {
            std::shared_ptr<KVPDFBaseline> rest;
            int section = -1;
            const KVPDFBaseline::Blobs runs = line->blobs();
            for (size_t k = 0; k < runs.size(); ++k) {
                const int found = sectionOf(*runs[k]);
                if (found < 0)
                    continue;
                if (section < 0) {
                    section = found;
                    buckets[size_t(section)].push_back(line);
                } else if (found != section) {
                    // A line splits after the run it is given, so the run in the other section
                    // starts the new line.
                    rest = line->splitBaselineAtBlob(runs[k - 1].get());
                    if (rest)
                        break;
                }
            }
            if (section < 0)
                buckets.back().push_back(line);
            line = rest;
        }
    }
    m_baselines.clear();
    for (auto &bucket : buckets)
        m_baselines.insert(m_baselines.end(), bucket.begin(), bucket.end());

    auto rebuilt = std::make_shared<KVPDFPageString>();
    const std::shared_ptr<const KVPDFPageString> old = m_pageString ? m_pageString : std::make_shared<KVPDFPageString>();
    for (const std::shared_ptr<KVPDFBaseline> &line : m_baselines)
        line->addBaselineBlobsToPageString(*rebuilt, *old);
    m_pageString = std::move(rebuilt);
    return sections;
}

// ---- Getters -----------------------------------------------------------------------------------

std::shared_ptr<const KVPDFPageString> KVPDFPage::richPageString() const
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    return m_pageString ? m_pageString : std::make_shared<const KVPDFPageString>();
}

QString KVPDFPage::pageString() const { return richPageString()->text; }

void KVPDFPage::setPageString(std::shared_ptr<const KVPDFPageString> pageString)
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    m_pageString = std::move(pageString);
}

std::vector<std::shared_ptr<KVPDFBaseline>> KVPDFPage::baselines() const
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    return m_baselines;
}

void KVPDFPage::setBaselines(std::vector<std::shared_ptr<KVPDFBaseline>> baselines)
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    m_baselines = std::move(baselines);
}

std::vector<KVPDFDetectedLink> KVPDFPage::clickableURLs() const
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    return m_clickableURLs;
}

QUrl KVPDFPage::clickableURLForCharPosition(int32_t position) const
{
    QUrl answer;
    if (position < 0)
        return answer;
    for (const KVPDFDetectedLink &link : clickableURLs())
        if (link.range.location <= uint64_t(position) && uint64_t(position) <= link.range.location + link.range.length)
            answer = link.url;
    return answer;
}

QString KVPDFPage::lastFontName() const
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    return m_lastFontName;
}

std::shared_ptr<KVSystemFont> KVPDFPage::lastFontMatch() const
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    return m_lastFontMatch;
}

// ---- Hit tests ---------------------------------------------------------------------------------

namespace {

// The line under a point. Lines overlap where marks are raised above a line (superscripts,
// accents set as runs of their own): of the lines whose bounds hold the point, the one whose
// middle lies nearest it, the first of equals.
std::shared_ptr<KVPDFBaseline> lineAt(const std::vector<std::shared_ptr<KVPDFBaseline>> &lines, QPointF point,
                                      std::optional<double> tolerance)
{
    std::shared_ptr<KVPDFBaseline> best;
    double bestDistance = 0;
    for (const std::shared_ptr<KVPDFBaseline> &line : lines) {
        if (!(tolerance ? line->hitTest(point, *tolerance) : line->hitTest(point)))
            continue;
        const double distance = std::fabs(line->bounds().center().y() - point.y());
        if (!best || distance < bestDistance) {
            best = line;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

int64_t KVPDFPage::charPositionForPoint(QPointF point, std::shared_ptr<KVPDFBaseline> *baseline) const
{
    const std::shared_ptr<KVPDFBaseline> line = lineAt(baselines(), point, std::nullopt);
    if (!line)
        return KVPDFNotFound;
    if (baseline)
        *baseline = line;
    return line->charPositionForPoint(point);
}

int64_t KVPDFPage::charPositionForPoint(QPointF point, double tolerance, std::shared_ptr<KVPDFBaseline> *baseline) const
{
    const std::shared_ptr<KVPDFBaseline> line = lineAt(baselines(), point, tolerance);
    if (!line)
        return KVPDFNotFound;
    if (baseline)
        *baseline = line;
    return line->charPositionForPoint(point);
}

int64_t KVPDFPage::closestCharPositionForPoint(QPointF point) const
{
    const std::vector<std::shared_ptr<KVPDFBaseline>> lines = baselines();
    if (lines.empty())
        return 0;
    const auto lastOf = [](KVPDFBaseline &line) {
        const KVPDFRange range = line.rangeInPageString();
        return int64_t(range.location + range.length) - 1;
    };
    const auto firstOf = [](KVPDFBaseline &line) { return int64_t(line.rangeInPageString().location); };
    const double x = point.x(), y = point.y();
    KVPDFBaseline &last = *lines.back();
    const QRectF lastBounds = last.bounds();
    // Below the text (or right of its end) is the end of the page; a point on the last line
    // itself still answers the character under it.
    if (y < lastBounds.bottom() && x >= lastBounds.left() && !last.hitTest(point))
        return lastOf(last);

    if (const std::shared_ptr<KVPDFBaseline> hit = lineAt(lines, point, std::nullopt))
        return hit->charPositionForPoint(point);
    KVPDFBaseline *best = nullptr;
    double bestDistance = 999999;
    for (const std::shared_ptr<KVPDFBaseline> &line : lines) {
        const QRectF b = line->bounds();
        double d = 0;
        if (x < b.left() || x > b.right())
            d = std::min(std::fabs(x - b.left()), std::fabs(x - b.right()));
        if (y < b.top() || y > b.bottom())
            d += std::fabs(y - (b.top() + b.height() / 2));
        if (d < bestDistance) {
            bestDistance = d;
            best = line.get();
        }
    }
    if (!best)
        return 0;
    const QRectF b = best->bounds();
    if (x <= b.left())
        return firstOf(*best);
    if (x >= b.right() || b.top() > y)
        return lastOf(*best);
    return best->charPositionForPoint(QPointF(x, b.bottom()));
}

std::vector<std::shared_ptr<KVPDFBaseline>> KVPDFPage::baselinesFromCharPosition(int32_t from, int32_t to) const
{
    const std::vector<std::shared_ptr<KVPDFBaseline>> lines = baselines();
    if ((from < 1 && to < 1) || lines.empty())
        return {};
    const auto lineOf = [&](int64_t position) -> size_t {
        for (size_t k = 0; k < lines.size(); ++k) {
            const KVPDFRange range = lines[k]->rangeInPageString();
            if (position >= 0 && uint64_t(position) >= range.location && uint64_t(position) < range.location + range.length)
                return k;
        }
        return lines.size();
    };
    const size_t first = lineOf(from), last = lineOf(to);
    if (first == lines.size() || last == lines.size() || last < first)
        return {};
    return {lines.begin() + qsizetype(first), lines.begin() + qsizetype(last) + 1};
}

QRectF KVPDFPage::boundsForBaselines(const std::vector<std::shared_ptr<KVPDFBaseline>> &baselines)
{
    QRectF united;
    for (const std::shared_ptr<KVPDFBaseline> &line : baselines)
        united = united.isNull() ? line->bounds() : united.united(line->bounds());
    return united;
}

QRectF KVPDFPage::boundsForBaselines(const std::vector<std::shared_ptr<KVPDFBaseline>> &baselines, const QRectF &within)
{
    QRectF united;
    for (const std::shared_ptr<KVPDFBaseline> &line : baselines) {
        const QRectF part = line->bounds().intersected(within);
        if (part.isNull())
            continue;
        united = united.isNull() ? part : united.united(part);
    }
    return united;
}
