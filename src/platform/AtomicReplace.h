#pragma once

#include "Result.h"
#include "SystemError.h"

#include <QString>

#include <cstdio>
#include <optional>

// Puts a completely written file in the place of another one in one step, so
// that a reader of the target sees either the old or the new complete file.
class AtomicReplace {
public:
    // The file that a save to `path` must replace: `path` itself, or, when it
    // is a symbolic link, the file the link (and any link it leads to) points
    // to, whether or not that exists yet. Replacing the link itself would turn
    // it into a regular file and leave its target stale. Fails with ELOOP
    // after 40 links.
    static Result<QString, SystemError> resolveTarget(const QString& path);

    // Flushes the stream, syncs the file to disk and closes the stream, each step
    // checked. The stream is closed in every case. Empty on success.
    static std::optional<SystemError> finishFile(std::FILE* stream);

    // Renames `temporaryPath` over `targetPath` (same directory): replaces an
    // existing target or creates it. On failure both files stay as they were.
    static std::optional<SystemError> replaceFile(const QString& temporaryPath, const QString& targetPath);
};
