#include "KafkaBatchDecompressor.h"

#include <lz4frame.h>
#include <zlib.h>
#include <zstd.h>

#include <utility>

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
        if (LZ4F_isError(error)) {
            m_lz4 = nullptr;
            return nullptr;
        }
    } else if (m_lz4Used) {
        // A frame that failed part way leaves the context inside it.
        LZ4F_resetDecompressionContext(m_lz4);
    }
    m_lz4Used = true;
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

z_stream_s* KafkaBatchDecompressor::zlibStream(int windowBits, int& status)
{
    if (m_zlib && m_zlibWindowBits == windowBits) {
        status = inflateReset(m_zlib.get());
        return status == Z_OK ? m_zlib.get() : nullptr;
    }
    m_zlib.reset();
    auto stream = std::make_unique<z_stream>();
    status = inflateInit2(stream.get(), windowBits);
    if (status != Z_OK)
        return nullptr;
    m_zlib.reset(stream.release());
    m_zlibWindowBits = windowBits;
    return m_zlib.get();
}

QByteArray& KafkaBatchDecompressor::output()
{
    m_output = QByteArray();
    m_output.reserve(m_lastOutputSize);
    return m_output;
}

QByteArray KafkaBatchDecompressor::takeOutput()
{
    m_lastOutputSize = m_output.size();
    return std::exchange(m_output, QByteArray());
}
