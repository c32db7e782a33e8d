#include "CompositeDeserializer.h"
#include "ConfigurableDeserializer.h"

#include <QStringEncoder>
#include <QTest>

#include <algorithm>

Q_DECLARE_METATYPE(QList<Config::Deserializer>)
Q_DECLARE_METATYPE(QList<KafkaHeader>)

namespace {

using ContentType = Config::ContentType;
using Rules = QList<Config::Deserializer>;
using Headers = QList<KafkaHeader>;

Config::Deserializer rule(const QString& topicPattern, ContentType contentType, const QString& headerName = {},
    const QString& headerPattern = {}, const QString& encoding = {})
{
    return {QRegularExpression(topicPattern), headerName, QRegularExpression(headerPattern), contentType, encoding, {}, {}};
}

KafkaRecord record(const QString& topic, const QByteArray& value, const Headers& headers = {})
{
    return KafkaRecord {.topic = topic, .key = {}, .value = value, .headers = headers};
}

// One line per outcome: "Binary <hex>", "<type> <text>" or "error <code>: <message>".
QString describe(const Result<DeserializedRecord, KafkaError>& result)
{
    if (result.isError())
        return QString("error %1: %2").arg(QString::number(int(result.error().code)), result.error().message);
    const DeserializedRecord& deserialized = result.value();
    const QString type = QString::fromUtf8(Config::contentTypeName(deserialized.contentType));
    const bool binary = deserialized.contentType == ContentType::Binary;
    return QString("%1 %2").arg(type, binary ? QString::fromLatin1(deserialized.data.toHex()) : deserialized.text);
}

} // namespace

class RecordDeserializerTest : public QObject {
    Q_OBJECT

private slots:
    // Sniffing (no rule applies: the first 200 bytes decide), rule selection
    // and every text encoding.
    void deserialize_data()
    {
        QTest::addColumn<Rules>("rules");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<Headers>("headers");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const Rules& rules, const QByteArray& value, const QString& expected,
                             const Headers& headers = {}, const QString& topic = "orders") {
            QTest::newRow(name) << rules << topic << headers << value << expected;
        };
        const auto sniff = [&](const char* name, const QByteArray& value, const QString& expected) {
            row(name, {rule("^other$", ContentType::Xml)}, value, expected);
        };
        const auto a = [](qsizetype count) { return QByteArray(count, 'a'); };
        const auto hexA = [](qsizetype count) { return QString("61").repeated(count); };

        sniff("empty", "", "Binary ");
        sniff("tab, newline, return and DEL are printable", "a\tb\nc\rd\x7f", "Text a\tb\nc\rd\x7f");
        sniff("vertical tab is not printable", "\x0b" "abcd", "Binary 0b61626364");
        sniff("39 of 200 not printable", a(161) + QByteArray(39, '\x01'), "Text " + QString(161, 'a') + QString(39, QChar(1)));
        sniff("40 of 200 not printable", a(160) + QByteArray(40, '\x01'),
            "Binary " + hexA(160) + QString("01").repeated(40));
        sniff("binary after the first 200 bytes", a(200) + QByteArray(100, '\x01'),
            "Text " + QString(200, 'a') + QString(100, QChar(1)));
        sniff("zero byte at 199", a(199) + QByteArray(1, '\0') + a(100), "Binary " + hexA(199) + "00" + hexA(100));
        sniff("zero byte at 200", a(200) + QByteArray(1, '\0'), "Text " + QString(200, 'a') + QChar(0));
        const QByteArray accented = QString("été à Noël").toUtf8();
        sniff("mostly non-ASCII UTF-8", accented, "Binary " + QString::fromLatin1(accented.toHex()));
        sniff("object between blanks", "  {\"a\":1}\n", "Json   {\"a\":1}\n");
        sniff("array", "[1,2]", "Json [1,2]");
        sniff("unclosed array", "[1,2", "Text [1,2");
        sniff("mismatched brackets", "{1]", "Text {1]");
        sniff("JSON test comes first", "[<a>]", "Json [<a>]");
        sniff("element between blanks", "\t<a/>\r\n", "Xml \t<a/>\r\n");
        sniff("declaration", "<?xml and then anything", "Xml <?xml and then anything");
        sniff("unclosed tag", "<a", "Text <a");
        // After a byte-order mark the text is decoded by it; only XML is taken for text.
        const auto marked = [](QStringConverter::Encoding encoding, const QString& text) {
            QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
            return QByteArray(encoder.encode(text));
        };
        sniff("XML after a UTF-16 little-endian byte-order mark", marked(QStringConverter::Utf16LE, " <a>été</a>\n"),
            "Xml  <a>été</a>\n");
        sniff("XML after a UTF-16 big-endian byte-order mark", marked(QStringConverter::Utf16BE, "<a>été</a>"),
            "Xml <a>été</a>");
        sniff("declaration after a UTF-32 byte-order mark", marked(QStringConverter::Utf32LE, "<?xml and then"),
            "Xml <?xml and then");
        sniff("XML after a UTF-8 byte-order mark", marked(QStringConverter::Utf8, "<a>" + QString(300, 'x') + "</a>"),
            "Xml <a>" + QString(300, 'x') + "</a>");
        sniff("unclosed tag after a byte-order mark", marked(QStringConverter::Utf16LE, "<a"),
            "Binary " + QString::fromLatin1(marked(QStringConverter::Utf16LE, "<a").toHex()));
        sniff("text after a UTF-16 byte-order mark", marked(QStringConverter::Utf16LE, "hello"),
            "Binary " + QString::fromLatin1(marked(QStringConverter::Utf16LE, "hello").toHex()));
        row("XML rule reads a byte-order mark", {rule("", ContentType::Xml)}, marked(QStringConverter::Utf16LE, "<a/>"),
            "Xml <a/>");
        row("XML rule naming an encoding", {rule("", ContentType::Xml, {}, {}, "ISO-8859-1")},
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xE9</a>",
            "Xml <?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\u00e9</a>");

        // XML that no rule names an encoding for is read by its declaration
        // when Qt knows the encoding and it reads the declaration as written;
        // otherwise as UTF-8. Only a declaration at the very start counts.
        const auto declared = [](const char* encoding) {
            return QByteArray("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>";
        };
        const QString latin1 = declared("ISO-8859-1");
        const QByteArray cafeLatin1 = "<a>caf\xE9</a>";
        sniff("declared ISO-8859-1", declared("ISO-8859-1") + cafeLatin1, "Xml " + latin1 + "<a>café</a>");
        sniff("declared windows-1252, single quotes, standalone",
            "<?xml version='1.0' encoding='windows-1252' standalone='yes' ?><a>caf\xE9 \x80</a>",
            "Xml <?xml version='1.0' encoding='windows-1252' standalone='yes' ?><a>café €</a>");
        sniff("declared UTF-8", declared("UTF-8") + "<a>caf\xC3\xA9</a>", "Xml " + declared("UTF-8") + "<a>café</a>");
        sniff("declared utf-8 read with invalid bytes", declared("utf-8") + cafeLatin1,
            "Xml " + declared("utf-8") + "<a>caf\uFFFD</a>");
        sniff("undeclared", "<a>caf\xC3\xA9</a>", "Xml <a>café</a>");
        sniff("declaration without an encoding", "<?xml version=\"1.0\"?>" + cafeLatin1,
            "Xml <?xml version=\"1.0\"?><a>caf\uFFFD</a>");
        sniff("unknown encoding name", declared("x-no-such") + "<a>caf\xC3\xA9</a>",
            "Xml " + declared("x-no-such") + "<a>café</a>");
        sniff("UTF-8 bytes labelled UTF-16", declared("UTF-16") + "<a>caf\xC3\xA9</a>",
            "Xml " + declared("UTF-16") + "<a>café</a>");
        sniff("ASCII bytes labelled EBCDIC", declared("IBM037") + "<a>caf\xC3\xA9</a>",
            "Xml " + declared("IBM037") + "<a>café</a>");
        sniff("malformed declaration", "<?xml encoding=\"ISO-8859-1\"?>" + cafeLatin1,
            "Xml <?xml encoding=\"ISO-8859-1\"?><a>caf\uFFFD</a>");
        sniff("declaration after a blank", " " + declared("ISO-8859-1") + cafeLatin1,
            "Xml  " + latin1 + "<a>caf\uFFFD</a>");
        const QByteArray farDeclaration = "<?xml version=\"1.0\"" + QByteArray(200, ' ') + "encoding=\"ISO-8859-1\"?>";
        sniff("encoding beyond the first 200 bytes", farDeclaration + cafeLatin1,
            "Xml " + QString::fromLatin1(farDeclaration) + "<a>caf\uFFFD</a>");
        sniff("byte-order mark before the declaration", marked(QStringConverter::Utf8, latin1 + "<a>café</a>"),
            "Xml " + latin1 + "<a>café</a>");
        row("XML rule reads the declaration", {rule("", ContentType::Xml)}, declared("ISO-8859-1") + cafeLatin1,
            "Xml " + latin1 + "<a>café</a>");
        row("XML rule naming an encoding Qt does not know reads the declaration",
            {rule("", ContentType::Xml, {}, {}, "windows-1252")}, declared("windows-1252") + "<a>\x80</a>",
            "Xml " + declared("windows-1252") + "<a>€</a>");
        row("text rule ignores a declaration", {rule("", ContentType::Text)}, declared("ISO-8859-1") + cafeLatin1,
            "Text " + latin1 + "<a>caf\uFFFD</a>");

        const Rules xmlOnType = {rule("", ContentType::Xml, "type", "xml")};
        row("topic matches anywhere", {rule("orders", ContentType::Binary)}, "hello", "Binary 68656c6c6f", {},
            "eu.orders.v1");
        row("anchored topic pattern", {rule("^orders$", ContentType::Binary)}, "hello", "Text hello", {}, "eu.orders");
        row("first applicable rule decides, unvalidated",
            {rule("^payments", ContentType::Binary), rule("orders", ContentType::Xml), rule("ord", ContentType::Json)},
            "hello", "Xml hello");
        row("failing rule does not fall through", {rule("orders", ContentType::Protobuf), rule("", ContentType::Text)},
            "hello", "error 44: No Protocol Buffers deserializer available");
        row("failing rule that does not apply", {rule("payments", ContentType::Protobuf), rule("", ContentType::Json)},
            "hello", "Json hello");
        row("content type outside the enumeration", {rule("", static_cast<ContentType>(7))}, "hello",
            "error 44: Unhandled content type ");
        row("header matches", xmlOnType, "hello", "Xml hello", Headers {{"type", "text/xml"}});
        row("header does not match", xmlOnType, "hello", "Text hello", Headers {{"type", "json"}});
        row("header name is case-sensitive", xmlOnType, "hello", "Text hello", Headers {{"Type", "xml"}});
        row("only the first header of the name counts", xmlOnType, "hello", "Text hello",
            Headers {{"type", "json"}, {"type", "xml"}});
        row("empty header value", {rule("", ContentType::Xml, "type", "^$")}, "hello", "Text hello", Headers {{"type", ""}});
        row("null header value", {rule("", ContentType::Xml, "type", "")}, "hello", "Text hello",
            Headers {{"type", QByteArray()}});
        row("topic must match as well", {rule("^orders$", ContentType::Xml, "type", "xml")}, "hello", "Text hello",
            Headers {{"type", "xml"}}, "payments");
        row("header rule falls to the next rule", {rule("", ContentType::Xml, "type", "xml"), rule("", ContentType::Json)},
            "hello", "Json hello");

        // Text rules decode with the rule's encoding, whatever the bytes.
        const auto text = [&](const char* name, const QString& encoding, const QByteArray& value,
                              const QString& expected = QString("été")) {
            row(name, {rule("", ContentType::Text, {}, {}, encoding)}, value, "Text " + expected);
        };
        const QString ete = "été";
        const QByteArray utf16le = QByteArray::fromHex("e9007400e900");
        const QByteArray utf16be = QByteArray::fromHex("00e9007400e9");
        const QByteArray utf32le = QByteArray::fromHex("e900000074000000e9000000");
        const QByteArray utf32be = QByteArray::fromHex("000000e900000074000000e9");
        text("default", "", ete.toUtf8());
        text("UTF-8 with BOM", "UTF-8", QByteArray::fromHex("efbbbf") + ete.toUtf8());
        text("UTF-16 little-endian BOM", "UTF-16", QByteArray::fromHex("fffe") + utf16le);
        text("UTF-16 big-endian BOM", "UTF-16", QByteArray::fromHex("feff") + utf16be);
        text("UTF-16 without BOM is host order", "UTF-16",
            QSysInfo::ByteOrder == QSysInfo::LittleEndian ? utf16le : utf16be);
        text("UTF-16LE", "UTF-16LE", utf16le);
        text("UTF-16LE with BOM", "UTF-16LE", QByteArray::fromHex("fffe") + utf16le);
        text("UTF-16BE", "UTF-16BE", utf16be);
        text("UTF-32 little-endian BOM", "UTF-32", QByteArray::fromHex("fffe0000") + utf32le);
        text("UTF-32 big-endian BOM", "UTF-32", QByteArray::fromHex("0000feff") + utf32be);
        text("UTF-32LE", "UTF-32LE", utf32le);
        text("UTF-32BE", "UTF-32BE", utf32be);
        text("ISO-8859-1, binary bytes all the same", "ISO-8859-1", QByteArray::fromHex("e974e90001"),
            ete + QChar(0) + QChar(1));
        text("unknown name falls back to UTF-8", "EBCDIC-1047", ete.toUtf8());
        text("incomplete character at the end is left out", "UTF-8", "ab\xc3", "ab");
    }

    void deserialize()
    {
        QFETCH(Rules, rules);
        QFETCH(QString, topic);
        QFETCH(Headers, headers);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);

        QList<ConfigurableDeserializer> deserializers;
        for (const Config::Deserializer& configured : rules)
            deserializers.append(ConfigurableDeserializer(configured, nullptr));
        const auto result = CompositeDeserializer(deserializers).deserializeRecord(record(topic, value, headers));
        QCOMPARE(describe(result), expected);
        if (result.isError()) {
            QVERIFY(result.error().causes.isEmpty());
        } else if (result.value().contentType == ContentType::Binary) {
            QVERIFY(result.value().text.isNull());
            QCOMPARE(result.value().data.constData(), value.constData()); // shared, not copied
        } else if (result.value().contentType == ContentType::Xml
            && std::none_of(rules.cbegin(), rules.cend(), [](const auto& r) {
                   return QStringConverter::encodingForName(r.textEncoding.toUtf8().constData()).has_value();
               })) {
            // For the XML parser, which reads the encoding that the bytes tell.
            QCOMPARE(result.value().data.constData(), value.constData());
        } else {
            QVERIFY(result.value().data.isNull());
        }
    }

    // Decoding for showing only a value's first bytes: text is decoded from
    // them alone, cut back to a UTF-8 character boundary, and the bytes left
    // out are counted; the content type still comes from the whole value, and
    // binary results and errors are whole.
    void prefix_data()
    {
        QTest::addColumn<Rules>("rules");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qsizetype>("maxBytes");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<qsizetype>("omittedBytes");
        const Rules none;
        // Enough ASCII that sniffing takes the value for text.
        const QByteArray pad(20, 'x');
        QTest::newRow("all of it") << none << QByteArray("hello") << qsizetype(5) << "Text hello" << qsizetype(0);
        QTest::newRow("sniffed") << none << QByteArray("hello") << qsizetype(2) << "Text he" << qsizetype(3);
        QTest::newRow("type of the whole value") << none << QByteArray("[1,2,3]") << qsizetype(3) << "Json [1,"
                                                 << qsizetype(4);
        QTest::newRow("inside a two-byte character") << none << QByteArray("ab\xC3\xA9" "cd") + pad << qsizetype(3)
                                                     << "Text ab" << qsizetype(24);
        QTest::newRow("inside a three-byte character") << none << QByteArray("a\xE2\x82\xAC" "b") + pad << qsizetype(3)
                                                       << "Text a" << qsizetype(24);
        QTest::newRow("inside a four-byte character") << none << QByteArray("a\xF0\x9F\x98\x80" "b") + pad
                                                      << qsizetype(4) << "Text a" << qsizetype(25);
        QTest::newRow("after a whole character") << none << QByteArray("ab\xC3\xA9" "cd") + pad << qsizetype(4)
                                                 << "Text ab\u00e9" << qsizetype(22);
        QTest::newRow("sniffed binary") << none << QByteArray("\0\1\2", 3) << qsizetype(1) << "Binary 000102"
                                        << qsizetype(0);
        QTest::newRow("UTF-8 rule") << Rules {rule("", ContentType::Xml)} << QByteArray("ab\xC3\xA9" "cd")
                                    << qsizetype(3) << "Xml ab" << qsizetype(4);
        QTest::newRow("Latin-1 rule") << Rules {rule("", ContentType::Text, {}, {}, "ISO-8859-1")}
                                      << QByteArray("\xE9\xE9\xE9") << qsizetype(2) << "Text \u00e9\u00e9"
                                      << qsizetype(1);
        // XML read by its declared encoding is cut where maxBytes says.
        const QByteArray latin1Xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>";
        const QString latin1Declaration = QString::fromLatin1(latin1Xml.first(latin1Xml.indexOf("<a>")));
        QTest::newRow("sniffed XML in its declared encoding")
            << none << latin1Xml << latin1Xml.size() - 4 << "Xml " + latin1Declaration + "<a>café" << qsizetype(4);
        QTest::newRow("XML rule, declared encoding")
            << Rules {rule("", ContentType::Xml)} << latin1Xml << latin1Xml.size() - 3
            << "Xml " + latin1Declaration + "<a>café<" << qsizetype(3);
        QTest::newRow("binary rule") << Rules {rule("", ContentType::Binary)} << QByteArray("hello") << qsizetype(2)
                                     << "Binary 68656c6c6f" << qsizetype(0);
        QTest::newRow("failing rule") << Rules {rule("", ContentType::Protobuf)} << QByteArray("hello")
                                      << qsizetype(2) << "error 44: No Protocol Buffers deserializer available"
                                      << qsizetype(0);
    }

    void prefix()
    {
        QFETCH(Rules, rules);
        QFETCH(QByteArray, value);
        QFETCH(qsizetype, maxBytes);
        QFETCH(QString, expected);
        QFETCH(qsizetype, omittedBytes);
        QList<ConfigurableDeserializer> deserializers;
        for (const Config::Deserializer& configured : rules)
            deserializers.append(ConfigurableDeserializer(configured, nullptr));
        const auto result
            = CompositeDeserializer(deserializers).deserializeRecordPrefix(record("orders", value), maxBytes);
        QCOMPARE(describe(result), expected);
        QCOMPARE(result.isError() ? 0 : result.value().omittedBytes, omittedBytes);
    }

    // Renderings that cannot be decoded in part (Protocol Buffers values) are
    // rendered whole and cut after maxBytes characters, never inside a
    // surrogate pair; the rest is counted in UTF-8 bytes.
    void prefixOfRendering_data()
    {
        QTest::addColumn<QString>("rendering");
        QTest::addColumn<qsizetype>("maxBytes");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<qsizetype>("omittedBytes");
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("short enough") << "{}" << qsizetype(2) << "{}" << qsizetype(0);
        QTest::newRow("cut") << QString::fromUtf8("{\"a\":\"\xC3\xA9\xE2\x82\xAC\"}") << qsizetype(5)
                             << "{\"a\":" << qsizetype(8);
        QTest::newRow("before a surrogate pair") << "ab" + emoji + "c" << qsizetype(3) << "ab" << qsizetype(5);
    }

    void prefixOfRendering()
    {
        QFETCH(QString, rendering);
        QFETCH(qsizetype, maxBytes);
        QFETCH(QString, shown);
        QFETCH(qsizetype, omittedBytes);
        // Renders every value as the same JSON text.
        class Rendering final : public RecordDeserializer {
        public:
            explicit Rendering(QString text)
                : m_text(std::move(text))
            {
            }
            Result<DeserializedRecord, KafkaError> deserializeRecord(const KafkaRecord&) const override
            {
                return DeserializedRecord {ContentType::Json, QByteArray(), m_text};
            }

        private:
            QString m_text;
        };
        const auto result = Rendering(rendering).deserializeRecordPrefix(record("orders", "\x08\x01"), maxBytes);
        QCOMPARE(result.value().text, shown);
        QCOMPARE(result.value().omittedBytes, omittedBytes);
    }
};

QTEST_GUILESS_MAIN(RecordDeserializerTest)
#include "RecordDeserializerTest.moc"
