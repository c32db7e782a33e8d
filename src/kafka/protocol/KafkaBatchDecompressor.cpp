#include "KafkaBatchDecompressor.h"

#include <lz4frame.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <utility>

namespace {

// Window bits that make inflate detect a zlib or a gzip header.
constexpr int ZlibOrGzipWindowBits = 15 + 32;

} // namespace

KafkaBatchDecompressor::KafkaBatchDecompressor() = default;

KafkaBatchDecompressor::~KafkaBatchDecompressor()
{
    if (m_lz4)
        LZ4F_freeDecompressionContext(m_lz4);
    if (m_zstd)
        ZSTD_freeDStream(m_zstd);
}

void KafkaBatchDecompressor::ZlibEnd::operator()(z_stream_s* stream) const
{
    inflateEnd(stream);
    delete stream;
}

LZ4F_dctx_s* KafkaBatchDecompressor::lz4Context(std::size_t& error)
{
    error = 0;
    if (!m_lz4) {
        error = LZ4F_createDecompressionContext(&m_lz4, LZ4F_VERSION);
        if (LZ4F_isError(error))
            m_lz4 = nullptr;
    } else {
        // A frame that failed part way leaves the context inside it.
        LZ4F_resetDecompressionContext(m_lz4);
    }
    return m_lz4;
}

ZSTD_DCtx_s* KafkaBatchDecompressor::zstdStream()
{
    if (!m_zstd)
        m_zstd = ZSTD_createDStream();
    if (m_zstd && ZSTD_isError(ZSTD_DCtx_reset(m_zstd, ZSTD_reset_session_only)))
        return nullptr;
    return m_zstd;
}

z_stream_s* KafkaBatchDecompressor::zlibStream(int& status)
{
    if (m_zlib) {
        status = inflateReset(m_zlib.get());
        return status == Z_OK ? m_zlib.get() : nullptr;
    }
    auto stream = std::make_unique<z_stream>();
    status = inflateInit2(stream.get(), ZlibOrGzipWindowBits);
    if (status != Z_OK)
        return nullptr;
    m_zlib.reset(stream.release());
    return m_zlib.get();
}

QByteArray& KafkaBatchDecompressor::output(std::int64_t atLeast)
{
    m_output = QByteArray();
    m_output.reserve(static_cast<qsizetype>(std::max<std::int64_t>(atLeast, m_lastOutputSize)));
    return m_output;
}

QByteArray KafkaBatchDecompressor::takeOutput()
{
    m_lastOutputSize = m_output.size();
    return std::exchange(m_output, QByteArray());
}
