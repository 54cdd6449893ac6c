#include "KVPDFJPEG.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE

#include <jerror.h>
#include <jpeglib.h>

namespace {
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
    bool truncated = false;
};

[[noreturn]] void onError(j_common_ptr info)
{
    auto *errors = reinterpret_cast<ErrorManager *>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void onMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return; // trace messages
    auto *errors = reinterpret_cast<ErrorManager *>(info->err);
    // libjpeg pads data that ends early (or a scan cut short by a marker) with filler rows;
    // those rows are not the image.
    if (info->err->msg_code == JWRN_JPEG_EOF || info->err->msg_code == JWRN_HIT_MARKER)
        errors->truncated = true;
    ++info->err->num_warnings;
}

// The libjpeg calls alone, so that a longjmp out of libjpeg crosses no C++ object's lifetime.
bool decodeInto(const QByteArray &jpeg, KVPDFJPEGImage &image, qsizetype maxOutput)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.emit_message = onMessage;
    if (setjmp(errors.jump)) {
        image.error = QString::fromLatin1(errors.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    // Progressive images keep every coefficient of the image while decoding: bound that too.
    info.mem->max_memory_to_use = static_cast<long>(maxOutput);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(jpeg.constData()), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_calc_output_dimensions(&info);
    const qsizetype rowBytes = qsizetype(info.output_width) * info.output_components;
    if (info.output_components != 1 && info.output_components != 3 && info.output_components != 4) {
        image.error = QStringLiteral("%1 components per pixel are not supported").arg(info.output_components);
        jpeg_destroy_decompress(&info);
        return false;
    }
    if (rowBytes == 0 || info.output_height == 0 || qsizetype(info.output_height) > maxOutput / rowBytes) {
        image.error = QStringLiteral("an image of %1 x %2 is empty or too large").arg(info.output_width).arg(info.output_height);
        jpeg_destroy_decompress(&info);
        return false;
    }
    image.width = int(info.output_width);
    image.height = int(info.output_height);
    image.components = info.output_components;
    image.samples.resize(rowBytes * image.height);
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height && !errors.truncated) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(image.samples.data() + qsizetype(info.output_scanline) * rowBytes);
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break;
    }
    if (errors.truncated || info.output_scanline < info.output_height) {
        image.error = QStringLiteral("the data ends before the last row");
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}
}

KVPDFJPEGImage KVPDFDecodeJPEG(const QByteArray &jpeg, qsizetype maxOutput)
{
    KVPDFJPEGImage image;
    if (jpeg.isEmpty()) {
        image.error = QStringLiteral("no data");
        return image;
    }
    image.complete = decodeInto(jpeg, image, maxOutput);
    if (!image.complete) {
        image.samples.clear();
        image.width = image.height = image.components = 0;
    }
    return image;
}
