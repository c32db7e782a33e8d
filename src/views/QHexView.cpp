#include "QHexView.h"

#include "FixedPitchFont.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <limits>

namespace {

constexpr int BytesPerLine = 16;
constexpr qint64 NibblesPerLine = 2 * BytesPerLine;
// Sixteen bytes of two digits with a blank after each but the last.
constexpr int HexColumnChars = 3 * BytesPerLine - 1;

QChar hexDigit(int value)
{
    return QLatin1Char("0123456789abcdef"[value & 0xf]);
}

// Where a standard key takes the cursor p; page is the lines shown less one.
struct KeyMove {
    QKeySequence::StandardKey key;
    bool select;
    qint64 (*target)(qint64 p, qint64 page, qint64 end);
};

const KeyMove KeyMoves[] = {
    {QKeySequence::MoveToNextChar, false, [](qint64 p, qint64, qint64) { return p + 1; }},
    {QKeySequence::MoveToPreviousChar, false, [](qint64 p, qint64, qint64) { return p - 1; }},
    {QKeySequence::MoveToEndOfLine, false, [](qint64 p, qint64, qint64) { return p | (NibblesPerLine - 1); }},
    {QKeySequence::MoveToStartOfLine, false, [](qint64 p, qint64, qint64) { return p & ~(NibblesPerLine - 1); }},
    {QKeySequence::MoveToPreviousLine, false, [](qint64 p, qint64, qint64) { return p - NibblesPerLine; }},
    {QKeySequence::MoveToNextLine, false, [](qint64 p, qint64, qint64) { return p + NibblesPerLine; }},
    {QKeySequence::MoveToNextPage, false, [](qint64 p, qint64 page, qint64) { return p + page * NibblesPerLine; }},
    {QKeySequence::MoveToPreviousPage, false, [](qint64 p, qint64 page, qint64) { return p - page * NibblesPerLine; }},
    {QKeySequence::MoveToEndOfDocument, false, [](qint64, qint64, qint64 end) { return end; }},
    {QKeySequence::MoveToStartOfDocument, false, [](qint64, qint64, qint64) { return qint64(0); }},
    {QKeySequence::SelectNextChar, true, [](qint64 p, qint64, qint64) { return p + 1; }},
    {QKeySequence::SelectPreviousChar, true, [](qint64 p, qint64, qint64) { return p - 1; }},
    {QKeySequence::SelectEndOfLine, true,
        [](qint64 p, qint64, qint64) { return (p & ~(NibblesPerLine - 1)) + NibblesPerLine; }},
    {QKeySequence::SelectStartOfLine, true, [](qint64 p, qint64, qint64) { return p & ~(NibblesPerLine - 1); }},
    {QKeySequence::SelectPreviousLine, true, [](qint64 p, qint64, qint64) { return p - NibblesPerLine; }},
    {QKeySequence::SelectNextLine, true, [](qint64 p, qint64, qint64) { return p + NibblesPerLine; }},
    {QKeySequence::SelectNextPage, true, [](qint64 p, qint64 page, qint64) { return p + page * NibblesPerLine; }},
    {QKeySequence::SelectPreviousPage, true, [](qint64 p, qint64 page, qint64) { return p - page * NibblesPerLine; }},
    {QKeySequence::SelectEndOfDocument, true, [](qint64, qint64, qint64 end) { return end; }},
    {QKeySequence::SelectStartOfDocument, true, [](qint64, qint64, qint64) { return qint64(0); }},
};

} // namespace

QHexView::DataStorageArray::DataStorageArray(QByteArray bytes)
    : data(std::move(bytes))
{
}

QByteArray QHexView::DataStorageArray::getData(std::uint64_t position, std::uint64_t length)
{
    const auto size = static_cast<std::uint64_t>(data.size());
    if (position >= size)
        return {};
    return data.mid(static_cast<qsizetype>(position), static_cast<qsizetype>(std::min(length, size - position)));
}

std::uint64_t QHexView::DataStorageArray::size()
{
    return static_cast<std::uint64_t>(data.size());
}

QHexView::QHexView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    // The columns line up only when every glyph has the same advance.
    setFont(fixedPitchFont());
    const QFontMetrics metrics(font());
    // At least a pixel each: a font without metrics must not divide by zero.
    charWidth = std::max(1, metrics.averageCharWidth());
    charHeight = std::max(1, metrics.height());
    addressColumnX = 0;
    hexColumnX = 10 * charWidth + 10;
    asciiColumnX = hexColumnX + HexColumnChars * charWidth + 16;
    setMinimumWidth(asciiColumnX + BytesPerLine * charWidth);
    setFocusPolicy(Qt::StrongFocus);
}

QHexView::~QHexView() = default;

void QHexView::setData(std::unique_ptr<DataStorage> storage)
{
    verticalScrollBar()->setValue(0);
    dataStorage = std::move(storage);
    selectionBegin = selectionEnd = selectionAnchor = cursorPosition = 0;
    updateScrollRange();
    viewport()->update();
}

void QHexView::clear()
{
    verticalScrollBar()->setValue(0);
}

void QHexView::showFromOffset(std::uint64_t offset)
{
    if (!dataStorage || offset >= dataSize())
        return;
    setCursorPos(2 * static_cast<qint64>(offset));
    updateScrollRange();
    verticalScrollBar()->setValue(static_cast<int>(cursorPosition / NibblesPerLine));
}

QSize QHexView::fullSize() const
{
    if (!dataStorage)
        return QSize(0, 0);
    return QSize(asciiColumnX + BytesPerLine * charWidth,
        static_cast<int>(std::min<qint64>(charHeight * lineCount(), std::numeric_limits<int>::max())));
}

qint64 QHexView::cursorPos(const QPoint& point) const
{
    const qint64 x = point.x();
    if (x < hexColumnX || x >= hexColumnX + HexColumnChars * charWidth)
        return -1;
    const qint64 column = (x - hexColumnX) / charWidth;
    // The blank after a byte counts as its low digit.
    const qint64 digit = 2 * (column / 3) + (column % 3 == 0 ? 0 : 1);
    return (point.y() / charHeight + verticalScrollBar()->value()) * NibblesPerLine + digit;
}

void QHexView::setCursorPos(qint64 position)
{
    cursorPosition = std::clamp<qint64>(position, 0, greatestCursorPosition());
}

void QHexView::resetSelection()
{
    selectionBegin = selectionEnd = selectionAnchor;
}

void QHexView::resetSelection(qint64 position)
{
    selectionAnchor = selectionBegin = selectionEnd = clampedToData(position);
}

void QHexView::setSelection(qint64 position)
{
    const qint64 p = clampedToData(position);
    selectionBegin = std::min(selectionAnchor, p);
    selectionEnd = std::max(selectionAnchor, p);
}

void QHexView::ensureVisible()
{
    updateScrollRange();
    const qint64 first = verticalScrollBar()->value();
    const qint64 line = cursorPosition / NibblesPerLine;
    const qint64 page = visibleLineCount();
    if (first > line)
        verticalScrollBar()->setValue(static_cast<int>(line));
    else if (first + page <= line)
        verticalScrollBar()->setValue(static_cast<int>(line + 1 - page));
}

void QHexView::mousePressEvent(QMouseEvent* event)
{
    const qint64 p = cursorPos(event->position().toPoint());
    if ((QGuiApplication::keyboardModifiers() & Qt::ShiftModifier) && event->button() == Qt::LeftButton)
        setSelection(p);
    else
        resetSelection(p);
    setCursorPos(p);
    viewport()->update();
}

void QHexView::mouseMoveEvent(QMouseEvent* event)
{
    const qint64 p = cursorPos(event->position().toPoint());
    setCursorPos(p);
    setSelection(p);
    viewport()->update();
}

void QHexView::keyPressEvent(QKeyEvent* event)
{
    bool matched = false;
    const qint64 page = std::max<qint64>(visibleLineCount() - 1, 0);
    const qint64 end = 2 * static_cast<qint64>(dataSize());
    for (const KeyMove& move : KeyMoves) {
        if (!event->matches(move.key))
            continue;
        matched = true;
        setCursorPos(move.target(cursorPosition, page, end));
        if (move.select)
            setSelection(cursorPosition);
        else
            resetSelection(cursorPosition);
    }
    if (event->matches(QKeySequence::SelectAll)) {
        matched = true;
        resetSelection(0);
        if (dataStorage)
            setSelection(end);
    }
    if (event->matches(QKeySequence::Copy)) {
        matched = true;
        copySelection();
    }
    if (matched)
        ensureVisible();
    viewport()->update();
    event->accept();
}

void QHexView::paintEvent(QPaintEvent* event)
{
    if (!dataStorage)
        return;
    updateScrollRange();
    QPainter painter(viewport());
    const QPalette& colours = palette();
    const int height = viewport()->height();
    const qint64 first = verticalScrollBar()->value();
    const int shown = static_cast<int>(std::clamp<qint64>(lineCount() - first, 0, height / charHeight));
    const QRect area = event->rect();

    painter.fillRect(area, colours.color(QPalette::Base));
    const QRect addressArea(QPoint(addressColumnX, area.top()),
        QPoint(addressColumnX + hexColumnX - 9, area.top() + height - 1));
    painter.fillRect(addressArea, colours.color(QPalette::AlternateBase));
    painter.setPen(Qt::gray);
    painter.drawLine(asciiColumnX - 8, area.top(), asciiColumnX - 8, height);

    const QPen textPen(colours.color(QPalette::Text));
    const QPen selectedPen(colours.color(QPalette::HighlightedText));
    painter.setPen(textPen);
    painter.setBackground(colours.brush(QPalette::Highlight));
    const QByteArray bytes = dataStorage->getData(static_cast<std::uint64_t>(first * BytesPerLine),
        static_cast<std::uint64_t>(shown * BytesPerLine));

    for (int line = 0; line < shown; ++line) {
        const int y = (line + 1) * charHeight;
        const int lineStart = line * BytesPerLine;
        const qint64 address = (first + line) * BytesPerLine;
        painter.drawText(addressColumnX, y, QStringLiteral("%1").arg(address, 10, 16, QLatin1Char('0')));
        const int present = static_cast<int>(std::clamp<qsizetype>(bytes.size() - lineStart, 0, BytesPerLine));
        for (int i = 0; i < present; ++i) {
            const auto byte = static_cast<unsigned char>(bytes.at(lineStart + i));
            const qint64 position = 2 * ((first + line) * BytesPerLine + i);
            for (int low = 0; low < 2; ++low) {
                const bool selected = selectionBegin <= position + low && position + low < selectionEnd;
                painter.setPen(selected ? selectedPen : textPen);
                painter.setBackgroundMode(selected ? Qt::OpaqueMode : Qt::TransparentMode);
                painter.drawText(hexColumnX + (3 * i + low) * charWidth, y, QString(hexDigit(low ? byte : byte >> 4)));
            }
            painter.setPen(textPen);
            painter.setBackgroundMode(Qt::TransparentMode);
            const QChar ascii = byte >= 0x20 && byte <= 0x7e ? QLatin1Char(char(byte)) : QLatin1Char('.');
            painter.drawText(asciiColumnX + i * charWidth, y, QString(ascii));
        }
    }

    if (hasFocus()) {
        const qint64 column = 3 * ((cursorPosition / 2) % BytesPerLine) + cursorPosition % 2;
        const qint64 line = cursorPosition / NibblesPerLine - first;
        const auto y = static_cast<int>(std::clamp<qint64>(line * charHeight + 4, -charHeight, height));
        painter.fillRect(QRect(static_cast<int>(hexColumnX + column * charWidth), y, 2, charHeight),
            colours.color(QPalette::WindowText));
    }
}

std::uint64_t QHexView::dataSize() const
{
    return dataStorage ? dataStorage->size() : 0;
}

qint64 QHexView::lineCount() const
{
    const auto size = static_cast<qint64>(dataSize());
    return size / BytesPerLine + (size % BytesPerLine ? 1 : 0);
}

qint64 QHexView::greatestCursorPosition() const
{
    const auto size = static_cast<qint64>(dataSize());
    return 2 * size + (size % BytesPerLine ? 1 : 0);
}

qint64 QHexView::clampedToData(qint64 position) const
{
    return std::clamp<qint64>(position, 0, 2 * static_cast<qint64>(dataSize()));
}

qint64 QHexView::visibleLineCount() const
{
    return viewport()->height() / charHeight;
}

void QHexView::updateScrollRange()
{
    const qint64 height = viewport()->height();
    // Signed: a dump shorter than the viewport gives a negative difference.
    const qint64 maximum = (lineCount() * charHeight - height) / charHeight + 1;
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(static_cast<int>(height / charHeight));
    bar->setRange(0, static_cast<int>(std::clamp<qint64>(maximum, 0, std::numeric_limits<int>::max())));
}

void QHexView::copySelection()
{
    const qint64 count = selectionEnd - selectionBegin;
    // Nothing selected: the clipboard keeps what it holds.
    if (!dataStorage || count <= 0)
        return;
    const qint64 firstByte = selectionBegin / 2;
    const QByteArray bytes = dataStorage->getData(static_cast<std::uint64_t>(firstByte),
        static_cast<std::uint64_t>((selectionEnd + 1) / 2 - firstByte));
    const auto byteAt = [&bytes](qint64 index) { return static_cast<unsigned char>(bytes.at(index)); };
    QString text;
    qint64 start = 0;
    if (selectionBegin % 2 && !bytes.isEmpty()) {
        text += hexDigit(byteAt(0));
        text += QLatin1Char(' ');
        start = 1;
    }
    // A blank after each whole byte, a line break after every sixteenth.
    for (qint64 i = start; i < count; i += 2) {
        const qint64 index = (start + i) / 2;
        if (index >= bytes.size())
            break;
        text += hexDigit(byteAt(index) >> 4);
        if (i + 1 < count) {
            text += hexDigit(byteAt(index));
            text += QLatin1Char(' ');
        }
        if ((i / 2) % BytesPerLine == BytesPerLine - 1)
            text += QLatin1Char('\n');
    }
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text, QClipboard::Clipboard);
}
