#include "RecordDetailView.h"

#include "KafkaRecordHeadersModel.h"
#include "RecordDeserializer.h"
#include "SyntaxHighlighter.h"
#include "TextUtils.h"
#include "VisibleText.h"
#include "VisibleTextDelegate.h"
#include "ui_RecordDetailView.h"

#include <utility>

namespace {

constexpr int textPageIndex = 0;
constexpr int hexPageIndex = 1;

// The text with a line break inserted into every line after each
// RecordDetailView::DisplayLineLimit characters (never inside a surrogate
// pair); the text itself, not copied, when no line is that long.
QString withLongLinesBroken(const QString& text)
{
    QString broken;
    qsizetype copied = 0;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n')) {
            lineStart = i + 1;
        } else if (i - lineStart >= RecordDetailView::DisplayLineLimit && !c.isLowSurrogate()) {
            if (broken.isNull()) {
                broken.reserve(text.size() + text.size() / RecordDetailView::DisplayLineLimit + 1);
            }
            broken += QStringView(text).sliced(copied, i - copied);
            broken += QLatin1Char('\n');
            copied = i;
            lineStart = i;
        }
    }
    if (broken.isNull()) {
        return text;
    }
    broken += QStringView(text).sliced(copied);
    return broken;
}

} // namespace

RecordDetailView::RecordDetailView(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::RecordDetailView>())
    , headersModel(std::make_unique<KafkaRecordHeadersModel>())
{
    ui->setupUi(this);
    highlighter = new Highlighting::SyntaxHighlighter(ui->recordValueTextEdit->document());

    // The hex view has picked its fixed-pitch font already.
    ui->recordValueTextEdit->setFont(ui->hexView->font());
    ui->recordValueTextEdit->setReadOnly(true);

    ui->headersTableView->setModel(headersModel.get());
    ui->headersTableView->setItemDelegateForColumn(0, new VisibleTextDelegate(ui->headersTableView));
    // Nothing to show yet: no error line, no headers table.
    clearRecord();
}

RecordDetailView::~RecordDetailView() = default;

void RecordDetailView::showRecordError(const KafkaError& error)
{
    ui->errorLabel->setText(visibleText(error.message));
    ui->errorLabel->show();
}

void RecordDetailView::clearRecordError()
{
    ui->errorLabel->hide();
}

void RecordDetailView::clearRecord()
{
    clearRecordError();
    ui->recordValueTextEdit->setPlainText(QString());
    ui->hexView->setData(nullptr);
    ui->headersTableView->hide();
    headersModel->clear();
}

void RecordDetailView::showHexRecord(const QByteArray& bytes)
{
    ui->hexView->setData(std::make_unique<QHexView::DataStorageArray>(bytes));
    ui->hexView->viewport()->update();
    ui->stackedWidget->setCurrentIndex(hexPageIndex);
}

void RecordDetailView::showRecord(const KafkaRecord& record, const RecordDeserializer& deserializer)
{
    clearRecord();
    if (!record.headers.isEmpty()) {
        headersModel->setHeaders(record.headers);
        ui->headersTableView->resizeRowsToContents();
        ui->headersTableView->show();
    }

    // Only what is shown is decoded, where the deserializer allows.
    const Result<DeserializedRecord, KafkaError> result = deserializer.deserializeRecordPrefix(record, ShownValueLimit);
    if (result.isError()) {
        showRecordError(result.error());
        showHexRecord(record.value);
        return;
    }
    const DeserializedRecord& decoded = result.value();
    // Binary results have no text and leave nothing out, so this is text only.
    if (decoded.omittedBytes > 0 || decoded.text.size() > FormattedValueLimit) {
        showUnformattedText(decoded);
        return;
    }
    switch (decoded.contentType) {
    case Config::ContentType::Text:
        showText(decoded.text, QStringLiteral("None"));
        return;
    case Config::ContentType::Json: {
        // A value that does not parse is shown as it came, without a message.
        Result<QString, KafkaError> pretty = prettyPrintJson(decoded.text, ShownValueLimit);
        showText(pretty.hasValue() ? std::move(pretty).value() : decoded.text, QStringLiteral("JSON"));
        return;
    }
    case Config::ContentType::Xml: {
        // XML that tells its own encoding comes with its bytes.
        Result<QString, KafkaError> pretty = decoded.data.isNull() ? prettyPrintXml(decoded.text, ShownValueLimit)
                                                                   : prettyPrintXml(decoded.data, ShownValueLimit);
        showText(pretty.hasValue() ? std::move(pretty).value() : decoded.text, QStringLiteral("XML"));
        return;
    }
    case Config::ContentType::Binary:
    case Config::ContentType::Protobuf:
        break;
    }
    showHexRecord(decoded.data);
}

void RecordDetailView::showUnformattedText(const DeserializedRecord& decoded)
{
    QString text = withLongLinesBroken(decoded.text);
    if (decoded.omittedBytes > 0) {
        text += QLatin1Char('\n')
            + tr("… %1 more not shown")
                  .arg(locale().formattedDataSize(decoded.omittedBytes, 1, QLocale::DataSizeTraditionalFormat));
    }
    showText(text, QStringLiteral("None"));
}

// "None" names no definition: the text stays unformatted.
void RecordDetailView::showText(const QString& text, const QString& definitionName)
{
    highlighter->setDefinition(repository.definitionForName(definitionName));
    highlighter->setTheme(repository.theme(QStringLiteral("ayu Mirage")));
    ui->recordValueTextEdit->setPlainText(text);
    ui->stackedWidget->setCurrentIndex(textPageIndex);
}
