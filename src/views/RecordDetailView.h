#pragma once

#include "DeserializedRecord.h"
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
// The text view lays out and the highlighter styles every character it is
// given on the GUI thread, at a multiple of the text's size in memory, so
// large values are shown plainer: above FormattedValueLimit, or when
// re-indenting a JSON value would by itself pass ShownValueLimit (deep
// nesting), without pretty printing and highlighting; above ShownValueLimit
// only their first part, with a last line saying how much is left out.
// Whatever path made the text, no line shown is longer than DisplayLineLimit.
// Binary values keep every byte on the hex page, which draws only what is
// visible.
//
// GUI thread only.
class RecordDetailView : public QWidget {
    Q_OBJECT

public:
    // Characters of decoded text up to which a JSON or XML value is
    // pretty-printed and highlighted. A 1 MB JSON document shows in about
    // 0.4 s and 100 MB, mostly the text view's layout of its 120,000 indented
    // lines; at this limit that is about 1 s and 200 MB, the most a formatted
    // value may cost.
    static constexpr qsizetype FormattedValueLimit = 2 * 1024 * 1024;
    // Bytes of a value that are decoded and shown as text at most, and of the
    // pretty-printed text of a formatted one (deep nesting makes that grow
    // with the square of the depth; a longer one is shown as it came). Unformatted
    // text of this size, in lines of ordinary length, shows in about 0.3 s and
    // 70 MB; a whole 50 MB value took seconds and, formatted, gigabytes.
    static constexpr qsizetype ShownValueLimit = 8 * 1024 * 1024;
    // Characters after which a line of any text shown is broken (pretty
    // printed, unformatted or plain): the text view lays out a line as a whole
    // whenever it shows part of it, at a cost that grows with the square of
    // its length (400 KB on one line froze the window for 8 s, 2 MB for well
    // over a minute). A line of this length takes a few ms.
    static constexpr qsizetype DisplayLineLimit = 10'000;

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
    // In lines of at most DisplayLineLimit characters.
    void showText(QString text, const QString& definitionName);
    // Without pretty printing and highlighting, and with a last line giving
    // what is left out.
    void showUnformattedText(DeserializedRecord decoded);

    std::unique_ptr<Ui::RecordDetailView> ui;
    Highlighting::Repository repository;
    // Child of the value text view's document.
    Highlighting::SyntaxHighlighter* highlighter = nullptr;
    std::unique_ptr<KafkaRecordHeadersModel> headersModel;
};
