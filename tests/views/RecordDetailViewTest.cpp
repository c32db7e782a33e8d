#include "CompositeDeserializer.h"
#include "ErrorLabel.h"
#include "PinnedLocale.h"
#include "QHexView.h"
#include "RecordDetailView.h"
#include "Screenshot.h"
#include "TextUtils.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QStringEncoder>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

#include <algorithm>

namespace {

KafkaRecord record(const QString& topic, const QByteArray& value)
{
    return {0, 0, topic, 0, 0, QByteArray(), value, {{QStringLiteral("trace-id"), QByteArray("4bf92f35")}}};
}

// Topics starting with "proto" need Protocol Buffers schemas, of which there
// are none; topics starting with "latin" hold Latin-1 text, "xml" XML and
// "latin-xml" XML in Latin-1.
CompositeDeserializer deserializer()
{
    Config::Deserializer protobuf;
    protobuf.topicPattern = QRegularExpression(QStringLiteral("^proto"));
    protobuf.contentType = Config::ContentType::Protobuf;
    Config::Deserializer latinXml;
    latinXml.topicPattern = QRegularExpression(QStringLiteral("^latin-xml"));
    latinXml.contentType = Config::ContentType::Xml;
    latinXml.textEncoding = QStringLiteral("ISO-8859-1");
    Config::Deserializer latin;
    latin.topicPattern = QRegularExpression(QStringLiteral("^latin"));
    latin.contentType = Config::ContentType::Text;
    latin.textEncoding = QStringLiteral("ISO-8859-1");
    Config::Deserializer xml;
    xml.topicPattern = QRegularExpression(QStringLiteral("^xml"));
    xml.contentType = Config::ContentType::Xml;
    return CompositeDeserializer({ConfigurableDeserializer(protobuf, nullptr), ConfigurableDeserializer(latinXml, nullptr),
        ConfigurableDeserializer(latin, nullptr), ConfigurableDeserializer(xml, nullptr)});
}

QByteArray utf16(const QString& text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder.encode(text);
}

// A JSON document of about `size` bytes on one line.
QByteArray jsonOfSize(qsizetype size)
{
    QByteArray json = "[";
    for (int i = 0; json.size() < size; ++i)
        json += (i > 0 ? ",{\"id\":" : "{\"id\":") + QByteArray::number(i) + ",\"name\":\"order\"}";
    return json + "]";
}

// What the hex view copies on select-all; null when it copies nothing.
QByteArray copiedHex(QHexView* hex)
{
    QApplication::clipboard()->setText(QStringLiteral("untouched"));
    QTest::keySequence(hex, QKeySequence::SelectAll);
    QTest::keySequence(hex, QKeySequence::Copy);
    const QString copied = QApplication::clipboard()->text();
    return copied == QLatin1String("untouched") ? QByteArray() : QByteArray::fromHex(copied.toLatin1());
}

// Whether no line is longer than the view's display limit.
bool linesFit(const QStringList& lines)
{
    return std::all_of(lines.cbegin(), lines.cend(),
        [](const QString& line) { return line.size() <= RecordDetailView::DisplayLineLimit; });
}

bool highlighted(const QPlainTextEdit* text)
{
    for (QTextBlock block = text->document()->firstBlock(); block.isValid(); block = block.next())
        if (!block.layout()->formats().isEmpty())
            return true;
    return false;
}

// Shows `shown` in `view`, sized and exposed, through the test's rules; the
// view's text view, or null when the view did not show.
QPlainTextEdit* showInView(RecordDetailView& view, const KafkaRecord& shown)
{
    view.resize(520, 420);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return nullptr;
    view.showRecord(shown, deserializer());
    return view.findChild<QPlainTextEdit*>();
}

// A decoder that refuses every value, saying why.
class RefusingDeserializer : public RecordDeserializer {
public:
    Result<DeserializedRecord, KafkaError> deserializeRecord(const KafkaRecord&) const override
    {
        return KafkaError(KafkaErrorCode::RecordDeserializationError, QStringLiteral("Not decoded"),
            {KafkaError(KafkaErrorCode::ProtobufInvalidArgument, QStringLiteral("first reason")),
                KafkaError(KafkaErrorCode::ProtobufNotFound, QStringLiteral("second\u202Ereason"))});
    }
};

} // namespace

class RecordDetailViewTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    // A value that does not decode says why, below what failed; its bytes
    // show in hex.
    void failureShowsItsCauses()
    {
        RecordDetailView view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.showRecord(record(QStringLiteral("orders"), QByteArray("\x7a\x01", 2)), RefusingDeserializer());
        auto* errorLabel = view.findChild<ErrorLabel*>();
        QVERIFY(errorLabel->isVisible());
        QCOMPARE(errorLabel->text().split(QLatin1Char('\n')),
            QStringList({"Not decoded", "first reason", QStringLiteral("second\uFFFDreason")}));
        QCOMPARE(copiedHex(view.findChild<QHexView*>()), QByteArray("\x7a\x01", 2));
    }

    // Each record follows one of the other kind, so the view switches pages;
    // clearing empties everything and stays on the page.
    void showingAndClearing_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("onHexPage");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("highlighted");
        QTest::addColumn<QString>("error");
        const QString xml = prettyPrintXml(QStringLiteral("<order><id>7</id></order>")).value();
        QTest::newRow("json") << "orders" << QByteArray(R"({"id":7})") << false << "{\n  \"id\": 7\n}" << true << "";
        QTest::newRow("xml") << "orders" << QByteArray("<order><id>7</id></order>") << false << xml << true << "";
        QTest::newRow("text") << "orders" << QByteArray("plain words") << false << "plain words" << false << "";
        QTest::newRow("binary") << "orders" << QByteArray("\x00\x01\xfe\xff", 4) << true << "" << false << "";
        QTest::newRow("undecodable") << "proto-orders" << QByteArray("\x08\x07", 2) << true << "" << false
                                     << "No Protocol Buffers deserializer available";
    }

    void showingAndClearing()
    {
        QFETCH(QString, topic);
        QFETCH(QByteArray, value);
        QFETCH(bool, onHexPage);
        QFETCH(QString, text);
        QFETCH(bool, highlighted);
        QFETCH(QString, error);
        RecordDetailView view;
        // Dark like the program's palette, for which the highlighting is made.
        view.setPalette(QPalette(QColor(0x35, 0x37, 0x3c), QColor(0x1f, 0x24, 0x30)));
        view.resize(520, 420);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* textView = view.findChild<QPlainTextEdit*>();
        auto* hexView = view.findChild<QHexView*>();
        auto* errorLabel = view.findChild<ErrorLabel*>();
        auto* headersView = view.findChild<QTableView*>();
        const CompositeDeserializer rules = deserializer();
        view.showRecord(record(QStringLiteral("orders"), onHexPage ? QByteArray("text") : QByteArray(1, '\0')), rules);

        view.showRecord(record(topic, value), rules);
        QCOMPARE(hexView->isVisible(), onHexPage);
        QCOMPARE(textView->isVisible(), !onHexPage);
        QCOMPARE(textView->toPlainText(), text);
        QTRY_COMPARE(::highlighted(textView), highlighted);
        QCOMPARE(errorLabel->isVisible() ? errorLabel->text() : QString(), error);
        QCOMPARE(copiedHex(hexView), onHexPage ? value : QByteArray());
        QCOMPARE(headersView->model()->rowCount(), 1);
        if (highlighted)
            QVERIFY(saveScreenshot(view, QStringLiteral("detail-view-") + QTest::currentDataTag()));

        view.clearRecord();
        QCOMPARE(hexView->isVisible(), onHexPage);
        QCOMPARE(textView->toPlainText(), QString());
        QCOMPARE(copiedHex(hexView), QByteArray());
        QVERIFY(!errorLabel->isVisible() && !headersView->isVisible());
        QCOMPARE(headersView->model()->rowCount(), 0);
    }

    // XML is read in the encoding it declares or its byte-order mark names,
    // unless a rule names one; JSON numbers are shown as written, also those
    // that no double or 64-bit integer holds, and strings may hold NULs. Each
    // value is formatted and highlighted.
    void formattedAsWritten_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("shown");
        const auto declared = [](const char* encoding) {
            return QByteArray("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>";
        };
        const QString utf8Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        const QString cafe = utf8Declaration + "<a>\n  <b>café</b>\n</a>\n";
        QTest::newRow("ISO-8859-1") << "orders" << declared("ISO-8859-1") + "<a><b>caf\xE9</b></a>" << cafe;
        QTest::newRow("windows-1252") << "orders" << declared("windows-1252") + "<a><b>\x93" "caf\xE9\x94 \x80</b></a>"
                                      << utf8Declaration + "<a>\n  <b>“café” €</b>\n</a>\n";
        const QString utf16Document = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a><b>café</b></a>";
        QTest::newRow("UTF-16 little-endian with BOM") << "orders" << utf16(utf16Document, QStringConverter::Utf16LE)
                                                       << cafe;
        QTest::newRow("UTF-16 big-endian with BOM") << "orders" << utf16(utf16Document, QStringConverter::Utf16BE)
                                                    << cafe;
        QTest::newRow("UTF-16 with BOM, no declaration")
            << "orders" << utf16("<a><b>café</b></a>", QStringConverter::Utf16LE) << cafe;
        QTest::newRow("UTF-16 with BOM by an XML rule")
            << "xml-orders" << utf16(utf16Document, QStringConverter::Utf16BE) << cafe;
        QTest::newRow("UTF-8") << "orders" << declared("UTF-8") + "<a><b>caf\xC3\xA9</b></a>" << cafe;
        QTest::newRow("UTF-8 with BOM") << "orders" << QByteArray("\xEF\xBB\xBF<a><b>caf\xC3\xA9</b></a>") << cafe;
        QTest::newRow("none") << "orders" << QByteArray("<a><b>caf\xC3\xA9</b></a>") << cafe;
        QTest::newRow("ISO-8859-1 by an XML rule") << "xml-orders" << declared("ISO-8859-1") + "<a><b>caf\xE9</b></a>"
                                                   << cafe;
        QTest::newRow("named by the rule over the declaration")
            << "latin-xml" << declared("UTF-8") + "<a><b>caf\xE9</b></a>" << cafe;

        QTest::newRow("JSON integers beyond 64 bits")
            << "orders"
            << QByteArray(R"({"ids":[9223372036854775808,18446744073709551615,-9223372036854775809],)"
                          R"("n":{"big":123456789012345678901234567890,"s":"18446744073709551616"}})")
            << "{\n  \"ids\": [\n    9223372036854775808,\n    18446744073709551615,\n    -9223372036854775809\n  ],\n"
               "  \"n\": {\n    \"big\": 123456789012345678901234567890,\n    \"s\": \"18446744073709551616\"\n  }\n}";
        QTest::newRow("JSON reals")
            << "orders"
            << QByteArray(R"({"amount":12345678901234567.89,"rate":1.10,"sci":6.02214076e23,"big":9007199254740993.0,)"
                          R"("small":[0.1000000000000000055511151231257827,1e-400,-0],"f":1.0e400})")
            << "{\n  \"amount\": 12345678901234567.89,\n  \"rate\": 1.10,\n  \"sci\": 6.02214076e23,\n"
               "  \"big\": 9007199254740993.0,\n  \"small\": [\n    0.1000000000000000055511151231257827,\n    1e-400,\n"
               "    -0\n  ],\n  \"f\": 1.0e400\n}";
        QTest::newRow("JSON string with a NUL")
            << "orders" << QByteArray("{\"s\":\"a\\u0000b\",\"n\":2.50}") << "{\n  \"s\": \"a\\u0000b\",\n  \"n\": 2.50\n}";
    }

    void formattedAsWritten()
    {
        QFETCH(QString, topic);
        QFETCH(QByteArray, value);
        QFETCH(QString, shown);
        RecordDetailView view;
        QPlainTextEdit* textView = showInView(view, record(topic, value));
        QVERIFY(textView != nullptr && textView->isVisible());
        QCOMPARE(textView->toPlainText(), shown);
        QTRY_VERIFY(::highlighted(textView));
        QVERIFY(saveScreenshot(view, QStringLiteral("detail-view-as-written-") + QTest::currentDataTag()));
    }

    // A value is pretty-printed and highlighted up to a size (and while its
    // pretty-printed text stays within the shown limit); above it shown as it
    // came, not highlighted; above a larger one only its first part is decoded
    // and shown, cut at a character boundary, with a last line giving the size
    // left out. Whatever path made the text, no line is longer than the
    // display limit: lines that fit are shown as they are, longer ones broken
    // with nothing else changed.
    void largeValues_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("highlighted");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<qint64>("omittedBytes");
        const QByteArray oneMegabyte = jsonOfSize(1000 * 1000);
        QTest::newRow("1 MB of JSON") << "orders" << oneMegabyte << true << prettyPrintJson(oneMegabyte).value()
                                      << qint64(0);
        const QByteArray unformatted = jsonOfSize(RecordDetailView::FormattedValueLimit + 1);
        // Each array 1,000 deep takes some two million blanks of indentation.
        const QByteArray nested = "[" + QByteArrayList(10, QByteArray(1000, '[') + QByteArray(1000, ']')).join(',') + "]";
        QTest::newRow("deeply nested JSON") << "orders" << nested << false << QString::fromUtf8(nested) << qint64(0);
        const QByteArray tooDeep = QByteArray(300000, '[') + QByteArray(300000, ']');
        QTest::newRow("JSON nested too deep to parse")
            << "orders" << tooDeep << false << QString::fromUtf8(tooDeep) << qint64(0);
        const QByteArray longString = "{\"id\":7,\"data\":\"" + QByteArray(3 * RecordDetailView::DisplayLineLimit, 'd') + "\"}";
        QTest::newRow("JSON with a long string") << "orders" << longString << true
                                                << prettyPrintJson(longString).value() << qint64(0);
        QByteArray invalid = jsonOfSize(100 * 1000);
        invalid.insert(invalid.size() - 1, ',');
        QTest::newRow("JSON that does not parse, on one line")
            << "orders" << invalid << true << QString::fromUtf8(invalid) << qint64(0);
        const QByteArray longText = "<order><note>" + QByteArray(3 * RecordDetailView::DisplayLineLimit, 'n') + "</note></order>";
        QTest::newRow("XML with a long text") << "orders" << longText << true
                                             << prettyPrintXml(QString::fromUtf8(longText)).value() << qint64(0);
        const QByteArray deepXml = QByteArray("<a>").repeated(5000) + QByteArray("</a>").repeated(5000);
        QTest::newRow("XML nested too deep to parse")
            << "orders" << deepXml << true << QString::fromUtf8(deepXml) << qint64(0);
        QByteArray csv;
        for (int i = 0; csv.size() < 100 * 1000; ++i)
            csv += QByteArray::number(i) + ',';
        QTest::newRow("text on one line") << "orders" << csv << false << QString::fromUtf8(csv) << qint64(0);
        QTest::newRow("JSON above the formatting limit")
            << "orders" << unformatted << false << QString::fromUtf8(unformatted) << qint64(0);
        const qsizetype limit = RecordDetailView::ShownValueLimit;
        const QByteArray cut = jsonOfSize(limit + 3 * 1024 * 1024);
        QTest::newRow("JSON above the shown limit") << "orders" << cut << false << QString::fromUtf8(cut.first(limit))
                                                   << qint64(cut.size() - limit);
        // The two bytes of a character straddle the limit.
        const QByteArray words = QByteArray(limit - 1, 'w') + QByteArray("\xC3\xA9").repeated(1024);
        QTest::newRow("UTF-8 text cut before a character")
            << "orders" << words << false << QString(limit - 1, QLatin1Char('w')) << qint64(2049);
        const QByteArray latin = QByteArray(limit + 10, '\xE9');
        QTest::newRow("Latin-1 text by a rule") << "latin" << latin << false
                                                << QString(limit, QChar(0xE9)) << qint64(10);
    }

    void largeValues()
    {
        QFETCH(QString, topic);
        QFETCH(QByteArray, value);
        QFETCH(bool, highlighted);
        QFETCH(QString, shown);
        QFETCH(qint64, omittedBytes);
        RecordDetailView view;
        QPlainTextEdit* textView = showInView(view, record(topic, value));
        QVERIFY(textView != nullptr && textView->isVisible());
        QStringList lines = textView->toPlainText().split(QLatin1Char('\n'));
        if (omittedBytes > 0) {
            const QString last = lines.takeLast();
            QVERIFY2(last.contains(QLocale().formattedDataSize(omittedBytes, 1, QLocale::DataSizeTraditionalFormat)),
                qPrintable(last.left(80)));
            textView->moveCursor(QTextCursor::End);
            QVERIFY(saveScreenshot(view, QStringLiteral("detail-view-cut-") + QTest::currentDataTag()));
        }
        QVERIFY(linesFit(lines));
        if (linesFit(shown.split(QLatin1Char('\n')))) {
            QCOMPARE(lines.join(QLatin1Char('\n')), shown);
        } else {
            QCOMPARE(lines.join(QString()), QString(shown).remove(QLatin1Char('\n')));
        }
        if (highlighted) {
            QTRY_VERIFY(::highlighted(textView));
        } else {
            QTest::qWait(50);
            QVERIFY(!::highlighted(textView));
        }
    }
};

QTEST_MAIN(RecordDetailViewTest)

#include "RecordDetailViewTest.moc"
