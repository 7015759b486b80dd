// The texts that "-install" and "-commit" hand to schtasks and to the Run
// key, composed from the installation directory (without its trailing
// backslash), the task file and the start time. Each returns 1, or 0 with `out`
// emptied when the text does not fit `size`: a cut command line would name
// another program or account.
#pragma once

#include <cstddef>

// System default UI languages with a schtasks word of their own for a
// one-time schedule.
inline constexpr unsigned kLanguageEnglishUs = 1033;
inline constexpr unsigned kLanguagePortugueseBrazil = 1046;

// The schedule-type word that the local schtasks of earlier Windows takes
// for a one-time task: "UMA VEZ" for 1046, "ONCE" for 1033 and every other
// language.
const char* OneTimeScheduleWord(unsigned uiLanguage);

// Vista and later: the one-shot task from its definition in `taskFile`,
// replacing one of that name. Its account logs on by its desktop session, so
// schtasks never asks for a password (the "/ru" form would, on its input,
// which nobody writes).
int ComposeCommitCommand(char* out, std::size_t size, const char* taskFile);

// Earlier Windows: the one-shot task under the system account.
int ComposeLegacyCommitCommand(char* out, std::size_t size, const char* scheduleWord, const char* directory,
                               const char* startTime);

// The Run value: the quoted tray program followed by " /Start".
int ComposeRunValue(char* out, std::size_t size, const char* directory);
