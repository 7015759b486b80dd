// The tray tasks' definitions for the Task Scheduler: one line, no white space
// between elements, composed as narrow text in the ANSI code page under a
// declaration that names UTF-16, in three pieces. The file handed to
// schtasks /xml must be that text converted to UTF-16LE behind its
// byte-order mark: Windows' task reader refuses narrow bytes under that
// declaration.
#pragma once

#include <cstddef>

#include "ferolin_limits.h"

struct TrayTaskPieces {
    char piece[3][kTaskPieceSize];
};

// Composes the document for the account `userId` and the tray program
// "directory\bin\Nimbet.exe" (`directory` without a trailing backslash). Both
// values are escaped for XML ("&", "<", ">"). Returns 1, or 0 when a piece
// does not fit its kTaskPieceSize buffer.
int ComposeTrayTask(const char* directory, const char* userId, TrayTaskPieces* pieces);

// The same for the one-shot start: a time trigger at `startBoundary`
// ("YYYY-MM-DDTHH:MM:SS", local time) instead of the logon trigger, and the
// tray program started with "/start".
int ComposeCommitTask(const char* directory, const char* userId, const char* startBoundary, TrayTaskPieces* pieces);

// `text` with "&", "<" and ">" as entities, into `out`. Returns 1, or 0 with
// `out` emptied when it does not fit.
int EscapeXmlText(const char* text, char* out, std::size_t size);
