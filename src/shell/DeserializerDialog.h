#pragma once

#include "Config.h"
#include "Error.h"

#include <QDialog>
#include <QList>

#include <cstdint>
#include <memory>

namespace Ui {
class DeserializerDialog;
}

// The modal dialog in which the user writes one deserializer rule: which
// records it selects (topic pattern, optionally a header and a pattern for
// its value) and how their values are decoded. The owner sets `deserializer`
// and `mode` and shows the dialog; each show loads the form from them. A
// valid OK stores the rule in `deserializer` and accepts (QDialog::accepted);
// an invalid one shows the problem and keeps the dialog open.
class DeserializerDialog : public QDialog {
    Q_OBJECT

public:
    enum class Mode : std::int32_t { Add = 0, Edit = 1 };

    explicit DeserializerDialog(QWidget* parent = nullptr);
    ~DeserializerDialog() override;

    // The rule ".*" decoded as text in the default encoding.
    static Config::Deserializer defaultDeserializer();

    Config::Deserializer deserializer = defaultDeserializer();
    Mode mode = Mode::Add;
    // The problems of the last OK, in the order found.
    QList<KafkaError> errors;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void onOkClicked();

private:
    void loadForm();
    void updateContentTypeWidgets();
    void clearErrors();
    void addError(const KafkaError& error);

    std::unique_ptr<Ui::DeserializerDialog> ui;

    friend class EditConfigDialogTest;
};
