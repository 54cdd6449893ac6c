// The page's content side: interpreting its content streams into runs and image records.
#include "KVPDFPage.h"

#include "KVPDFDocument.h"
#include "KVPDFLog.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPageContent.h"
#include "KVPDFTextRunBuilder.h"

#include <exception>

namespace {

const KVPDFPageContent &emptyContent()
{
    static const KVPDFPageContent empty;
    return empty;
}

} // namespace

const KVPDFGraphicsState &KVPDFPage::gstate() const { return (m_content ? *m_content : emptyContent()).gstate; }

const std::vector<KVPDFGraphicsState> &KVPDFPage::gstateStack() const
{
    return (m_content ? *m_content : emptyContent()).gstateStack;
}

const std::vector<std::shared_ptr<KVPDFTextBlob>> &KVPDFPage::textBlobs() const
{
    return (m_content ? *m_content : emptyContent()).textBlobs;
}

const std::vector<std::shared_ptr<KVPDFImage>> &KVPDFPage::images() const
{
    return (m_content ? *m_content : emptyContent()).images;
}

void KVPDFPage::parseContent()
{
    // A second thread waits here for the first and then finds the content made.
    std::lock_guard<std::recursive_mutex> prepare(m_prepareMutex);
    if (m_content)
        return;
    auto content = std::make_shared<KVPDFPageContent>();
    try {
        // The crop box's corner becomes the origin once, here; forms drawn by the content
        // inherit that CTM and never move it again.
        KVPDFGraphicsState initial;
        const QRectF media = mediaBox();
        const QPointF origin = cropBox().value_or(media).topLeft();
        initial.CTM = QTransform::fromTranslate(-origin.x(), -origin.y());

        // Several streams come back as one, their join, so runs point into it.
        const std::vector<std::shared_ptr<KVPDFObjectStream>> streams = contentStreams();
        const std::shared_ptr<KVPDFObjectStream> stream = streams.empty() ? nullptr : streams.front();
        const QByteArray data = stream ? stream->decodedData() : QByteArray();

        KVPDFGraphicsStateKeeper keeper(initial);
        KVPDFTextRunBuilder runs(*this, stream, content->textBlobs, m_rewrites.get());
        runs.attach(keeper);
        KVPDFImageCollector images(keeper);
        KVPDFContentSinkList sinks({&keeper, &images});
        KVPDFContentInterpreter interpreter(sinks, m_document);
        content->stats = interpreter.interpret(data, resources());
        content->gstate = keeper.state();
        content->gstateStack = keeper.savedStates();
        content->images = images.takeImages();
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Page %1 content unreadable: %2").arg(m_pageNumber + 1).arg(QString::fromUtf8(failure.what())));
    }
    m_content = std::move(content);
}
