#include "QHexView.h"
#include "Screenshot.h"

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

namespace {

// The middle of a character cell: the hex column follows ten address digits
// and a 10 px gap; the ASCII column (column -1) follows 47 hex characters and 16 px.
QPoint cell(const QHexView& view, int line, int column)
{
    const QFontMetrics metrics(view.font());
    const int width = metrics.averageCharWidth();
    const int hexX = 10 * width + 10;
    const int x = column < 0 ? hexX + 47 * width + 16 + width / 2 : hexX + column * width + width / 2;
    return QPoint(x, line * metrics.height() + metrics.height() / 2);
}

// Plays what the user does, written as words: a standard key's name (with
// "*n" for n presses), "click:line:column", "shift:line:column" (a click
// with Shift held) or "drag:line:column:line:column".
void play(QHexView& view, const QString& script)
{
    const QMetaEnum keys = QMetaEnum::fromType<QKeySequence::StandardKey>();
    for (const QString& word : script.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = word.split(QRegularExpression("[:*]"));
        QList<int> n;
        for (const QString& part : parts.mid(1))
            n.append(part.toInt());
        if (parts[0] == "click" || parts[0] == "shift") {
            QTest::mouseClick(view.viewport(), Qt::LeftButton, parts[0] == "shift" ? Qt::ShiftModifier : Qt::NoModifier,
                cell(view, n[0], n[1]));
        } else if (parts[0] == "drag") {
            QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, cell(view, n[0], n[1]));
            QTest::mouseMove(view.viewport(), cell(view, n[2], n[3]));
            QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, cell(view, n[2], n[3]));
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
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    view.setData(std::make_unique<QHexView::DataStorageArray>(bytes));
    view.resize(view.minimumWidth() + 40, 5 * QFontMetrics(view.font()).height() + 2 * view.frameWidth());
    view.show();
    view.setFocus();
}

} // namespace

class QHexViewTest : public QObject {
    Q_OBJECT

private slots:
    // What the mouse and the keys select, seen in what Copy puts on the
    // clipboard. Byte i of the dump is i, so the copy tells where the cursor went.
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
        QTest::newRow("a page is the lines in view less one") << "MoveToNextPage SelectNextChar*2" << "40 ";
        QTest::newRow("previous page") << "MoveToNextPage*2 MoveToPreviousPage SelectNextChar*2" << "40 ";
        QTest::newRow("end and start of document")
            << "MoveToEndOfDocument MoveToStartOfDocument SelectNextChar*2" << "00 ";
        QTest::newRow("back from the end") << "MoveToEndOfDocument SelectPreviousChar*2" << "ff ";
        QTest::newRow("select to the end of the line") << "MoveToNextChar*2 SelectEndOfLine" << copiedBytes(1, 16);
        QTest::newRow("select to the start of the line") << "MoveToNextLine MoveToNextChar*2 SelectStartOfLine"
                                                         << "10 ";
        QTest::newRow("select lines") << "SelectNextLine*2 SelectPreviousLine" << copiedBytes(0, 16);
        QTest::newRow("select a page") << "SelectNextPage" << copiedBytes(0, 64);
        QTest::newRow("select a page back") << "MoveToEndOfDocument SelectPreviousPage" << copiedBytes(192, 256);
        QTest::newRow("select to the start") << "MoveToNextLine SelectStartOfDocument" << copiedBytes(0, 16);
        QTest::newRow("select to the end") << "MoveToNextPage SelectEndOfDocument" << copiedBytes(64, 256);
        QTest::newRow("click, then shift-click") << "click:0:3 shift:0:9" << "01 02 ";
        QTest::newRow("the blank after a byte is its low digit") << "click:0:11 SelectNextChar*2" << "3 0";
        QTest::newRow("the ASCII column is position 0") << "click:2:3 click:1:-1 SelectNextChar*2" << "00 ";
        QTest::newRow("a drag back over a line") << "drag:1:0:0:0" << copiedBytes(0, 16);
        QTest::newRow("a drag past the end stops at the data") << "drag:0:0:40:46" << copiedBytes(0, 256);
    }

    void selectAndCopy()
    {
        QFETCH(QString, script);
        QFETCH(QString, copied);
        QHexView view;
        showSequence(view);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
        play(view, script + " Copy");
        QCOMPARE(QGuiApplication::clipboard()->text(), copied);
    }

    // A fixed-pitch font, a repaint for new data, scrolling that follows the
    // cursor and no more than a line of it for a short dump.
    void display()
    {
        QHexView view;
        QVERIFY(QFontInfo(view.font()).fixedPitch());
        showSequence(view);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        play(view, "MoveToEndOfDocument");
        QVERIFY(view.verticalScrollBar()->value() > 0);
        play(view, "MoveToStartOfDocument");
        QCOMPARE(view.verticalScrollBar()->value(), 0);
        view.resize(view.width(), 12 * QFontMetrics(view.font()).height());
        play(view, "click:1:9 SelectNextChar*20");
        QVERIFY(saveScreenshot(view, QStringLiteral("hex-view")));

        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* event) override
            {
                paints += event->type() == QEvent::Paint;
                return false;
            }
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
