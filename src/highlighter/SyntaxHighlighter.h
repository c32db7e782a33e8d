#pragma once

#include "Definition.h"
#include "Theme.h"

#include <QObject>
#include <QTimer>

#include <limits>

class QTextBlock;
class QTextDocument;

namespace Highlighting {

// Highlights a QTextDocument (its parent) with a definition's styles in a
// theme's formats, as additional formats of the blocks' layouts; each block's
// user state holds the definition's state at the end of the block. With an
// invalid definition the text is left without formats.
//
// After a change of the text, the definition or the theme, every block from
// the first one concerned to the end is pending. The pending blocks are highlighted from
// the top down in slices of at most SliceBudgetMs: the first slice at once,
// the others from the event loop, one per turn. So a document of tens of
// thousands of lines is highlighted without freezing the window, and what the
// view shows first (its top) is highlighted first; blocks still pending keep
// the formats they had. (QSyntaxHighlighter would go over every block of a
// change at once, and have each one laid out again on its own.)
//
// GUI thread only, like the document.
class SyntaxHighlighter : public QObject {
    Q_OBJECT

public:
    // Milliseconds of highlighting in one slice.
    static constexpr qint64 SliceBudgetMs = 8;

    // Highlights `document` (not null) and is deleted with it.
    explicit SyntaxHighlighter(QTextDocument* document);

    // Both highlight the whole document again when they change something.
    void setDefinition(const Definition& definition);
    void setTheme(const Theme& theme);

private:
    void onContentsChange(int position, int charsRemoved, int charsAdded);
    void highlightFrom(int blockNumber);
    void highlightSlice();
    bool highlightBlock(QTextBlock& block) const;
    QTextDocument* document() const;

    static constexpr int NothingPending = std::numeric_limits<int>::max();

    Definition m_definition;
    Theme m_theme;
    // The number of the first pending block; every block after it is pending too.
    int m_firstPending = NothingPending;
    // Goes on with the pending blocks from the event loop.
    QTimer m_nextSlice;
    // Set while formats are applied, whose change notices are not changes of the text.
    bool m_applying = false;
};

} // namespace Highlighting
