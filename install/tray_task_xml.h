// The tray task's definition for the Task Scheduler: one line, no white space
// between elements, narrow text with a declaration that names UTF-16 and no
// byte-order mark (the form schtasks /xml takes), written in three pieces.
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

// `text` with "&", "<" and ">" as entities, into `out`. Returns 1, or 0 with
// `out` emptied when it does not fit.
int EscapeXmlText(const char* text, char* out, std::size_t size);
