#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>

// The library types, declared here so that users need not see the libraries.
struct LZ4F_dctx_s;
struct ZSTD_DCtx_s;
struct z_stream_s;

// What the decompressors keep from one record batch to the next: the gzip,
// LZ4 and Zstandard decompression contexts, made when first needed and reset
// between batches, so that batches do not cost setting up a context each;
// and the size of the last output, which sizes the next. A batch's output is
// kept by its records (they share it), so each batch gets storage of its own.
// A decompressor of a call's own serves a batch decoded alone.
// One thread at a time; not copyable.
class KafkaBatchDecompressor {
public:
    KafkaBatchDecompressor();
    ~KafkaBatchDecompressor();
    KafkaBatchDecompressor(const KafkaBatchDecompressor&) = delete;
    KafkaBatchDecompressor& operator=(const KafkaBatchDecompressor&) = delete;

    // The LZ4 context, ready for a new frame; null when it cannot be made,
    // with the library's error code in `error`.
    LZ4F_dctx_s* lz4Context(std::size_t& error);
    // The Zstandard stream, ready for a new frame; null when it cannot be made.
    ZSTD_DCtx_s* zstdStream();
    // The inflate state, detecting a zlib or a gzip header, ready for a new
    // stream; null when it cannot be made, with zlib's status in `status`.
    z_stream_s* zlibStream(int& status);

    // A new, empty output buffer with room for `atLeast` bytes and for as
    // much as the last batch gave, reserved once.
    QByteArray& output(std::int64_t atLeast);
    // The output of the batch, taken by the caller.
    QByteArray takeOutput();

private:
    struct ZlibEnd {
        void operator()(z_stream_s* stream) const;
    };

    LZ4F_dctx_s* m_lz4 = nullptr;
    ZSTD_DCtx_s* m_zstd = nullptr;
    std::unique_ptr<z_stream_s, ZlibEnd> m_zlib;
    QByteArray m_output;
    qsizetype m_lastOutputSize = 0;
};
