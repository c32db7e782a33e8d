#include "CompilerErrorCollector.h"

void CompilerErrorCollector::AddError(const std::string& filename, int line, int /*column*/, const std::string& message)
{
    const QString where = line >= 0 ? QString(" at line %1").arg(line) : QString();
    const QString text = QString("Protocol Buffers schema compilation failed for file '%1'%2: %3")
                             .arg(QString::fromStdString(filename), where, QString::fromStdString(message));
    if (m_seen.contains(text))
        return;
    m_seen.insert(text);
    m_messages.append(text);
}
