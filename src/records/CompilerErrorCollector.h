#pragma once

#include <google/protobuf/compiler/importer.h>

#include <QList>
#include <QSet>
#include <QString>

#include <string>

// Collects the messages of the Protocol Buffers compiler as user-facing texts,
// each text once, in the order first seen. Warnings are ignored.
class CompilerErrorCollector : public google::protobuf::compiler::MultiFileErrorCollector {
public:
    ~CompilerErrorCollector() override = default;

    // line is the compiler's zero-based line, or -1 when it has none; the column
    // is not used.
    void AddError(const std::string& filename, int line, int column, const std::string& message) override;

    const QList<QString>& messages() const { return m_messages; }

private:
    QSet<QString> m_seen;
    QList<QString> m_messages;
};
