#include "tray_command_lines.h"

#include "bounded_format.h"

const char* OneTimeScheduleWord(unsigned uiLanguage)
{
    return uiLanguage == kLanguagePortugueseBrazil ? "UMA VEZ" : "ONCE";
}

int ComposeCommitCommand(char* out, std::size_t size, const char* taskFile)
{
    return FormatWhole(out, size, "schtasks /create /tn Nimbet /xml \"%s\" /f", taskFile);
}

int ComposeLegacyCommitCommand(char* out, std::size_t size, const char* scheduleWord, const char* directory,
                               const char* startTime)
{
    return FormatWhole(out, size,
                       "schtasks /create /sc \"%s\" /tn \"Nimbet\" /tr \"\\\"%s\\bin\\Nimbet.exe\\\" /start\" /st %s "
                       "/ru system",
                       scheduleWord, directory, startTime);
}

int ComposeRunValue(char* out, std::size_t size, const char* directory)
{
    return FormatWhole(out, size, "\"%s\\bin\\Nimbet.exe\" /Start", directory);
}
