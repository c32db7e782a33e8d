#include "Config.h"

#include "ConfigParser.h"
#include "ConfigWriter.h"
#include "Settings.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {

// The longest file stem made from a display name, in UTF-8 bytes. With the
// number of a taken name ("-2147483647") and ".yml" it makes 143 bytes, the
// shortest name limit of the file systems in use (eCryptfs with encrypted
// names; most others take 255).
constexpr qsizetype MaxFileStemBytes = 128;

// `text` cut to at most `maxBytes` bytes of UTF-8, at a whole character.
QString cutToUtf8Bytes(const QString& text, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const qsizetype units = text.at(end).isHighSurrogate() && end + 1 < text.size() && text.at(end + 1).isLowSurrogate() ? 2 : 1;
        bytes += QStringView(text).mid(end, units).toUtf8().size();
        if (bytes > maxBytes)
            break;
        end += units;
    }
    return text.left(end);
}

// The file stem for a display name: case-folded, white space made single "-".
// Directory separators and control characters become "-" as well and leading
// dots go, so that the file lies directly in the clusters directory, is not
// hidden, and its own directory belongs to it alone. A long stem is cut so
// that every file system takes the name, numbered or not; the display name
// itself is stored whole in the file.
QString fileStemFor(const QString& displayName)
{
    static const QRegularExpression whiteSpace(QStringLiteral("\\s"));
    static const QRegularExpression dashes(QStringLiteral("-+"));

    QString stem = displayName.toCaseFolded().simplified();
    stem.replace(whiteSpace, QStringLiteral("-"));
    for (QChar& c : stem) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            c = QLatin1Char('-');
    }
    stem.replace(dashes, QStringLiteral("-"));

    qsizetype dots = 0;
    while (dots < stem.size() && stem.at(dots) == QLatin1Char('.'))
        ++dots;
    stem.remove(0, dots);
    stem = cutToUtf8Bytes(stem, MaxFileStemBytes);

    return stem.isEmpty() ? QStringLiteral("cluster") : stem;
}

} // namespace

Result<Config::Broker, KafkaError> Config::Broker::fromString(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    if (parts.size() != 2 || parts.at(0).isEmpty())
        return KafkaError(KafkaErrorCode::InvalidValue, QStringLiteral("Invalid host format '%1'. Expected host:port").arg(text));

    bool ok = false;
    const int port = parts.at(1).toInt(&ok, 10);
    if (!ok)
        return KafkaError(KafkaErrorCode::InvalidValue,
            QStringLiteral("Invalid host format '%1'. The port number is not a valid number").arg(text));
    if (port < 1 || port > 65535)
        return KafkaError(KafkaErrorCode::InvalidValue,
            QStringLiteral("Invalid host format '%1'. The port number must be between 1 and 65535").arg(text));

    return Broker { parts.at(0), port };
}

Result<Config, QList<KafkaError>> Config::parseFromFile(QString filePath)
{
    ConfigParser parser(std::move(filePath));
    Result<Config, KafkaError> result = parser.parse();
    if (!result.isError())
        return std::move(result).value();
    if (!parser.errors.isEmpty())
        return std::move(parser.errors);
    return QList<KafkaError> { std::move(result).error() };
}

std::optional<KafkaError> Config::saveToFile(const Config& config)
{
    ConfigWriter writer(config);
    return writer.write();
}

QString Config::findAvailableFilePath(const QString& displayName)
{
    const QString clustersDir = Settings::clustersDir();
    const QString stem = fileStemFor(displayName);

    QString candidate = QStringLiteral("%1/%2.yml").arg(clustersDir, stem);
    QString directory = QStringLiteral("%1/%2").arg(clustersDir, stem);
    for (int n = 1; QFileInfo::exists(candidate) || QFileInfo::exists(directory); ++n) {
        const QString numbered = QStringLiteral("%1-%2").arg(stem, QString::number(n));
        candidate = QStringLiteral("%1/%2.yml").arg(clustersDir, numbered);
        directory = QStringLiteral("%1/%2").arg(clustersDir, numbered);
    }
    return candidate;
}

QString Config::extraPath() const
{
    return QStringLiteral("%1/%2").arg(Settings::clustersDir(), QFileInfo(filePath).completeBaseName());
}

const char* Config::contentTypeName(ContentType contentType)
{
    switch (contentType) {
    case ContentType::Text:
        return "Text";
    case ContentType::Json:
        return "Json";
    case ContentType::Xml:
        return "Xml";
    case ContentType::Binary:
        return "Binary";
    case ContentType::Protobuf:
        return "Protocol Buffers";
    }
    return "";
}
