#include "CompositeDeserializer.h"
#include "ConfigurableDeserializer.h"
#include "ProtobufDeserializer.h"

#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(QList<Config::Deserializer>)
Q_DECLARE_METATYPE(QList<KafkaHeader>)

namespace {

using ContentType = Config::ContentType;

Config::Deserializer rule(const QString& topicPattern, ContentType contentType, const QString& headerName = {},
    const QString& headerPattern = {}, const QString& textEncoding = {})
{
    Config::Deserializer deserializer;
    deserializer.topicPattern = QRegularExpression(topicPattern);
    deserializer.headerName = headerName;
    deserializer.headerPattern = QRegularExpression(headerPattern);
    deserializer.contentType = contentType;
    deserializer.textEncoding = textEncoding;
    return deserializer;
}

KafkaRecord record(const QString& topic, const QByteArray& value, const QList<KafkaHeader>& headers = {})
{
    KafkaRecord kafkaRecord;
    kafkaRecord.topic = topic;
    kafkaRecord.value = value;
    kafkaRecord.headers = headers;
    return kafkaRecord;
}

// One line per outcome: "Binary <hex>", "<type> <text>" or "error <code>: <message>".
QString describe(const Result<DeserializedRecord, KafkaError>& result)
{
    if (result.isError()) {
        const KafkaError& error = result.error();
        return QString("error %1: %2").arg(QString::number(static_cast<int>(error.code)), error.message);
    }
    const DeserializedRecord& deserialized = result.value();
    const QString type = QString::fromUtf8(Config::contentTypeName(deserialized.contentType));
    if (deserialized.contentType == ContentType::Binary) {
        return QString("%1 %2").arg(type, QString::fromLatin1(deserialized.data.toHex()));
    }
    return QString("%1 %2").arg(type, deserialized.text);
}

QList<ConfigurableDeserializer> configurable(
    const QList<Config::Deserializer>& rules, ProtobufRecordDeserializer* protobuf = nullptr)
{
    QList<ConfigurableDeserializer> deserializers;
    for (const Config::Deserializer& configured : rules) {
        deserializers.append(ConfigurableDeserializer(configured, protobuf));
    }
    return deserializers;
}

QByteArray repeated(char byte, qsizetype count)
{
    return QByteArray(count, byte);
}

} // namespace

class RecordDeserializerTest : public QObject {
    Q_OBJECT

private slots:
    // Values that no rule covers are classified by their first 200 bytes.
    void sniffing_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");

        QTest::newRow("empty") << QByteArray("") << "Binary ";
        QTest::newRow("null") << QByteArray() << "Binary ";
        QTest::newRow("plain text") << QByteArray("hello world") << "Text hello world";
        QTest::newRow("tab, newline, return and DEL are printable")
            << QByteArray("a\tb\nc\rd\x7f") << "Text a\tb\nc\rd\x7f";
        QTest::newRow("vertical tab is not printable") << QByteArray("\x0b" "abcd") << "Binary 0b61626364";
        QTest::newRow("one in six not printable") << QByteArray("\x01" "abcde") << "Text \x01" "abcde";
        QTest::newRow("one in five not printable") << QByteArray("\x01" "abcd") << "Binary 0161626364";
        QTest::newRow("39 of 200 not printable")
            << repeated('a', 161) + repeated('\x01', 39) << "Text " + QString(161, 'a') + QString(39, QChar(1));
        QTest::newRow("40 of 200 not printable")
            << repeated('a', 160) + repeated('\x01', 40)
            << "Binary " + QString("61").repeated(160) + QString("01").repeated(40);
        QTest::newRow("binary after the first 200 bytes")
            << repeated('a', 200) + repeated('\x01', 100) << "Text " + QString(200, 'a') + QString(100, QChar(1));
        QTest::newRow("zero byte") << QByteArray("abc\0def", 7) << "Binary 61626300646566";
        QTest::newRow("zero byte at 199")
            << repeated('a', 199) + QByteArray(1, '\0') + repeated('a', 100)
            << "Binary " + QString("61").repeated(199) + "00" + QString("61").repeated(100);
        QTest::newRow("zero byte at 200") << repeated('a', 200) + QByteArray(1, '\0')
                                          << "Text " + QString(200, 'a') + QChar(0);
        const QByteArray accented = QString("été à Noël").toUtf8();
        QTest::newRow("mostly non-ASCII UTF-8") << accented << "Binary " + QString::fromLatin1(accented.toHex());
        QTest::newRow("some non-ASCII UTF-8") << QString("café au lait, sans sucre").toUtf8()
                                              << "Text café au lait, sans sucre";

        QTest::newRow("object") << QByteArray(R"({"a":1})") << R"(Json {"a":1})";
        QTest::newRow("array") << QByteArray("[1,2]") << "Json [1,2]";
        QTest::newRow("unclosed array") << QByteArray("[1,2") << "Text [1,2";
        QTest::newRow("mismatched brackets") << QByteArray("{1]") << "Text {1]";
        QTest::newRow("object between blanks") << QByteArray("  {\"a\":1}\n") << "Json   {\"a\":1}\n";
        QTest::newRow("JSON test comes first") << QByteArray("[<a>]") << "Json [<a>]";

        QTest::newRow("element") << QByteArray("<a>1</a>") << "Xml <a>1</a>";
        QTest::newRow("declaration") << QByteArray("<?xml and then anything") << "Xml <?xml and then anything";
        QTest::newRow("unclosed tag") << QByteArray("<a") << "Text <a";
        QTest::newRow("element between blanks") << QByteArray("\t<a/>\r\n") << "Xml \t<a/>\r\n";
        QTest::newRow("single angle bracket") << QByteArray("<") << "Text <";
    }

    void sniffing()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);

        const CompositeDeserializer composite({ConfigurableDeserializer(rule("^other$", ContentType::Xml), nullptr)});
        const auto result = composite.deserializeRecord(record("topic", value));
        QCOMPARE(describe(result), expected);
        const DeserializedRecord& deserialized = result.value();
        if (deserialized.contentType == ContentType::Binary) {
            QVERIFY(deserialized.text.isNull());
            QCOMPARE(deserialized.data.constData(), value.constData()); // shared, not copied
        } else {
            QVERIFY(deserialized.data.isNull());
        }
    }

    // Which rule decides; the record's value is "hello" unless a row says otherwise.
    void ruleSelection_data()
    {
        QTest::addColumn<QList<Config::Deserializer>>("rules");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QList<KafkaHeader>>("headers");
        QTest::addColumn<QString>("expected");

        using Rules = QList<Config::Deserializer>;
        using Headers = QList<KafkaHeader>;
        const auto header = [](const QString& key, const QByteArray& value) { return KafkaHeader {key, value}; };
        const Rules xmlOnType = {rule("", ContentType::Xml, "type", "xml")};

        QTest::newRow("no rules") << Rules() << "orders" << Headers() << "Text hello";
        QTest::newRow("topic matches anywhere")
            << Rules {rule("orders", ContentType::Binary)} << "eu.orders.v1" << Headers() << "Binary 68656c6c6f";
        QTest::newRow("anchored topic pattern")
            << Rules {rule("^orders$", ContentType::Binary)} << "eu.orders" << Headers() << "Text hello";
        QTest::newRow("empty topic pattern matches every topic")
            << Rules {rule("", ContentType::Json)} << "anything" << Headers() << "Json hello";
        QTest::newRow("first applicable rule decides")
            << Rules {rule("^payments", ContentType::Binary), rule("orders", ContentType::Xml),
                   rule("ord", ContentType::Json)}
            << "orders" << Headers() << "Xml hello";
        QTest::newRow("failing rule does not fall through")
            << Rules {rule("orders", ContentType::Protobuf), rule("", ContentType::Text)} << "orders" << Headers()
            << "error 44: No Protocol Buffers deserializer available";
        QTest::newRow("failing rule that does not apply")
            << Rules {rule("payments", ContentType::Protobuf), rule("", ContentType::Json)} << "orders" << Headers()
            << "Json hello";

        QTest::newRow("header matches") << xmlOnType << "t" << Headers {header("type", "text/xml")} << "Xml hello";
        QTest::newRow("header does not match") << xmlOnType << "t" << Headers {header("type", "json")} << "Text hello";
        QTest::newRow("header missing") << xmlOnType << "t" << Headers {header("other", "xml")} << "Text hello";
        QTest::newRow("header name is case-sensitive")
            << xmlOnType << "t" << Headers {header("Type", "xml")} << "Text hello";
        QTest::newRow("only the first header of the name counts")
            << xmlOnType << "t" << Headers {header("type", "json"), header("type", "xml")} << "Text hello";
        QTest::newRow("later headers of the name are ignored")
            << xmlOnType << "t" << Headers {header("type", "xml"), header("type", "json")} << "Xml hello";
        QTest::newRow("empty header value")
            << Rules {rule("", ContentType::Xml, "type", "^$")} << "t" << Headers {header("type", "")} << "Text hello";
        QTest::newRow("null header value")
            << Rules {rule("", ContentType::Xml, "type", "")} << "t" << Headers {header("type", QByteArray())}
            << "Text hello";
        QTest::newRow("header value read as UTF-8")
            << Rules {rule("", ContentType::Xml, "type", "^schéma$")} << "t"
            << Headers {header("type", QString("schéma").toUtf8())} << "Xml hello";
        QTest::newRow("topic must match as well")
            << Rules {rule("^orders$", ContentType::Xml, "type", "xml")} << "payments"
            << Headers {header("type", "xml")} << "Text hello";
        QTest::newRow("header rule falls to the next rule")
            << Rules {rule("", ContentType::Xml, "type", "xml"), rule("", ContentType::Json)} << "t" << Headers()
            << "Json hello";
    }

    void ruleSelection()
    {
        QFETCH(QList<Config::Deserializer>, rules);
        QFETCH(QString, topic);
        QFETCH(QList<KafkaHeader>, headers);
        QFETCH(QString, expected);

        const CompositeDeserializer composite(configurable(rules));
        QCOMPARE(describe(composite.deserializeRecord(record(topic, "hello", headers))), expected);
    }

    // Text rules decode with the rule's encoding; the composite sniffs nothing
    // once a rule applies, whatever the bytes.
    void encodings_data()
    {
        QTest::addColumn<QString>("encodingName");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QString>("text");

        const QString ete = QString("été");
        const QByteArray utf16le = QByteArray::fromHex("e9007400e900");
        const QByteArray utf16be = QByteArray::fromHex("00e9007400e9");
        const QByteArray utf32le = QByteArray::fromHex("e900000074000000e9000000");
        const QByteArray utf32be = QByteArray::fromHex("000000e900000074000000e9");

        QTest::newRow("default") << "" << ete.toUtf8() << int(QStringConverter::Utf8) << ete;
        QTest::newRow("UTF-8") << "UTF-8" << ete.toUtf8() << int(QStringConverter::Utf8) << ete;
        QTest::newRow("UTF-8 with BOM") << "UTF-8" << QByteArray::fromHex("efbbbf") + ete.toUtf8()
                                        << int(QStringConverter::Utf8) << ete;
        QTest::newRow("utf8 spelled loosely") << "utf8" << ete.toUtf8() << int(QStringConverter::Utf8) << ete;
        QTest::newRow("UTF-16 little-endian BOM") << "UTF-16" << QByteArray::fromHex("fffe") + utf16le
                                                  << int(QStringConverter::Utf16) << ete;
        QTest::newRow("UTF-16 big-endian BOM") << "UTF-16" << QByteArray::fromHex("feff") + utf16be
                                               << int(QStringConverter::Utf16) << ete;
        QTest::newRow("UTF-16 without BOM is host order")
            << "UTF-16" << (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? utf16le : utf16be)
            << int(QStringConverter::Utf16) << ete;
        QTest::newRow("UTF-16LE") << "UTF-16LE" << utf16le << int(QStringConverter::Utf16LE) << ete;
        QTest::newRow("UTF-16LE with BOM") << "UTF-16LE" << QByteArray::fromHex("fffe") + utf16le
                                           << int(QStringConverter::Utf16LE) << ete;
        QTest::newRow("UTF-16BE") << "UTF-16BE" << utf16be << int(QStringConverter::Utf16BE) << ete;
        QTest::newRow("UTF-32 little-endian BOM") << "UTF-32" << QByteArray::fromHex("fffe0000") + utf32le
                                                  << int(QStringConverter::Utf32) << ete;
        QTest::newRow("UTF-32 big-endian BOM") << "UTF-32" << QByteArray::fromHex("0000feff") + utf32be
                                               << int(QStringConverter::Utf32) << ete;
        QTest::newRow("UTF-32LE") << "UTF-32LE" << utf32le << int(QStringConverter::Utf32LE) << ete;
        QTest::newRow("UTF-32BE") << "UTF-32BE" << utf32be << int(QStringConverter::Utf32BE) << ete;
        QTest::newRow("UTF-32BE with BOM") << "UTF-32BE" << QByteArray::fromHex("0000feff") + utf32be
                                           << int(QStringConverter::Utf32BE) << ete;
        QTest::newRow("ISO-8859-1") << "ISO-8859-1" << QByteArray::fromHex("e974e9") << int(QStringConverter::Latin1)
                                    << ete;
        QTest::newRow("latin1") << "latin1" << QByteArray::fromHex("e9") << int(QStringConverter::Latin1) << "é";
        QTest::newRow("unknown name falls back to UTF-8")
            << "EBCDIC-1047" << ete.toUtf8() << int(QStringConverter::Utf8) << ete;
        QTest::newRow("malformed UTF-8 becomes replacement characters")
            << "UTF-8" << QByteArray("a\xff" "b") << int(QStringConverter::Utf8) << QString("a\uFFFDb");
        QTest::newRow("incomplete UTF-8 character at the end is left out")
            << "UTF-8" << QByteArray("ab\xc3") << int(QStringConverter::Utf8) << "ab";
        QTest::newRow("incomplete UTF-16 unit at the end is left out")
            << "UTF-16LE" << utf16le + QByteArray(1, 'x') << int(QStringConverter::Utf16LE) << ete;
        QTest::newRow("binary bytes decoded all the same")
            << "ISO-8859-1" << QByteArray("\x01\x00\x02", 3) << int(QStringConverter::Latin1)
            << QString::fromLatin1("\x01\x00\x02", 3);
    }

    void encodings()
    {
        QFETCH(QString, encodingName);
        QFETCH(QByteArray, value);
        QFETCH(int, encoding);
        QFETCH(QString, text);

        const ConfigurableDeserializer deserializer(rule("", ContentType::Text, {}, {}, encodingName), nullptr);
        QCOMPARE(int(deserializer.encoding()), encoding);
        const auto result = deserializer.deserializeRecord(record("t", value));
        QCOMPARE(describe(result), "Text " + text);
        QVERIFY(result.value().data.isNull());
    }

    // A rule's result carries its content type; nothing is validated.
    void contentTypes_data()
    {
        QTest::addColumn<int>("contentType");
        QTest::addColumn<QString>("expected");

        QTest::newRow("Json over text that is not JSON") << int(ContentType::Json) << "Json caf\u00e9";
        QTest::newRow("Xml over text that is not XML") << int(ContentType::Xml) << "Xml caf\u00e9";
        QTest::newRow("Text") << int(ContentType::Text) << "Text caf\u00e9";
        QTest::newRow("Binary") << int(ContentType::Binary) << "Binary 636166c3a9";
        QTest::newRow("Protobuf without schemas")
            << int(ContentType::Protobuf) << "error 44: No Protocol Buffers deserializer available";
        QTest::newRow("outside the enumeration") << 7 << "error 44: Unhandled content type ";
    }

    void contentTypes()
    {
        QFETCH(int, contentType);
        QFETCH(QString, expected);

        const KafkaRecord kafkaRecord = record("t", QString("café").toUtf8());
        const ConfigurableDeserializer deserializer(rule("", static_cast<ContentType>(contentType)), nullptr);
        const auto result = deserializer.deserializeRecord(kafkaRecord);
        QCOMPARE(describe(result), expected);
        if (result.hasValue() && result.value().contentType == ContentType::Binary) {
            QVERIFY(result.value().text.isNull());
            QCOMPARE(result.value().data.constData(), kafkaRecord.value.constData());
        }
        if (result.isError()) {
            QVERIFY(result.error().causes.isEmpty());
        }
    }

    // A Protocol Buffers rule hands the record to the shared deserializer and
    // returns its answer unchanged, also a failure.
    void protobufRuleUsesSharedDeserializer()
    {
        auto created = ProtobufRecordDeserializer::create(Config::ProtobufDeserializer());
        QVERIFY(created.hasValue());
        const std::unique_ptr<ProtobufRecordDeserializer> protobuf = std::move(created).value();

        Config::Deserializer byHeader = rule("", ContentType::Protobuf);
        byHeader.protobufMessageTypeHeader = "message-type";
        Config::Deserializer byName = rule("", ContentType::Protobuf);
        byName.protobufMessageType = "skelvane.test.Missing";

        const KafkaRecord kafkaRecord = record("t", QByteArray("\x08\x01", 2));
        QCOMPARE(describe(ConfigurableDeserializer(byHeader, protobuf.get()).deserializeRecord(kafkaRecord)),
            "error 44: The Protocol Buffers message type header was not found: message-type");
        const CompositeDeserializer composite(configurable({byName}, protobuf.get()));
        const auto result = composite.deserializeRecord(kafkaRecord);
        QCOMPARE(describe(result),
            "error 44: Protobuf deserialization failed for record with message type skelvane.test.Missing");
        QCOMPARE(result.error().causes.size(), 1);
    }
};

QTEST_GUILESS_MAIN(RecordDeserializerTest)
#include "RecordDeserializerTest.moc"
