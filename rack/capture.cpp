#include "rack/capture.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "base/files.h"

extern "C" {
#include <jpeglib.h>
}

namespace nv::rack {
namespace {

// libjpeg reports fatal errors through a callback that must not return; it jumps back to
// the encoder's entry instead of ending the program.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Kept free of C++ objects with destructors, as longjmp skips them.
bool encodeRgb(const unsigned char* rgb, int width, int height, int stride, int quality,
               unsigned char** out, unsigned long* outSize, char* message) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    if (setjmp(err.jump)) {
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", err.message);
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + size_t(cinfo.next_scanline) * size_t(stride));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

QImage grabWindowImage(QWidget* window) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        QScreen* screen = window->screen();
        const QRect frame = window->frameGeometry();
        if (screen) {
            const QPixmap shot =
                screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
            if (!shot.isNull()) return shot.toImage();
        }
    }
    return window->grab().toImage();
}

bool encodeJpeg(const QImage& image, int quality, std::string& jpeg, std::string& error) {
    if (image.isNull() || image.width() == 0 || image.height() == 0) {
        error = "no picture";
        return false;
    }
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    char message[JMSG_LENGTH_MAX] = {};
    const bool ok = encodeRgb(rgb.constBits(), rgb.width(), rgb.height(),
                              static_cast<int>(rgb.bytesPerLine()), quality, &out, &size, message);
    if (ok)
        jpeg.assign(reinterpret_cast<const char*>(out), size);
    else
        error = message;
    std::free(out);
    return ok;
}

bool captureWindow(QWidget* window, const std::string& path, int quality, std::string& error) {
    std::string jpeg;
    if (!encodeJpeg(grabWindowImage(window), quality, jpeg, error)) return false;
    return nv::safeSave(path, jpeg, error);
}

} // namespace nv::rack
