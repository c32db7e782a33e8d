#include "AboutDialog.h"

#include "ui_AboutDialog.h"

#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QListWidgetItem>

#include <iterator>

namespace {

// The libraries the program links, in the order shown.
const AboutDialog::OpenSourceComponentInfo openSourceComponents[] = {
    { "Qt", ":/resources/qt-license.txt" },
    { "Protocol Buffers", ":/resources/protobuf-license.txt" },
    { "libyaml", ":/resources/libyaml-license.txt" },
    { "Jansson", ":/resources/jansson-license.txt" },
    { "libxml2", ":/resources/libxml2-license.txt" },
    { "zlib", ":/resources/zlib-license.txt" },
    { "Snappy", ":/resources/snappy-license.txt" },
    { "LZ4", ":/resources/lz4-license.txt" },
    { "Zstandard", ":/resources/zstd-license.txt" },
    { "libsodium", ":/resources/libsodium-license.txt" },
};

} // namespace

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::AboutDialog>())
{
    ui->setupUi(this);
    ui->mainLabel->setText(ui->mainLabel->text() + QStringLiteral(" preview 3"));

    const QIcon icon = QGuiApplication::windowIcon();
    ui->mainIconLabel->setPixmap(icon.pixmap(QSize(256, 256), devicePixelRatioF(), QIcon::Normal, QIcon::Off));

    for (const OpenSourceComponentInfo& component : openSourceComponents) {
        auto* item = new QListWidgetItem(QString::fromUtf8(component.name));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        ui->openSourceComponentList->addItem(item);
    }
    connect(ui->openSourceComponentList, &QListWidget::currentRowChanged, ui->openSourceComponentList,
        [this](int row) { showLicense(row); });
    ui->openSourceComponentList->setCurrentRow(0);
}

AboutDialog::~AboutDialog() = default;

const AboutDialog::OpenSourceComponentInfo* AboutDialog::findOpenSourceComponentInfo(int index)
{
    return &openSourceComponents[index];
}

void AboutDialog::showLicense(int row)
{
    if (row < 0 || row >= static_cast<int>(std::size(openSourceComponents))) {
        ui->openSourceComponentLicense->clear();
        return;
    }
    QFile file(QString::fromUtf8(findOpenSourceComponentInfo(row)->licenseResource));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        ui->openSourceComponentLicense->setPlainText(QString::fromUtf8(file.readAll()));
    else
        ui->openSourceComponentLicense->clear();
}
