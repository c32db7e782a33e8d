#include "SyntaxHighlighter.h"

#include <QElapsedTimer>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QVarLengthArray>

#include <algorithm>

namespace Highlighting {

SyntaxHighlighter::SyntaxHighlighter(QTextDocument* document)
    : QObject(document)
{
    m_nextSlice.setSingleShot(true);
    m_nextSlice.setInterval(0);
    connect(&m_nextSlice, &QTimer::timeout, this, &SyntaxHighlighter::highlightSlice);
    if (document) {
        connect(document, &QTextDocument::contentsChange, this, &SyntaxHighlighter::onContentsChange);
    }
}

void SyntaxHighlighter::setDefinition(const Definition& definition)
{
    if (definition == m_definition) {
        return;
    }
    m_definition = definition;
    highlightFrom(0);
}

void SyntaxHighlighter::setTheme(const Theme& theme)
{
    if (theme == m_theme) {
        return;
    }
    m_theme = theme;
    highlightFrom(0);
}

QTextDocument* SyntaxHighlighter::document() const
{
    return static_cast<QTextDocument*>(parent());
}

void SyntaxHighlighter::onContentsChange(int position, int, int)
{
    if (!m_applying) {
        highlightFrom(document()->findBlock(position).blockNumber());
    }
}

void SyntaxHighlighter::highlightFrom(int blockNumber)
{
    m_firstPending = std::min(m_firstPending, std::max(blockNumber, 0));
    highlightSlice();
}

// Highlights pending blocks from the first one for at most SliceBudgetMs,
// has the layout take the new formats at once, and leaves what is still
// pending to the next turn of the event loop.
void SyntaxHighlighter::highlightSlice()
{
    if (!document()) {
        return;
    }
    QElapsedTimer slice;
    slice.start();
    QTextBlock block = document()->findBlockByNumber(m_firstPending);
    int changedFrom = -1;
    int changedTo = -1;
    while (block.isValid() && slice.elapsed() < SliceBudgetMs) {
        if (highlightBlock(block)) {
            changedFrom = changedFrom < 0 ? block.position() : changedFrom;
            changedTo = block.position() + block.length();
        }
        block = block.next();
    }
    m_firstPending = block.isValid() ? block.blockNumber() : NothingPending;
    if (changedFrom >= 0) {
        const QScopedValueRollback<bool> applying(m_applying, true);
        document()->markContentsDirty(changedFrom, changedTo - changedFrom);
    }
    if (m_firstPending != NothingPending) {
        m_nextSlice.start();
    }
}

// Styles one block from the state at the end of the block before and stores
// its own end state; tells whether its formats changed.
bool SyntaxHighlighter::highlightBlock(QTextBlock& block) const
{
    const QString text = block.text();
    QVarLengthArray<qint8, 256> styles(text.size(), qint8(-1));
    const auto mark = [&styles](int start, int length, TextStyle style) {
        const qsizetype from = std::clamp<qsizetype>(start, 0, styles.size());
        std::fill(styles.begin() + from, styles.begin() + std::clamp<qsizetype>(from + length, from, styles.size()),
            qint8(style));
    };
    const QTextBlock previous = block.previous();
    block.setUserState(m_definition.highlightLine(text, previous.isValid() ? previous.userState() : -1, mark));

    QList<QTextLayout::FormatRange> ranges;
    for (qsizetype start = 0; start < styles.size();) {
        qsizetype end = start + 1;
        while (end < styles.size() && styles[end] == styles[start]) {
            ++end;
        }
        if (styles[start] >= 0) {
            ranges.append({ int(start), int(end - start), m_theme.format(TextStyle(styles[start])) });
        }
        start = end;
    }
    QTextLayout* layout = block.layout();
    if (layout->formats() == ranges) {
        return false;
    }
    layout->setFormats(ranges);
    return true;
}

} // namespace Highlighting
