#include "RecordDetailView.h"

#include "KafkaRecordHeadersModel.h"
#include "RecordDeserializer.h"
#include "ShownText.h"
#include "SyntaxHighlighter.h"
#include "TextUtils.h"
#include "VisibleText.h"
#include "VisibleTextDelegate.h"
#include "ui_RecordDetailView.h"

#include <utility>

namespace {

constexpr int textPageIndex = 0;
constexpr int hexPageIndex = 1;

// Replaces `text` by what the pretty printer wrote; keeps it when that failed
// (a value that does not parse, or whose pretty-printed text would pass the
// shown limit).
void takePretty(QString& text, Result<QString, KafkaError> pretty)
{
    if (pretty.hasValue())
        text = std::move(pretty).value();
}

// Whether re-indenting a JSON value would by its indentation alone make it
// longer than RecordDetailView::ShownValueLimit (found without parsing it).
bool jsonTooDeep(const DeserializedRecord& decoded)
{
    const qsizetype room = RecordDetailView::ShownValueLimit - decoded.text.size();
    return decoded.contentType == Config::ContentType::Json && jsonIndentation(decoded.text, room) > room;
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
    // The message, then why, a line each: a value that does not decode says
    // what the decoder found wrong with it.
    ui->errorLabel->setText(visibleErrorLines(error));
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
    Result<DeserializedRecord, KafkaError> result = deserializer.deserializeRecordPrefix(record, ShownValueLimit);
    if (result.isError()) {
        showRecordError(result.error());
        showHexRecord(record.value);
        return;
    }
    DeserializedRecord& decoded = result.value();
    // Binary results have no text and leave nothing out, so this is text only.
    if (decoded.omittedBytes > 0 || decoded.text.size() > FormattedValueLimit || jsonTooDeep(decoded)) {
        showUnformattedText(std::move(decoded));
        return;
    }
    switch (decoded.contentType) {
    case Config::ContentType::Text:
        showText(std::move(decoded.text), QStringLiteral("None"));
        return;
    case Config::ContentType::Json: {
        // A value that does not format is shown as it came, without a message.
        QString text = std::move(decoded.text);
        takePretty(text, prettyPrintJson(text, ShownValueLimit));
        showText(std::move(text), QStringLiteral("JSON"));
        return;
    }
    case Config::ContentType::Xml: {
        // XML that tells its own encoding comes with its bytes.
        QString text = std::move(decoded.text);
        takePretty(text, decoded.data.isNull() ? prettyPrintXml(text, ShownValueLimit)
                                               : prettyPrintXml(decoded.data, ShownValueLimit));
        showText(std::move(text), QStringLiteral("XML"));
        return;
    }
    case Config::ContentType::Binary:
    case Config::ContentType::Protobuf:
        break;
    }
    showHexRecord(decoded.data);
}

void RecordDetailView::showUnformattedText(DeserializedRecord decoded)
{
    QString text = std::move(decoded.text);
    if (decoded.omittedBytes > 0) {
        text += QLatin1Char('\n')
            + tr("… %1 more not shown")
                  .arg(locale().formattedDataSize(decoded.omittedBytes, 1, QLocale::DataSizeTraditionalFormat));
    }
    showText(std::move(text), QStringLiteral("None"));
}

// "None" names no definition: the text stays unformatted.
void RecordDetailView::showText(QString text, const QString& definitionName)
{
    highlighter->setDefinition(repository.definitionForName(definitionName));
    highlighter->setTheme(repository.theme(QStringLiteral("ayu Mirage")));
    // Broken apart from the call that shows it, so that the text as it came is
    // freed before the text view copies the broken one.
    text = withLongLinesBroken(std::move(text), DisplayLineLimit);
    ui->recordValueTextEdit->setPlainText(text);
    ui->stackedWidget->setCurrentIndex(textPageIndex);
}
