// Invisible text: the words text recognition lays over a scanned page so it can be searched.
// Finding it, and taking it out again before the page is recognised anew.
#include "KVPDFPage.h"

#include "KVPDFContentInterpreter.h"
#include "KVPDFDocument.h"
#include "KVPDFFilters.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPageContent.h"
#include "KVPDFTextBlob.h"
#include "KVPDFTextRunBuilder.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>
#include <set>

namespace {

bool isInvisible(const KVPDFGraphicsState &state)
{
    if (state.Tmode == 3 || state.Tmode == 7)
        return true;
    // Under fill alpha 0 a mode that strokes still draws the outlines.
    return state.ca == 0 && (state.Tmode == 0 || state.Tmode == 4);
}

// A number as content-stream syntax accepts it: no exponent, no trailing zeros.
QByteArray numberText(double value)
{
    if (!std::isfinite(value) || std::fabs(value) < 0.0005)
        return "0";
    QByteArray text = QByteArray::number(value, 'f', 3);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

// The text matrix as the keeper has it before a show acts: sits in front of the keeper.
class MatrixBeforeShow : public KVPDFContentSink {
public:
    explicit MatrixBeforeShow(const KVPDFGraphicsStateKeeper &keeper) : m_keeper(keeper) { }
    void textShow(const KVPDFContentEvent &) override { matrix = m_keeper.state().textMatrix; }
    QTransform matrix;

private:
    const KVPDFGraphicsStateKeeper &m_keeper;
};

// Where each invisible show lies and what takes its place. Sits after the keeper (and the run
// builder it drives), so the text matrix has moved by what the show advanced.
class InvisibleShows : public KVPDFContentSink {
public:
    struct Edit {
        KVPDFRange range;
        QByteArray replacement;
    };
    struct StreamEdits {
        std::shared_ptr<KVPDFObjectStream> stream;
        std::map<uint64_t, Edit> edits; // by position
        // Shows drawn visibly at some draw of the stream (a form drawn twice), or whose
        // replacement would differ between draws: left as they are.
        std::set<uint64_t> keep;
    };

    InvisibleShows(const KVPDFGraphicsStateKeeper &keeper, const MatrixBeforeShow &before,
                   std::shared_ptr<KVPDFObjectStream> contentStream)
        : m_keeper(keeper), m_before(before), m_contentStream(std::move(contentStream))
    {
    }

    void textShow(const KVPDFContentEvent &event) override
    {
        const size_t index = event.op == KVPDFContentOp::DoubleQuote ? 2 : 0;
        if (index >= event.count())
            return;
        const std::shared_ptr<KVPDFObjectStream> &stream = event.stream && *event.stream ? *event.stream : m_contentStream;
        if (!stream)
            return;
        StreamEdits &edits = streams[stream.get()];
        edits.stream = stream;
        const uint64_t start = event.operands[index].range.location;
        const uint64_t end = event.range.location + event.range.length;
        if (end <= start)
            return;
        const KVPDFGraphicsState &state = m_keeper.state();
        if (!isInvisible(state)) {
            edits.keep.insert(start);
            return;
        }
        const bool newLine = event.op == KVPDFContentOp::Quote || event.op == KVPDFContentOp::DoubleQuote;
        QByteArray replacement = newLine ? (event.op == KVPDFContentOp::Quote ? "() ' " : "() \" ") : QByteArray();
        replacement += "[" + numberText(offsetOf(state, newLine ? state.textLineMatrix : m_before.matrix)) + "] TJ";
        auto [known, added] = edits.edits.try_emplace(start, Edit{{start, end - start}, replacement});
        if (!added && known->second.replacement != replacement)
            edits.keep.insert(start);
    }

    std::map<const KVPDFObjectStream *, StreamEdits> streams;

private:
    // The TJ number that moves the text matrix from `before` to where the show left it: the
    // move in text space (both matrices share their linear part) over what one thousandth of
    // a number moves, Tfs x Th across, Tfs down for vertical writing.
    static double offsetOf(const KVPDFGraphicsState &state, const QTransform &before)
    {
        const QTransform &after = state.textMatrix;
        const double det = before.m11() * before.m22() - before.m12() * before.m21();
        if (det == 0 || !std::isfinite(det))
            return 0;
        const double de = after.dx() - before.dx();
        const double df = after.dy() - before.dy();
        const double across = (de * before.m22() - df * before.m21()) / det;
        const double down = (df * before.m11() - de * before.m12()) / det;
        if (std::fabs(down) > std::fabs(across)) {
            const double unit = state.TfontSize;
            return unit == 0 ? 0 : -1000.0 * down / unit;
        }
        const double unit = double(state.TfontSize) * state.ThorizontalScaling;
        return unit == 0 ? 0 : -1000.0 * across / unit;
    }

    const KVPDFGraphicsStateKeeper &m_keeper;
    const MatrixBeforeShow &m_before;
    std::shared_ptr<KVPDFObjectStream> m_contentStream;
};

QByteArray applyEdits(QByteArray data, const InvisibleShows::StreamEdits &edits)
{
    uint64_t limit = uint64_t(data.size());
    // From the last to the first, so earlier positions stay valid.
    for (auto it = edits.edits.rbegin(); it != edits.edits.rend(); ++it) {
        const InvisibleShows::Edit &edit = it->second;
        if (edits.keep.count(it->first) || edit.range.location + edit.range.length > limit)
            continue;
        data.replace(qsizetype(edit.range.location), qsizetype(edit.range.length), edit.replacement);
        limit = edit.range.location;
    }
    return data;
}

bool hasChanges(const InvisibleShows::StreamEdits &edits)
{
    for (const auto &[position, edit] : edits.edits)
        if (!edits.keep.count(position))
            return true;
    return false;
}

} // namespace

bool KVPDFPage::containsOCRText()
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    const bool parsedBefore = parsedContent();
    parseContent();
    bool found = false;
    for (const auto &run : textBlobs()) {
        // Runs without text do not count: what removal leaves in place of a show (a TJ of one
        // number) is such a run, and must not keep the page answering yes.
        if (run && isInvisible(*run) && !run->string.isEmpty()) {
            found = true;
            break;
        }
    }
    if (!parsedBefore)
        resetContent();
    return found;
}

bool KVPDFPage::removeOCRText()
{
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    if (!m_document || !m_pageDictionary)
        return false;
    const QString page = QStringLiteral("Page %1").arg(m_pageNumber + 1);
    std::map<const KVPDFObjectStream *, InvisibleShows::StreamEdits> found;
    std::shared_ptr<KVPDFObjectStream> content;
    try {
        KVPDFGraphicsState initial;
        const QPointF origin = cropBox().value_or(mediaBox()).topLeft();
        initial.CTM = QTransform::fromTranslate(-origin.x(), -origin.y());
        const std::vector<std::shared_ptr<KVPDFObjectStream>> streams = contentStreams();
        content = streams.empty() ? nullptr : streams.front();
        if (!content)
            return false;
        const QByteArray data = content->decodedData();
        const bool joined = content == m_potentialNewStream;
        if (joined ? !m_joinedContentWhole : !content->decodeComplete()) {
            kvLog(QStringLiteral("%1: its content did not read completely; invisible text is left in place").arg(page));
            return false;
        }
        KVPDFGraphicsStateKeeper keeper(initial);
        std::vector<std::shared_ptr<KVPDFTextBlob>> runs;
        KVPDFTextRunBuilder builder(*this, content, runs);
        builder.attach(keeper);
        MatrixBeforeShow before(keeper);
        InvisibleShows shows(keeper, before, content);
        KVPDFContentSinkList sinks({&before, &keeper, &shows});
        KVPDFContentInterpreter interpreter(sinks, m_document);
        interpreter.interpret(data, resources());
        found = std::move(shows.streams);
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("%1: content unreadable, invisible text is left in place: %2").arg(page, QString::fromUtf8(failure.what())));
        return false;
    }

    std::vector<const InvisibleShows::StreamEdits *> changed;
    for (const auto &[key, edits] : found) {
        if (!hasChanges(edits))
            continue;
        const bool isContent = edits.stream == content;
        if (!isContent && (!edits.stream->decodeComplete() || edits.stream->objectNumber() == 0)) {
            kvLog(QStringLiteral("%1: a form it draws did not read completely; invisible text is left in place").arg(page));
            return false;
        }
        if (isContent && edits.stream != m_potentialNewStream && edits.stream->objectNumber() == 0) {
            kvLog(QStringLiteral("%1: its content stream has no object number; invisible text is left in place").arg(page));
            return false;
        }
        changed.push_back(&edits);
    }
    if (changed.empty())
        return false;

    // Kept to put back should the document's data not rebuild.
    std::vector<std::pair<KVPDFObjectPtr, std::pair<uint64_t, uint64_t>>> previous;
    const KVPDFObjectPtr previousContents = m_pageDictionary->objectForKey("Contents");
    bool joinedEdited = false;
    for (const InvisibleShows::StreamEdits *edits : changed) {
        const QByteArray compressed = KVPDFDeflate(applyEdits(edits->stream->decodedData(), *edits)).data;
        if (edits->stream == m_potentialNewStream) {
            edits->stream->updateRawData(compressed);
            joinedEdited = true;
            continue;
        }
        // The stream keeps its other entries: a form's BBox and Resources must stay.
        auto dictionary = edits->stream->dictionary() ? kv_cast<KVPDFObjectDictionary>(edits->stream->dictionary()->copy())
                                                      : std::make_shared<KVPDFObjectDictionary>();
        for (const char *key : {"DecodeParms", "DP", "F", "FFilter", "FDecodeParms"})
            dictionary->removeObjectForKey(key);
        dictionary->setObject("Filter", KVPDFObjectName::nameWithBytes("FlateDecode"));
        auto edited = KVPDFObjectStream::streamWithDictionary(dictionary, compressed, {0, uint64_t(compressed.size())});
        edited->updateRawData(compressed);
        const uint64_t number = edits->stream->objectNumber();
        const uint64_t generation = edits->stream->generation();
        previous.push_back({m_document->objectWithNumber(number, generation), {number, generation}});
        m_document->setObject(edited, number, generation);
    }
    if (joinedEdited)
        useNewStream();
    if (m_document->updateDocData())
        return true;
    kvLog(QStringLiteral("%1: the document did not rebuild; invisible text is left in place").arg(page));
    for (const auto &[object, place] : previous)
        if (object)
            m_document->setObject(object, place.first, place.second);
    if (joinedEdited) {
        m_pageDictionary->setObject("Contents", previousContents);
        if (m_pageDictionary->objectNumber())
            m_document->setObject(m_pageDictionary, m_pageDictionary->objectNumber(), m_pageDictionary->generation());
    }
    resetContent();
    return false;
}
