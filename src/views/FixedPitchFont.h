#pragma once

#include <QFont>

// The font of views that line text up in columns (the hex view, the record
// value pane): the system's fixed font when its glyphs all have the same
// advance, otherwise, at the same size, the first installed family that the
// font database calls fixed-pitch, or whose name says "Mono", and whose glyphs
// measure so. Font setups differ: "monospace" may resolve to a family that does
// not declare itself fixed-pitch (Noto Sans Mono) or to a proportional one.
// The system's fixed font when no family measures fixed. GUI thread only.
QFont fixedPitchFont();
