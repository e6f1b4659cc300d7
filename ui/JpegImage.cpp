#include "JpegImage.h"

#include <QFile>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

// The pictures are compiled into the static library of the windows, whose
// resource registration must be asked for by name.
static void InitArtResources() { Q_INIT_RESOURCE(art); }

namespace ui {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr) {}  // warnings of a damaged picture are not shown

// The decode proper. No automatic object of this frame changes after
// setjmp: the picture is written through the caller's pointer, and a failed
// decode jumps back here through libjpeg's C frames only.
bool DecodeInto(const std::uint8_t* data, std::size_t size, QImage* out) {
    jpeg_decompress_struct info{};
    ErrorManager err{};
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = OnError;
    err.base.output_message = OnMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *out = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB888);
    if (out->isNull() || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

QImage DecodeJpeg(std::span<const std::uint8_t> bytes) {
    QImage image;
    if (bytes.empty() || !DecodeInto(bytes.data(), bytes.size(), &image)) return {};
    return image;
}

QImage LoadJpegResource(const QString& path) {
    static const bool registered = (InitArtResources(), true);
    (void)registered;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = f.readAll();
    return DecodeJpeg({reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())});
}

}  // namespace ui
