#pragma once

#include <QString>

#include <optional>

// Helpers for the files that belong to a cluster configuration.

// Removes one leading "./" from a stored relative path; anything else is
// returned unchanged.
QString cleanupRelativePath(const QString& path);

// The file or directory that a path stored in a cluster configuration names:
// a relative one lies in the clusters directory.
QString resolveClusterPath(const QString& stored);

// True when `path` is `directory` or lies below it; both are compared as given,
// so they are expected resolved already.
bool isSameOrInside(const QString& path, const QString& directory);

// Where `path` lies in `directory` when reaching it passes through that
// directory under any spelling: the path lies in it as written, or the path
// or one of its leading parts resolves (symbolic links followed) to the
// directory or below it. A ".." in either leads where the system takes it:
// after a symbolic link, to the parent of the link's target. Both are
// absolute. The answer is relative to the directory, "." for the directory
// itself, and spelled from the longest part that leads in; nothing when the
// path does not pass through it. A part that does not resolve (missing, or a
// link loop, which the system answers with an error) does not lead in; each
// part is resolved once, so the look-up ends.
std::optional<QString> pathWithin(const QString& path, const QString& directory);

// Copies one file, creating the destination's directory first. False when the
// source is not a file or the destination exists (it is not overwritten).
bool copyFile(const QString& source, const QString& destination);

// Copies a directory tree (hidden entries excluded), subdirectories of each
// level before its files. False when the source is not a directory, the
// destination is the source or lies inside it, or any copy fails; files copied
// before a failure stay. Symbolic links to directories are followed, except
// those that lead back into a directory being copied.
bool copyPath(const QString& source, const QString& destination);
