// The account rules as the tests state them, written apart from the loop's
// own code so that a test compares two readings of them: which state a status
// word gives the account, and in which states the scheduled checks run.
#pragma once

#include <cctype>
#include <string>

#include "monitor_decisions.h"

// Status words are compared without regard to case.
inline bool SameWord(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && b[i] == '\0';
}

// The state a word read at start-up gives; a word a check brings changes the
// state the same way, except that an unknown one leaves it as it was.
inline AccountState AccountOfWord(const std::string& word)
{
    if (SameWord(word, "bloqueado"))
        return AccountState::Blocked;
    if (SameWord(word, "cancelado") || SameWord(word, "duplicado"))
        return AccountState::Cancelled;
    return SameWord(word, "ativo") ? AccountState::Active : AccountState::Pending;
}

inline bool ChecksRun(AccountState account) { return account == AccountState::Active || account == AccountState::Pending; }
