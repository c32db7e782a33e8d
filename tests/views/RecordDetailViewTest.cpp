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
#include <QTableView>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

namespace {

KafkaRecord record(const QString& topic, const QByteArray& value)
{
    return {0, 0, topic, 0, 0, QByteArray(), value, {{QStringLiteral("trace-id"), QByteArray("4bf92f35")}}};
}

// Topics starting with "proto" need Protocol Buffers schemas, of which there are none.
CompositeDeserializer deserializer()
{
    Config::Deserializer protobuf;
    protobuf.topicPattern = QRegularExpression(QStringLiteral("^proto"));
    protobuf.contentType = Config::ContentType::Protobuf;
    return CompositeDeserializer({ConfigurableDeserializer(protobuf, nullptr)});
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
    for (QTextBlock block = text->document()->firstBlock(); block.isValid(); block = block.next())
        if (!block.layout()->formats().isEmpty())
            return true;
    return false;
}

} // namespace

class RecordDetailViewTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
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
};

QTEST_MAIN(RecordDetailViewTest)

#include "RecordDetailViewTest.moc"
