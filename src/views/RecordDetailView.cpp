#include "RecordDetailView.h"

#include "FixedPitchFont.h"
#include "KafkaRecordHeadersModel.h"
#include "RecordDeserializer.h"
#include "SyntaxHighlighter.h"
#include "TextUtils.h"
#include "ui_RecordDetailView.h"

#include <utility>

namespace {

constexpr int textPageIndex = 0;
constexpr int hexPageIndex = 1;

} // namespace

RecordDetailView::RecordDetailView(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::RecordDetailView>())
    , headersModel(std::make_unique<KafkaRecordHeadersModel>())
{
    ui->setupUi(this);
    highlighter = new Highlighting::SyntaxHighlighter(ui->recordValueTextEdit->document());

    ui->recordValueTextEdit->setFont(fixedPitchFont());
    ui->recordValueTextEdit->setReadOnly(true);

    ui->headersTableView->setModel(headersModel.get());
    // Nothing to show yet: no error line, no headers table.
    clearRecord();
}

RecordDetailView::~RecordDetailView() = default;

void RecordDetailView::showRecordError(const KafkaError& error)
{
    ui->errorLabel->setText(error.message);
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

    const Result<DeserializedRecord, KafkaError> result = deserializer.deserializeRecord(record);
    if (result.isError()) {
        showRecordError(result.error());
        showHexRecord(record.value);
        return;
    }
    const DeserializedRecord& decoded = result.value();
    switch (decoded.contentType) {
    case Config::ContentType::Text:
        showText(decoded.text, QStringLiteral("None"));
        return;
    case Config::ContentType::Json: {
        // A value that does not parse is shown as it came, without a message.
        Result<QString, KafkaError> pretty = prettyPrintJson(decoded.text);
        showText(pretty.hasValue() ? std::move(pretty).value() : decoded.text, QStringLiteral("JSON"));
        return;
    }
    case Config::ContentType::Xml: {
        Result<QString, KafkaError> pretty = prettyPrintXml(decoded.text);
        showText(pretty.hasValue() ? std::move(pretty).value() : decoded.text, QStringLiteral("XML"));
        return;
    }
    case Config::ContentType::Binary:
    case Config::ContentType::Protobuf:
        break;
    }
    showHexRecord(decoded.data);
}

// "None" names no definition: the text stays unformatted.
void RecordDetailView::showText(const QString& text, const QString& definitionName)
{
    highlighter->setDefinition(repository.definitionForName(definitionName));
    highlighter->setTheme(repository.theme(QStringLiteral("ayu Mirage")));
    ui->recordValueTextEdit->setPlainText(text);
    ui->stackedWidget->setCurrentIndex(textPageIndex);
}
