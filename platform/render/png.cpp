#include "platform/render/png.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace wce::render {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// libpng reports errors by longjmp; the message is kept for the caller.
void OnPngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<std::string*>(png_get_error_ptr(png));
    if (sink) *sink = message;
    png_longjmp(png, 1);
}

// Everything that needs no cleanup across the longjmp lives in the caller.
bool Encode(std::FILE* file, const Image& image, const std::vector<png_bytep>& rows,
            std::string* cause) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, cause, OnPngError, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    bool ok = false;
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width()),
                     static_cast<png_uint_32>(image.Height()), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_write_image(png, const_cast<png_bytepp>(rows.data()));
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return ok;
}

}  // namespace

bool WritePng(const Image& image, const std::string& path, std::string* error) {
    auto fail = [&](const std::string& cause) {
        if (error) *error = "cannot write the screenshot " + path + ": " + cause;
        return false;
    };
    if (image.Width() == 0 || image.Height() == 0) return fail("the image is empty");
    std::vector<png_byte> rgb(static_cast<size_t>(image.Width()) * image.Height() * 3);
    std::vector<png_bytep> rows(static_cast<size_t>(image.Height()));
    for (int y = 0; y < image.Height(); ++y) {
        png_bytep row = &rgb[static_cast<size_t>(y) * image.Width() * 3];
        rows[static_cast<size_t>(y)] = row;
        for (int x = 0; x < image.Width(); ++x) {
            const Color c = image.At(x, y);
            row[3 * x] = static_cast<png_byte>(c >> 16);
            row[3 * x + 1] = static_cast<png_byte>(c >> 8);
            row[3 * x + 2] = static_cast<png_byte>(c);
        }
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) return fail(std::strerror(errno));
    std::string cause = "the encoder failed";
    bool ok = Encode(file.get(), image, rows, &cause);
    if (ok && std::fflush(file.get()) != 0) {
        ok = false;
        cause = std::strerror(errno);
    }
    if (std::fclose(file.release()) != 0 && ok) {
        ok = false;
        cause = std::strerror(errno);
    }
    if (!ok) std::remove(path.c_str());
    return ok ? true : fail(cause);
}

}  // namespace wce::render
