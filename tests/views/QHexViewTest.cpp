#include "QHexView.h"
#include "Screenshot.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

#include <numeric>

namespace {

// The middle of a cell: hex after 10 address digits and 10 px; ASCII (column -1) 47 chars and 16 px later.
QPoint cell(const QHexView& view, int line, int column)
{
    const QFontMetrics metrics(view.font());
    const int width = metrics.averageCharWidth();
    const int hexX = 10 * width + 10;
    const int x = column < 0 ? hexX + 47 * width + 16 + width / 2 : hexX + column * width + width / 2;
    return QPoint(x, line * metrics.height() + metrics.height() / 2);
}

// Plays words: a standard key ("*n": n presses), "click:line:column", "shift:..." (Shift-click), "drag:l:c:l:c".
void play(QHexView& view, const QString& script)
{
    const QMetaEnum keys = QMetaEnum::fromType<QKeySequence::StandardKey>();
    for (const QString& word : script.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = word.split(QRegularExpression("[:*]"));
        QList<int> n;
        for (const QString& part : parts.mid(1))
            n.append(part.toInt());
        if (parts[0] == "click" || parts[0] == "shift" || parts[0] == "drag") {
            const auto modifier = parts[0] == "shift" ? Qt::ShiftModifier : Qt::NoModifier;
            const QPoint to = cell(view, n.value(2, n[0]), n.value(3, n[1]));
            QTest::mousePress(view.viewport(), Qt::LeftButton, modifier, cell(view, n[0], n[1]));
            QTest::mouseMove(view.viewport(), to);
            QTest::mouseRelease(view.viewport(), Qt::LeftButton, modifier, to);
        } else {
            const int key = keys.keyToValue(parts[0].toLatin1().constData());
            QVERIFY2(key >= 0, qPrintable(word));
            for (int i = 0; i < n.value(0, 1); ++i)
                QTest::keySequence(&view, QKeySequence(QKeySequence::StandardKey(key)));
        }
    }
}

// Whole bytes as copied: each followed by a blank, a line break after every sixteenth.
QString copiedBytes(int from, int to)
{
    QString text;
    for (int i = from; i < to; ++i)
        text += QStringLiteral("%1 ").arg(i, 2, 16, QLatin1Char('0')) + ((i - from) % 16 == 15 ? "\n" : "");
    return text;
}

// Bytes 0..255 with five lines in view.
void showSequence(QHexView& view)
{
    QByteArray bytes(256, 0);
    std::iota(bytes.begin(), bytes.end(), char(0));
    view.setData(std::make_unique<QHexView::DataStorageArray>(bytes));
    view.resize(view.minimumWidth() + 40, 5 * QFontMetrics(view.font()).height() + 2 * view.frameWidth());
    view.show();
    view.setFocus();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
}

} // namespace

class QHexViewTest : public QObject {
    Q_OBJECT

private slots:
    // What is selected, seen in what Copy puts on the clipboard; byte i of the dump is i.
    void selectAndCopy_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("copied");
        const QString untouched = QStringLiteral("untouched");
        QTest::newRow("select all") << "SelectAll" << copiedBytes(0, 256);
        QTest::newRow("whole bytes") << "SelectNextChar*4" << "00 01 ";
        QTest::newRow("a half byte at the end") << "SelectNextChar*3" << "00 0";
        QTest::newRow("from a low digit") << "MoveToNextChar SelectNextChar*3" << "0 01 ";
        QTest::newRow("nothing selected") << "" << untouched;
        QTest::newRow("selection taken back") << "SelectNextChar SelectPreviousChar" << untouched;
        QTest::newRow("lines and chars")
            << "MoveToNextLine*2 MoveToPreviousLine MoveToNextChar*2 MoveToPreviousChar SelectNextChar*2" << "0 1";
        QTest::newRow("end of line") << "MoveToEndOfLine SelectNextChar*2" << "f 1";
        QTest::newRow("start of line") << "MoveToNextLine MoveToNextChar MoveToStartOfLine SelectNextChar*2" << "10 ";
        QTest::newRow("a page is the lines in view less one")
            << "MoveToNextPage*2 MoveToPreviousPage SelectNextChar*2" << "40 ";
        QTest::newRow("end and start of document")
            << "MoveToEndOfDocument MoveToStartOfDocument SelectNextChar*2" << "00 ";
        QTest::newRow("back from the end") << "MoveToEndOfDocument SelectPreviousChar*2" << "ff ";
        QTest::newRow("select to the end of the line") << "MoveToNextChar*2 SelectEndOfLine" << copiedBytes(1, 16);
        QTest::newRow("select a page back") << "MoveToEndOfDocument SelectPreviousPage" << copiedBytes(192, 256);
        QTest::newRow("click, then shift-click") << "click:0:3 shift:0:9" << "01 02 ";
        QTest::newRow("the ASCII column is position 0") << "click:2:3 click:1:-1 SelectNextChar*2" << "00 ";
        QTest::newRow("a drag past the end stops at the data") << "drag:0:0:40:46" << copiedBytes(0, 256);
    }

    void selectAndCopy()
    {
        QFETCH(QString, script);
        QFETCH(QString, copied);
        QHexView view;
        showSequence(view);
        QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
        play(view, script + " Copy");
        QCOMPARE(QGuiApplication::clipboard()->text(), copied);
    }

    // A fixed-pitch font, scrolling that follows the cursor, a repaint for new data.
    void display()
    {
        QHexView view;
        const QFontMetricsF metrics(view.font());
        for (const QChar character : QStringLiteral("il.W M0"))
            QCOMPARE(metrics.horizontalAdvance(character), metrics.horizontalAdvance('0'));
        showSequence(view);
        play(view, "MoveToEndOfDocument");
        QVERIFY(view.verticalScrollBar()->value() > 0);
        play(view, "MoveToStartOfDocument");
        QCOMPARE(view.verticalScrollBar()->value(), 0);
        view.resize(view.width(), 12 * QFontMetrics(view.font()).height());
        play(view, "click:1:9 SelectNextChar*20");
        QVERIFY(saveScreenshot(view, QStringLiteral("hex-view")));

        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* event) override { return (paints += event->type() == QEvent::Paint) < 0; }
        } counter;
        view.viewport()->installEventFilter(&counter);
        view.setData(std::make_unique<QHexView::DataStorageArray>("Skelvane: a hex view of a record value."));
        QTRY_VERIFY(counter.paints > 0);
        QVERIFY(view.verticalScrollBar()->maximum() <= 1);
    }
};

int main(int argc, char** argv)
{
    QLocale::setDefault(QLocale::c());
    QApplication application(argc, argv);
    QHexViewTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "QHexViewTest.moc"
