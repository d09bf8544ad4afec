// The image file formats' libraries (libpng, libjpeg-turbo's TurboJPEG, giflib, libtiff), opened
// on first use (see lazy_library.h): together with what they pull in they cost more at start-up
// than the interpreter's own start, and most programs never load or save an image. Without a
// library every call fails as that library's own failing calls do, and the codec reports it.
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <cstdarg>

#include "platform/os/lazy_library.h"

namespace {
platform::LazyLibrary png_library("libpng16.so.16");
platform::LazyLibrary jpeg_library("libturbojpeg.so.0");
platform::LazyLibrary gif_library("libgif.so.7");
platform::LazyLibrary tiff_library("libtiff.so.6");
}  // namespace

extern "C" {

// --- libpng ----------------------------------------------------------------------------------

int png_image_begin_read_from_memory(png_imagep image, png_const_voidp memory, size_t size) {
  ZEL_LAZY_FUNCTION(png_library, png_image_begin_read_from_memory);
  return fn ? fn(image, memory, size) : 0;
}

int png_image_finish_read(png_imagep image, png_const_colorp background, void* buffer,
                          png_int_32 row_stride, void* colormap) {
  ZEL_LAZY_FUNCTION(png_library, png_image_finish_read);
  return fn ? fn(image, background, buffer, row_stride, colormap) : 0;
}

void png_image_free(png_imagep image) {
  ZEL_LAZY_FUNCTION(png_library, png_image_free);
  if (fn) fn(image);
}

int png_image_write_to_memory(png_imagep image, void* memory,
                              png_alloc_size_t* PNG_RESTRICT memory_bytes, int convert_to_8_bit,
                              const void* buffer, png_int_32 row_stride, const void* colormap) {
  ZEL_LAZY_FUNCTION(png_library, png_image_write_to_memory);
  return fn ? fn(image, memory, memory_bytes, convert_to_8_bit, buffer, row_stride, colormap) : 0;
}

// --- TurboJPEG -------------------------------------------------------------------------------

tjhandle tjInitCompress() {
  ZEL_LAZY_FUNCTION(jpeg_library, tjInitCompress);
  return fn ? fn() : nullptr;
}

tjhandle tjInitDecompress() {
  ZEL_LAZY_FUNCTION(jpeg_library, tjInitDecompress);
  return fn ? fn() : nullptr;
}

int tjCompress2(tjhandle handle, const unsigned char* src, int width, int pitch, int height,
                int pixel_format, unsigned char** jpeg_buffer, unsigned long* jpeg_size,
                int subsampling, int quality, int flags) {
  ZEL_LAZY_FUNCTION(jpeg_library, tjCompress2);
  return fn ? fn(handle, src, width, pitch, height, pixel_format, jpeg_buffer, jpeg_size,
                 subsampling, quality, flags)
            : -1;
}

int tjDecompressHeader3(tjhandle handle, const unsigned char* jpeg_buffer,
                        unsigned long jpeg_size, int* width, int* height, int* subsampling,
                        int* colorspace) {
  ZEL_LAZY_FUNCTION(jpeg_library, tjDecompressHeader3);
  return fn ? fn(handle, jpeg_buffer, jpeg_size, width, height, subsampling, colorspace) : -1;
}

int tjDecompress2(tjhandle handle, const unsigned char* jpeg_buffer, unsigned long jpeg_size,
                  unsigned char* dest, int width, int pitch, int height, int pixel_format,
                  int flags) {
  ZEL_LAZY_FUNCTION(jpeg_library, tjDecompress2);
  return fn ? fn(handle, jpeg_buffer, jpeg_size, dest, width, pitch, height, pixel_format, flags)
            : -1;
}

int tjDestroy(tjhandle handle) {
  ZEL_LAZY_FUNCTION(jpeg_library, tjDestroy);
  return fn ? fn(handle) : -1;
}

void tjFree(unsigned char* buffer) {
  ZEL_LAZY_FUNCTION(jpeg_library, tjFree);
  if (fn) fn(buffer);
}

int tjGetErrorCode(tjhandle handle) {
  ZEL_LAZY_FUNCTION(jpeg_library, tjGetErrorCode);
  return fn ? fn(handle) : TJERR_FATAL;
}

// --- giflib ----------------------------------------------------------------------------------

GifFileType* DGifOpen(void* user, InputFunc read, int* error) {
  ZEL_LAZY_FUNCTION(gif_library, DGifOpen);
  if (fn) return fn(user, read, error);
  if (error) *error = D_GIF_ERR_OPEN_FAILED;
  return nullptr;
}

int DGifCloseFile(GifFileType* file, int* error) {
  ZEL_LAZY_FUNCTION(gif_library, DGifCloseFile);
  return fn ? fn(file, error) : GIF_ERROR;
}

int DGifGetRecordType(GifFileType* file, GifRecordType* type) {
  ZEL_LAZY_FUNCTION(gif_library, DGifGetRecordType);
  return fn ? fn(file, type) : GIF_ERROR;
}

int DGifGetImageDesc(GifFileType* file) {
  ZEL_LAZY_FUNCTION(gif_library, DGifGetImageDesc);
  return fn ? fn(file) : GIF_ERROR;
}

int DGifGetLine(GifFileType* file, GifPixelType* line, int length) {
  ZEL_LAZY_FUNCTION(gif_library, DGifGetLine);
  return fn ? fn(file, line, length) : GIF_ERROR;
}

int DGifGetExtension(GifFileType* file, int* code, GifByteType** extension) {
  ZEL_LAZY_FUNCTION(gif_library, DGifGetExtension);
  return fn ? fn(file, code, extension) : GIF_ERROR;
}

int DGifGetExtensionNext(GifFileType* file, GifByteType** extension) {
  ZEL_LAZY_FUNCTION(gif_library, DGifGetExtensionNext);
  return fn ? fn(file, extension) : GIF_ERROR;
}

int DGifExtensionToGCB(const size_t length, const GifByteType* extension,
                       GraphicsControlBlock* block) {
  ZEL_LAZY_FUNCTION(gif_library, DGifExtensionToGCB);
  return fn ? fn(length, extension, block) : GIF_ERROR;
}

GifFileType* EGifOpen(void* user, OutputFunc write, int* error) {
  ZEL_LAZY_FUNCTION(gif_library, EGifOpen);
  if (fn) return fn(user, write, error);
  if (error) *error = E_GIF_ERR_OPEN_FAILED;
  return nullptr;
}

int EGifCloseFile(GifFileType* file, int* error) {
  ZEL_LAZY_FUNCTION(gif_library, EGifCloseFile);
  return fn ? fn(file, error) : GIF_ERROR;
}

void EGifSetGifVersion(GifFileType* file, const bool gif89) {
  ZEL_LAZY_FUNCTION(gif_library, EGifSetGifVersion);
  if (fn) fn(file, gif89);
}

int EGifPutScreenDesc(GifFileType* file, const int width, const int height,
                      const int color_resolution, const int background,
                      const ColorMapObject* color_map) {
  ZEL_LAZY_FUNCTION(gif_library, EGifPutScreenDesc);
  return fn ? fn(file, width, height, color_resolution, background, color_map) : GIF_ERROR;
}

int EGifPutImageDesc(GifFileType* file, const int left, const int top, const int width,
                     const int height, const bool interlace, const ColorMapObject* color_map) {
  ZEL_LAZY_FUNCTION(gif_library, EGifPutImageDesc);
  return fn ? fn(file, left, top, width, height, interlace, color_map) : GIF_ERROR;
}

int EGifPutLine(GifFileType* file, GifPixelType* line, int length) {
  ZEL_LAZY_FUNCTION(gif_library, EGifPutLine);
  return fn ? fn(file, line, length) : GIF_ERROR;
}

int EGifPutExtension(GifFileType* file, const int code, const int length,
                     const void* extension) {
  ZEL_LAZY_FUNCTION(gif_library, EGifPutExtension);
  return fn ? fn(file, code, length, extension) : GIF_ERROR;
}

size_t EGifGCBToExtension(const GraphicsControlBlock* block, GifByteType* extension) {
  ZEL_LAZY_FUNCTION(gif_library, EGifGCBToExtension);
  return fn ? fn(block, extension) : 0;
}

ColorMapObject* GifMakeMapObject(int count, const GifColorType* colors) {
  ZEL_LAZY_FUNCTION(gif_library, GifMakeMapObject);
  return fn ? fn(count, colors) : nullptr;
}

void GifFreeMapObject(ColorMapObject* map) {
  ZEL_LAZY_FUNCTION(gif_library, GifFreeMapObject);
  if (fn) fn(map);
}

int GifBitSize(int n) {
  ZEL_LAZY_FUNCTION(gif_library, GifBitSize);
  if (fn) return fn(n);
  int bits = 1;  // the bits that count n colours, as giflib's own answers
  while (bits < 8 && (1 << bits) < n) bits++;
  return bits;
}

int GifQuantizeBuffer(unsigned int width, unsigned int height, int* color_map_size,
                      GifByteType* red, GifByteType* green, GifByteType* blue,
                      GifByteType* output, GifColorType* color_map) {
  ZEL_LAZY_FUNCTION(gif_library, GifQuantizeBuffer);
  return fn ? fn(width, height, color_map_size, red, green, blue, output, color_map) : GIF_ERROR;
}

// --- libtiff ---------------------------------------------------------------------------------

TIFF* TIFFClientOpenExt(const char* name, const char* mode, thandle_t client,
                        TIFFReadWriteProc read, TIFFReadWriteProc write, TIFFSeekProc seek,
                        TIFFCloseProc close, TIFFSizeProc size, TIFFMapFileProc map,
                        TIFFUnmapFileProc unmap, TIFFOpenOptions* options) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFClientOpenExt);
  return fn ? fn(name, mode, client, read, write, seek, close, size, map, unmap, options)
            : nullptr;
}

void TIFFClose(TIFF* file) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFClose);
  if (fn) fn(file);
}

TIFFOpenOptions* TIFFOpenOptionsAlloc() {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFOpenOptionsAlloc);
  return fn ? fn() : nullptr;
}

void TIFFOpenOptionsFree(TIFFOpenOptions* options) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFOpenOptionsFree);
  if (fn) fn(options);
}

void TIFFOpenOptionsSetMaxSingleMemAlloc(TIFFOpenOptions* options, tmsize_t limit) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFOpenOptionsSetMaxSingleMemAlloc);
  if (fn) fn(options, limit);
}

TIFFErrorHandler TIFFSetErrorHandler(TIFFErrorHandler handler) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFSetErrorHandler);
  return fn ? fn(handler) : nullptr;
}

TIFFErrorHandler TIFFSetWarningHandler(TIFFErrorHandler handler) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFSetWarningHandler);
  return fn ? fn(handler) : nullptr;
}

// The variadic calls go through libtiff's va_list forms, which take the same arguments.
int TIFFGetField(TIFF* file, uint32_t tag, ...) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFVGetField);
  if (!fn) return 0;
  va_list values;
  va_start(values, tag);
  const int result = fn(file, tag, values);
  va_end(values);
  return result;
}

int TIFFGetFieldDefaulted(TIFF* file, uint32_t tag, ...) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFVGetFieldDefaulted);
  if (!fn) return 0;
  va_list values;
  va_start(values, tag);
  const int result = fn(file, tag, values);
  va_end(values);
  return result;
}

int TIFFSetField(TIFF* file, uint32_t tag, ...) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFVSetField);
  if (!fn) return 0;
  va_list values;
  va_start(values, tag);
  const int result = fn(file, tag, values);
  va_end(values);
  return result;
}

int TIFFIsTiled(TIFF* file) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFIsTiled);
  return fn ? fn(file) : 0;
}

int TIFFRGBAImageOK(TIFF* file, char message[1024]) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFRGBAImageOK);
  if (fn) return fn(file, message);
  message[0] = 0;
  return 0;
}

int TIFFReadRGBAImageOriented(TIFF* file, uint32_t width, uint32_t height, uint32_t* raster,
                              int orientation, int stop_on_error) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFReadRGBAImageOriented);
  return fn ? fn(file, width, height, raster, orientation, stop_on_error) : 0;
}

tmsize_t TIFFScanlineSize(TIFF* file) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFScanlineSize);
  return fn ? fn(file) : 0;
}

int TIFFReadScanline(TIFF* file, void* buffer, uint32_t row, uint16_t sample) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFReadScanline);
  return fn ? fn(file, buffer, row, sample) : -1;
}

int TIFFWriteScanline(TIFF* file, void* buffer, uint32_t row, uint16_t sample) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFWriteScanline);
  return fn ? fn(file, buffer, row, sample) : -1;
}

uint32_t TIFFDefaultStripSize(TIFF* file, uint32_t request) {
  ZEL_LAZY_FUNCTION(tiff_library, TIFFDefaultStripSize);
  return fn ? fn(file, request) : request;
}

}  // extern "C"
