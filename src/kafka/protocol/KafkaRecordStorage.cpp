#include "KafkaRecordStorage.h"

#include <unordered_map>

namespace {

// The start of the storage block an array shares; null for raw data.
const char* blockOf(QByteArray& bytes)
{
    const QByteArray::DataPointer& storage = bytes.data_ptr();
    if (!storage.isMutable())
        return nullptr;
    return bytes.constData() - storage.freeSpaceAtBegin();
}

// The bytes each block holds for the records, and what a block holds in all.
class BlockUse {
public:
    void add(QByteArray& bytes)
    {
        if (const char* block = blockOf(bytes))
            used(block) += bytes.size();
    }

    bool isSparse(QByteArray& bytes)
    {
        const char* block = blockOf(bytes);
        return block && used(block) * KafkaRecordStorage::KeptFraction < bytes.data_ptr().constAllocatedCapacity();
    }

private:
    // Arrays of one block mostly follow one another: the last one found
    // spares most lookups.
    qsizetype& used(const char* block)
    {
        if (block != m_lastBlock) {
            m_lastBlock = block;
            m_lastUsed = &m_used[block];
        }
        return *m_lastUsed;
    }

    // Node-based: the pointer to the last block's count stays valid.
    std::unordered_map<const char*, qsizetype> m_used;
    const char* m_lastBlock = nullptr;
    qsizetype* m_lastUsed = nullptr;
};

void copyOut(QByteArray& bytes)
{
    bytes = QByteArray(bytes.constData(), bytes.size());
}

} // namespace

void KafkaRecordStorage::releaseSparseBlocks(QList<KafkaRecord>& records)
{
    BlockUse use;
    // Reading the storage of an array takes it by reference (a list of
    // decoded records is its arrays' only owner, so nothing is copied).
    for (KafkaRecord& record : records) {
        use.add(record.key);
        use.add(record.value);
        for (KafkaHeader& header : record.headers)
            use.add(header.value);
    }
    for (KafkaRecord& record : records) {
        if (use.isSparse(record.key))
            copyOut(record.key);
        if (use.isSparse(record.value))
            copyOut(record.value);
        for (KafkaHeader& header : record.headers) {
            if (use.isSparse(header.value))
                copyOut(header.value);
        }
    }
}
