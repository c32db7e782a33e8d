#include "CompositeDeserializer.h"
#include "ErrorLabel.h"
#include "PinnedLocale.h"
#include "QHexView.h"
#include "RecordDetailView.h"
#include "Screenshot.h"
#include "TextUtils.h"

#include <QApplication>
#include <QClipboard>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

namespace {

KafkaRecord record(const QString& topic, const QByteArray& value, const QList<KafkaHeader>& headers = {})
{
    return {0, 0, topic, 0, 0, QByteArray(), value, headers};
}

// Values of topics starting with "json" are JSON; those starting with "proto"
// need Protocol Buffers schemas, of which there are none; all others are
// recognised by their content.
CompositeDeserializer deserializer()
{
    Config::Deserializer json;
    json.topicPattern = QRegularExpression(QStringLiteral("^json"));
    json.contentType = Config::ContentType::Json;
    Config::Deserializer protobuf;
    protobuf.topicPattern = QRegularExpression(QStringLiteral("^proto"));
    protobuf.contentType = Config::ContentType::Protobuf;
    return CompositeDeserializer({ConfigurableDeserializer(json, nullptr), ConfigurableDeserializer(protobuf, nullptr)});
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

bool highlighted(const QPlainTextEdit* text)
{
    for (QTextBlock block = text->document()->firstBlock(); block.isValid(); block = block.next()) {
        if (!block.layout()->formats().isEmpty()) {
            return true;
        }
    }
    return false;
}

} // namespace

class RecordDetailViewTest : public QObject {
    Q_OBJECT

public:
    // Before the application object exists.
    static void initMain()
    {
        pinTimeZoneAndLocale();
    }

private slots:
    // Each record comes after one of the other kind (binary after text, text
    // after binary), so the view switches pages; clearing then empties
    // everything and stays on the page.
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
        QTest::newRow("bad json") << "json-orders" << QByteArray(R"({"id":7)") << false << R"({"id":7)" << true << "";
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
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto* textView = view.findChild<QPlainTextEdit*>();
        auto* hexView = view.findChild<QHexView*>();
        auto* errorLabel = view.findChild<ErrorLabel*>();
        auto* headersView = view.findChild<QTableView*>();
        const CompositeDeserializer rules = deserializer();
        view.showRecord(record(QStringLiteral("orders"), onHexPage ? QByteArray("text") : QByteArray(1, '\0')), rules);
        QVERIFY(!headersView->isVisible());

        view.showRecord(record(topic, value, {{QStringLiteral("trace"), QByteArray("b7")}}), rules);
        QCOMPARE(hexView->isVisible(), onHexPage);
        QCOMPARE(textView->isVisible(), !onHexPage);
        QCOMPARE(textView->toPlainText(), text);
        QTRY_COMPARE(::highlighted(textView), highlighted);
        QCOMPARE(errorLabel->isVisible() ? errorLabel->text() : QString(), error);
        QCOMPARE(copiedHex(hexView), onHexPage ? value : QByteArray());
        QVERIFY(headersView->isVisible());
        QCOMPARE(headersView->model()->rowCount(), 1);

        view.clearRecord();
        QCOMPARE(hexView->isVisible(), onHexPage);
        QCOMPARE(textView->toPlainText(), QString());
        QCOMPARE(copiedHex(hexView), QByteArray());
        QVERIFY(!errorLabel->isVisible() && !headersView->isVisible());
        QCOMPARE(headersView->model()->rowCount(), 0);
    }

    void screenshot()
    {
        RecordDetailView view;
        // Dark like the program's palette, for which the highlighting is made.
        QPalette dark(QColor(0x35, 0x37, 0x3c), QColor(0x2b, 0x2d, 0x31));
        dark.setColor(QPalette::Base, QColor(0x1f, 0x24, 0x30));
        view.setPalette(dark);
        view.resize(520, 420);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QByteArray json = R"({"order":{"id":7,"customer":"c-19","paid":true,"discount":null,)"
                                R"("lines":[{"sku":"A-1","quantity":2,"price":9.5},{"sku":"B-7","quantity":1}]}})";
        view.showRecord(record(QStringLiteral("orders"), json,
                            {{QStringLiteral("trace-id"), QByteArray("4bf92f3577b34da6")},
                                {QStringLiteral("content-type"), QByteArray("application/json")}}),
            deserializer());
        QTRY_VERIFY(highlighted(view.findChild<QPlainTextEdit*>()));
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(view, QStringLiteral("detail-view-json")));
    }
};

QTEST_MAIN(RecordDetailViewTest)

#include "RecordDetailViewTest.moc"
