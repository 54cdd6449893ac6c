#include "KVPDFRedraw.h"

#include "KVPDFLog.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <poppler.h>

namespace {
cairo_status_t appendToBuffer(void *closure, const unsigned char *data, unsigned int length)
{
    static_cast<QByteArray *>(closure)->append(reinterpret_cast<const char *>(data), qsizetype(length));
    return CAIRO_STATUS_SUCCESS;
}
}

QByteArray kvRedrawPDF(const QByteArray &data)
{
    GBytes *bytes = g_bytes_new(data.constData(), gsize(data.size()));
    GError *error = nullptr;
    PopplerDocument *document = poppler_document_new_from_bytes(bytes, nullptr, &error);
    g_bytes_unref(bytes);
    if (!document) {
        kvLog(QStringLiteral("Redraw: %1").arg(QString::fromUtf8(error ? error->message : "unreadable")));
        if (error)
            g_error_free(error);
        return QByteArray();
    }
    const int count = poppler_document_get_n_pages(document);
    QByteArray out;
    if (count > 0) {
        cairo_surface_t *surface = cairo_pdf_surface_create_for_stream(appendToBuffer, &out, 612, 792);
        cairo_t *cr = cairo_create(surface);
        for (int i = 0; i < count; ++i) {
            PopplerPage *page = poppler_document_get_page(document, i);
            if (!page)
                continue;
            // The size as shown, rotation applied, so each page keeps its own size and orientation.
            double width = 0, height = 0;
            poppler_page_get_size(page, &width, &height);
            if (width <= 0 || height <= 0) {
                width = 612;
                height = 792;
            }
            cairo_pdf_surface_set_size(surface, width, height);
            cairo_save(cr);
            poppler_page_render_for_printing(page, cr);
            cairo_restore(cr);
            cairo_show_page(cr);
            g_object_unref(page);
        }
        cairo_destroy(cr);
        cairo_surface_finish(surface);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
            out.clear();
        cairo_surface_destroy(surface);
    }
    g_object_unref(document);
    return out;
}
