#pragma once

#include "Error.h"
#include "KafkaRecord.h"
#include "Repository.h"

#include <QByteArray>
#include <QWidget>

#include <memory>

class KafkaRecordHeadersModel;
class RecordDeserializer;

namespace Highlighting {
class SyntaxHighlighter;
}

namespace Ui {
class RecordDetailView;
}

// The selected record of the records tab: its headers in a table and its
// value as text (plain, or JSON and XML pretty-printed and highlighted) or,
// for binary values, as a hex dump. A value that cannot be decoded shows the
// error's message above its raw bytes in hex.
//
// GUI thread only.
class RecordDetailView : public QWidget {
    Q_OBJECT

public:
    explicit RecordDetailView(QWidget* parent = nullptr);
    ~RecordDetailView() override;

    // Shows the record, its value decoded by the deserializer.
    void showRecord(const KafkaRecord& record, const RecordDeserializer& deserializer);

    // The error line above the value, also for failures of the records tab
    // that concern what is shown (a filter's topic missing from the cluster).
    void showRecordError(const KafkaError& error);
    void clearRecordError();

public slots:
    // Empties the view; the value area stays on the page it shows.
    void clearRecord();
    // Shows the bytes on the hex page.
    void showHexRecord(const QByteArray& bytes);

private:
    void showText(const QString& text, const QString& definitionName);

    std::unique_ptr<Ui::RecordDetailView> ui;
    Highlighting::Repository repository;
    // Child of the value text view's document.
    Highlighting::SyntaxHighlighter* highlighter = nullptr;
    std::unique_ptr<KafkaRecordHeadersModel> headersModel;
};
