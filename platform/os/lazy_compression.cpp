// zlib's and libzstd's functions used by the compression containers, opened on first use (see
// lazy_library.h): most programs never compress. Without a library every call fails as the
// library's own failing calls do, and the containers report it as their status.
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include "platform/os/lazy_library.h"

namespace {
platform::LazyLibrary zlib_library("libz.so.1");
platform::LazyLibrary zstd_library("libzstd.so.1");

// What libzstd answers for a generic failure: an error code ZSTD_isError recognises.
constexpr size_t kZstdFailure = size_t(0) - size_t(ZSTD_error_GENERIC);
}  // namespace

extern "C" {

// --- zlib ------------------------------------------------------------------------------------

int deflateInit2_(z_streamp stream, int level, int method, int window_bits, int mem_level,
                  int strategy, const char* version, int stream_size) {
  ZEL_LAZY_FUNCTION(zlib_library, deflateInit2_);
  return fn ? fn(stream, level, method, window_bits, mem_level, strategy, version, stream_size)
            : Z_MEM_ERROR;
}

int deflate(z_streamp stream, int flush) {
  ZEL_LAZY_FUNCTION(zlib_library, deflate);
  return fn ? fn(stream, flush) : Z_STREAM_ERROR;
}

uLong deflateBound(z_streamp stream, uLong source_length) {
  ZEL_LAZY_FUNCTION(zlib_library, deflateBound);
  return fn ? fn(stream, source_length) : 0;
}

int deflateEnd(z_streamp stream) {
  ZEL_LAZY_FUNCTION(zlib_library, deflateEnd);
  return fn ? fn(stream) : Z_STREAM_ERROR;
}

int inflateInit2_(z_streamp stream, int window_bits, const char* version, int stream_size) {
  ZEL_LAZY_FUNCTION(zlib_library, inflateInit2_);
  return fn ? fn(stream, window_bits, version, stream_size) : Z_MEM_ERROR;
}

int inflate(z_streamp stream, int flush) {
  ZEL_LAZY_FUNCTION(zlib_library, inflate);
  return fn ? fn(stream, flush) : Z_STREAM_ERROR;
}

int inflateEnd(z_streamp stream) {
  ZEL_LAZY_FUNCTION(zlib_library, inflateEnd);
  return fn ? fn(stream) : Z_STREAM_ERROR;
}

// --- libzstd ---------------------------------------------------------------------------------

ZSTD_CCtx* ZSTD_createCCtx() {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_createCCtx);
  return fn ? fn() : nullptr;
}

size_t ZSTD_freeCCtx(ZSTD_CCtx* context) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_freeCCtx);
  return fn ? fn(context) : 0;
}

size_t ZSTD_CCtx_setParameter(ZSTD_CCtx* context, ZSTD_cParameter parameter, int value) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_CCtx_setParameter);
  return fn ? fn(context, parameter, value) : kZstdFailure;
}

size_t ZSTD_compress2(ZSTD_CCtx* context, void* dest, size_t capacity, const void* src,
                      size_t length) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_compress2);
  return fn ? fn(context, dest, capacity, src, length) : kZstdFailure;
}

size_t ZSTD_compressBound(size_t length) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_compressBound);
  return fn ? fn(length) : kZstdFailure;
}

ZSTD_DCtx* ZSTD_createDCtx() {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_createDCtx);
  return fn ? fn() : nullptr;
}

size_t ZSTD_freeDCtx(ZSTD_DCtx* context) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_freeDCtx);
  return fn ? fn(context) : 0;
}

size_t ZSTD_decompressStream(ZSTD_DCtx* context, ZSTD_outBuffer* out, ZSTD_inBuffer* in) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_decompressStream);
  return fn ? fn(context, out, in) : kZstdFailure;
}

unsigned long long ZSTD_getFrameContentSize(const void* src, size_t length) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_getFrameContentSize);
  return fn ? fn(src, length) : ZSTD_CONTENTSIZE_ERROR;
}

unsigned ZSTD_isError(size_t code) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_isError);
  return fn ? fn(code) : code > size_t(0) - size_t(ZSTD_error_maxCode);
}

ZSTD_ErrorCode ZSTD_getErrorCode(size_t code) {
  ZEL_LAZY_FUNCTION(zstd_library, ZSTD_getErrorCode);
  return fn ? fn(code) : ZSTD_error_GENERIC;
}

}  // extern "C"
