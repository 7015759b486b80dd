// Command-line switches of both deliverables: "-" or "/" followed by a word,
// compared without regard to case and always as a whole word.
#pragma once

#include <cstring>
#ifndef _WIN32
#include <strings.h>
#endif

// The word after the prefix, or null when `argument` is null or has no
// "-" or "/" prefix.
inline const char* SwitchWord(const char* argument)
{
    if (argument == nullptr || (argument[0] != '-' && argument[0] != '/'))
        return nullptr;
    return argument + 1;
}

// 1 when the switch word `word` (from SwitchWord) is `name`, any letter case.
inline int IsSwitchNamed(const char* word, const char* name)
{
#ifdef _WIN32
    return _stricmp(word, name) == 0 ? 1 : 0;
#else
    return strcasecmp(word, name) == 0 ? 1 : 0;
#endif
}
