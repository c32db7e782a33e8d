#include "DeserializerDialog.h"

#include "ui_DeserializerDialog.h"

#include <QShowEvent>
#include <QStringConverter>

namespace {

constexpr Config::ContentType contentTypes[] = { Config::ContentType::Text, Config::ContentType::Json,
    Config::ContentType::Xml, Config::ContentType::Binary, Config::ContentType::Protobuf };

struct EncodingItem {
    const char* text;
    QStringConverter::Encoding encoding;
};

constexpr EncodingItem encodingItems[] = {
    { "UTF-8", QStringConverter::Utf8 },
    { "UTF-16", QStringConverter::Utf16 },
    { "UTF-32", QStringConverter::Utf32 },
    { "ISO8859-1", QStringConverter::Latin1 },
};

bool isTextType(Config::ContentType contentType)
{
    return contentType == Config::ContentType::Text || contentType == Config::ContentType::Json
        || contentType == Config::ContentType::Xml;
}

} // namespace

DeserializerDialog::DeserializerDialog(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::DeserializerDialog>())
{
    ui->setupUi(this);

    for (Config::ContentType contentType : contentTypes)
        ui->contentTypeComboBox->addItem(QString::fromLatin1(Config::contentTypeName(contentType)), QVariant::fromValue(contentType));
    for (const EncodingItem& item : encodingItems)
        ui->textEncodingComboBox->addItem(QString::fromLatin1(item.text), QVariant::fromValue(item.encoding));

    connect(ui->singleMessageTypeButton, &QRadioButton::toggled, this, [this](bool checked) {
        ui->protobufMessageTypeEdit->setEnabled(checked);
        ui->protobufMessageTypeHeaderEdit->setEnabled(!checked);
    });
    connect(ui->multipleMessageTypeButton, &QRadioButton::toggled, this, [this](bool checked) {
        ui->protobufMessageTypeEdit->setEnabled(!checked);
        ui->protobufMessageTypeHeaderEdit->setEnabled(checked);
    });
    connect(ui->contentTypeComboBox, &QComboBox::currentIndexChanged, this, &DeserializerDialog::updateContentTypeWidgets);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &DeserializerDialog::onOkClicked);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &DeserializerDialog::reject);

    updateContentTypeWidgets();
}

DeserializerDialog::~DeserializerDialog() = default;

Config::Deserializer DeserializerDialog::defaultDeserializer()
{
    Config::Deserializer rule;
    rule.topicPattern = QRegularExpression(QStringLiteral(".*"));
    rule.contentType = Config::ContentType::Text;
    return rule;
}

void DeserializerDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A window restored by the window system keeps what the user typed; only
    // the owner's show starts from the rule again.
    if (!event->spontaneous())
        loadForm();
}

void DeserializerDialog::loadForm()
{
    setWindowTitle(mode == Mode::Add ? tr("Add new deserializer")
                                     : tr("Edit deserializer for topic '%1'").arg(deserializer.topicPattern.pattern()));
    clearErrors();

    ui->topicPatternEdit->setText(deserializer.topicPattern.pattern());
    ui->headerNameEdit->setText(deserializer.headerName);
    ui->headerValuePatternEdit->setText(deserializer.headerPattern.pattern());
    ui->contentTypeComboBox->setCurrentIndex(ui->contentTypeComboBox->findData(QVariant::fromValue(deserializer.contentType)));

    if (!isTextType(deserializer.contentType)) {
        ui->textEncodingComboBox->setCurrentIndex(0);
    } else {
        const std::optional<QStringConverter::Encoding> encoding
            = QStringConverter::encodingForName(deserializer.textEncoding.toUtf8().constData());
        if (encoding)
            ui->textEncodingComboBox->setCurrentIndex(ui->textEncodingComboBox->findData(QVariant::fromValue(*encoding)));
        else
            ui->textEncodingComboBox->setCurrentIndex(-1);
    }

    const bool byHeader = deserializer.contentType == Config::ContentType::Protobuf
        && !deserializer.protobufMessageTypeHeader.isEmpty();
    const bool protobuf = deserializer.contentType == Config::ContentType::Protobuf;
    (byHeader ? ui->multipleMessageTypeButton : ui->singleMessageTypeButton)->setChecked(true);
    ui->protobufMessageTypeEdit->setText(protobuf && !byHeader ? deserializer.protobufMessageType : QString());
    ui->protobufMessageTypeHeaderEdit->setText(byHeader ? deserializer.protobufMessageTypeHeader : QString());
}

void DeserializerDialog::updateContentTypeWidgets()
{
    const auto contentType = ui->contentTypeComboBox->currentData().value<Config::ContentType>();
    const bool text = isTextType(contentType);
    ui->textEncodingLabel->setVisible(text);
    ui->textEncodingComboBox->setVisible(text);

    const bool protobuf = contentType == Config::ContentType::Protobuf;
    QWidget* const messageTypeWidgets[] = { ui->singleMessageTypeButton, ui->protobufMessageTypeLabel,
        ui->protobufMessageTypeEdit, ui->multipleMessageTypeButton, ui->protobufMessageTypeHeaderLabel,
        ui->protobufMessageTypeHeaderEdit };
    for (QWidget* widget : messageTypeWidgets)
        widget->setVisible(protobuf);
}

void DeserializerDialog::onOkClicked()
{
    clearErrors();

    Config::Deserializer rule;
    const QString topicPattern = ui->topicPatternEdit->text();
    rule.topicPattern = QRegularExpression(topicPattern);
    if (topicPattern.isEmpty())
        addError(KafkaError(KafkaErrorCode::MissingRequiredValue, tr("The topic pattern for which this deserializer applies is required")));
    else if (!rule.topicPattern.isValid())
        addError(KafkaError(KafkaErrorCode::InvalidValue,
            tr("Invalid regular expression for the topic pattern: %1").arg(rule.topicPattern.errorString())));

    rule.headerName = ui->headerNameEdit->text();
    const QString headerPattern = ui->headerValuePatternEdit->text();
    rule.headerPattern = QRegularExpression(headerPattern);
    if (!rule.headerPattern.isValid())
        addError(KafkaError(KafkaErrorCode::InvalidValue,
            tr("Invalid regular expression for the header value pattern: %1").arg(rule.headerPattern.errorString())));
    if (!headerPattern.isEmpty() && rule.headerName.isEmpty())
        addError(KafkaError(KafkaErrorCode::MissingRequiredValue,
            tr("The header name is required when selecting records by header value pattern is requested")));
    if (!rule.headerName.isEmpty() && headerPattern.isEmpty())
        addError(KafkaError(KafkaErrorCode::MissingRequiredValue,
            tr("The header value pattern is required when selecting records by headers is requested")));

    rule.contentType = ui->contentTypeComboBox->currentData().value<Config::ContentType>();
    if (isTextType(rule.contentType)) {
        const QVariant encoding = ui->textEncodingComboBox->currentData();
        rule.textEncoding = QString::fromLatin1(QStringConverter::nameForEncoding(
            encoding.isValid() ? encoding.value<QStringConverter::Encoding>() : QStringConverter::Utf8));
    } else if (rule.contentType == Config::ContentType::Protobuf) {
        if (ui->singleMessageTypeButton->isChecked()) {
            rule.protobufMessageType = ui->protobufMessageTypeEdit->text();
            if (rule.protobufMessageType.isEmpty())
                addError(KafkaError(KafkaErrorCode::MissingRequiredValue,
                    tr("The qualified protocol buffers message type for this deserializer is required")));
        } else {
            rule.protobufMessageTypeHeader = ui->protobufMessageTypeHeaderEdit->text();
            if (rule.protobufMessageTypeHeader.isEmpty())
                addError(KafkaError(KafkaErrorCode::MissingRequiredValue,
                    tr("The name of the header where to retrieve each record's protocol buffers message type is required")));
        }
    }

    if (!errors.isEmpty())
        return;
    deserializer = std::move(rule);
    accept();
}

void DeserializerDialog::clearErrors()
{
    errors.clear();
    ui->errorLabel->hide();
}

void DeserializerDialog::addError(const KafkaError& error)
{
    errors.append(error);
    ui->errorLabel->setText(error.message);
    ui->errorLabel->show();
}
