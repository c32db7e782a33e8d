#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>

#include <cstdint>
#include <memory>

// A read-only hex dump: an address column, sixteen bytes per line in hex and
// the same bytes as ASCII. Only the visible lines are read from the storage
// and drawn. The cursor and the selection run over nibbles (hex digits):
// byte b has its high digit at position 2b and its low digit at 2b + 1, and a
// line holds 32 positions. The selection never reaches past the data; the
// selected digits are copied to the clipboard as hex text.
class QHexView : public QAbstractScrollArea {
    Q_OBJECT

public:
    // Where the bytes come from; owned by the view.
    class DataStorage {
    public:
        virtual ~DataStorage() = default;
        // At most `length` bytes from `position`; fewer at the end.
        virtual QByteArray getData(std::uint64_t position, std::uint64_t length) = 0;
        virtual std::uint64_t size() = 0;
    };

    class DataStorageArray : public DataStorage {
    public:
        explicit DataStorageArray(QByteArray data);
        QByteArray getData(std::uint64_t position, std::uint64_t length) override;
        std::uint64_t size() override;

    private:
        QByteArray data;
    };

    explicit QHexView(QWidget* parent = nullptr);
    ~QHexView() override;

    // Shows the storage (none with null) from the top, cursor and selection at 0.
    void setData(std::unique_ptr<DataStorage> storage);
    // Scrolls to the top.
    void clear();
    // Puts the cursor on the byte at `offset` and scrolls its line to the top.
    void showFromOffset(std::uint64_t offset);
    // The whole dump; (0, 0) without data.
    QSize fullSize() const;

    // The nibble under a viewport point, or -1 outside the hex column.
    qint64 cursorPos(const QPoint& point) const;
    // Clamped to 0 .. the greatest cursor position.
    void setCursorPos(qint64 position);
    // Collapses the selection at the anchor, or at a new anchor `position`.
    void resetSelection();
    void resetSelection(qint64 position);
    // Selects from the anchor to `position`.
    void setSelection(qint64 position);
    // Scrolls the least so that the cursor's line is visible.
    void ensureVisible();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::uint64_t dataSize() const;
    qint64 lineCount() const;
    qint64 greatestCursorPosition() const;
    // Selection positions lie in 0 .. 2 x size (the end is exclusive).
    qint64 clampedToData(qint64 position) const;
    qint64 visibleLineCount() const;
    void updateScrollRange();
    void copySelection();

    std::unique_ptr<DataStorage> dataStorage;
    // Pixels.
    int addressColumnX = 0;
    int hexColumnX = 0;
    int asciiColumnX = 0;
    int charWidth = 1;
    int charHeight = 1;
    qint64 selectionBegin = 0;
    qint64 selectionEnd = 0;
    qint64 selectionAnchor = 0;
    qint64 cursorPosition = 0;
};
