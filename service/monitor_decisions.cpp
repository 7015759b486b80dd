#include "monitor_decisions.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bounded_format.h"

namespace {

constexpr char kWordActive[] = "ativo";
constexpr char kWordBlocked[] = "bloqueado";
constexpr char kWordCancelled[] = "cancelado";
constexpr char kWordDuplicated[] = "duplicado";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Removes the VPN configuration and notes whether it is still there, to be
// tried again; true for the callers, which report that a removal was tried.
bool RemoveConfiguration(MonitorState& state, MonitorEffects& effects)
{
    state.configRemovalPending = !effects.RemoveConfiguration();
    return true;
}

// A successful check brought `word`, which differs from the last one. True
// when the configuration removal was tried.
bool ActOnNewWord(MonitorState& state, MonitorEffects& effects, const char* word)
{
    if (SameStatusWord(word, kWordActive)) {
        // The configuration is wanted again: a removal still owed is not.
        state.configRemovalPending = false;
        if (state.account == AccountState::Blocked)
            effects.RefetchConfiguration();
        state.account = AccountState::Active;
    } else if (SameStatusWord(word, kWordBlocked)) {
        state.account = AccountState::Blocked;
        return EnforceBlock(state, effects);
    } else if (SameStatusWord(word, kWordCancelled) || SameStatusWord(word, kWordDuplicated)) {
        state.account = AccountState::Cancelled;
        return EnforceBlock(state, effects);
    }
    return false;
}

bool AfterSuccessfulCheck(MonitorState& state, MonitorEffects& effects, std::int64_t now, const char* word)
{
    char today[kDayStampSize];
    FormatDayStamp(now, today);
    effects.WriteStatusDay(today);

    if (SameStatusWord(word, state.lastStatus)) {
        if (RunsScheduledChecks(state.account) && now < state.nextUpdate && effects.ConfigFileMissing())
            effects.RefetchConfiguration();
        return false;
    }
    const bool removalTried = ActOnNewWord(state, effects, word);
    CopyWhole(state.lastStatus, sizeof state.lastStatus, word);
    return removalTried;
}

// No successful check: once the last successful one is seven days old, the
// connection is blocked, at every failed check.
bool AfterFailedCheck(MonitorState& state, MonitorEffects& effects, std::int64_t now)
{
    char today[kDayStampSize];
    char weekAgo[kDayStampSize];
    FormatDayStamp(now, today);
    FormatDayStamp(now - kStatusGraceSeconds, weekAgo);

    char lastSuccess[kMonitorStatusDaySize];
    if (!effects.ReadStatusDay(lastSuccess)) {
        effects.WriteStatusDay(today);
        CopyWhole(lastSuccess, sizeof lastSuccess, today);
    }
    if (std::strcmp(lastSuccess, weekAgo) > 0)
        return false;
    state.account = AccountState::Blocked;
    // The server's last word is most likely "ativo" still: forgetting it
    // makes that word, when the server answers again, the change that
    // restores the configuration and the scheduled checks. Otherwise the
    // account would stay blocked until the service restarts.
    state.lastStatus[0] = '\0';
    effects.LogSevenDayBlock();
    effects.StopVpnElevated();
    return RemoveConfiguration(state, effects);
}

void CheckAccountStatus(MonitorState& state, MonitorEffects& effects, std::int64_t now)
{
    effects.RecordCheckTime(now);
    char word[kMonitorStatusWordSize];
    const bool removalTried = effects.CheckStatus(word) ? AfterSuccessfulCheck(state, effects, now, word)
                                                        : AfterFailedCheck(state, effects, now);
    // A configuration that a user keeps open (without delete sharing) must
    // not outlast the block: it goes as soon as the file is let go of.
    if (!removalTried && state.configRemovalPending && !RunsScheduledChecks(state.account))
        RemoveConfiguration(state, effects);
}

// No pass ever sets a schedule further ahead than its own interval, so one
// that is has seen the clock set back (a time sync after a dead battery, a
// restored virtual machine). Left alone, it would hold back the status
// check, the seven-day rule and the scheduled update until the clock caught
// up again: a day, or a year. The status check comes at once, the update
// one interval from now.
void ResetSchedulesAfterClockSetBack(MonitorState& state, MonitorEffects& effects, std::int64_t now)
{
    if (state.nextStatusCheck - now > kStatusCheckInterval)
        state.nextStatusCheck = now;
    const std::int64_t interval = state.updateHours * kSecondsPerHour;
    if (state.nextUpdate - now > interval) {
        effects.LogScheduleRestart(state.nextUpdate, now);
        state.nextUpdate = now + interval;
    }
}

void RunScheduledUpdate(MonitorState& state, MonitorEffects& effects, std::int64_t now)
{
    effects.AnnounceUpdate();
    const std::int64_t interval = state.updateHours * kSecondsPerHour;
    state.nextUpdate += interval;
    if (state.nextUpdate <= now) {
        // Suspended, or the clock jumped: the schedule starts again from now.
        effects.LogScheduleRestart(state.nextUpdate, now);
        state.nextUpdate = now + interval;
    }
    effects.RunUpdateChecks();
}

} // namespace

bool SameStatusWord(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b))
            return false;
        if (*a == '\0')
            return true;
    }
}

AccountState StateOfWord(const char* word)
{
    if (SameStatusWord(word, kWordBlocked))
        return AccountState::Blocked;
    if (SameStatusWord(word, kWordCancelled) || SameStatusWord(word, kWordDuplicated))
        return AccountState::Cancelled;
    if (SameStatusWord(word, kWordActive))
        return AccountState::Active;
    return AccountState::Pending;
}

bool RunsScheduledChecks(AccountState account)
{
    return account == AccountState::Active || account == AccountState::Pending;
}

void FormatDayStamp(std::int64_t time, char (&stamp)[kDayStampSize])
{
    std::time_t value = static_cast<std::time_t>(time);
    const std::tm* local = std::localtime(&value);
    if (local == nullptr ||
        !FormatWhole(stamp, sizeof stamp, "%03d%02d%02d", local->tm_year, local->tm_mon, local->tm_mday))
        stamp[0] = '\0';
}

int UpdateHoursFromText(const char* text)
{
    const long hours = std::strtol(text, nullptr, 10);
    if (hours < kMinUpdateHours || hours > kMaxUpdateHours)
        return kDefaultUpdateHours;
    return static_cast<int>(hours);
}

bool EnforceBlock(MonitorState& state, MonitorEffects& effects)
{
    if (state.account == AccountState::Cancelled)
        effects.StopVpnElevated();
    else
        effects.StopVpnService();
    return RemoveConfiguration(state, effects);
}

void RunMonitorPass(MonitorState& state, MonitorEffects& effects, std::int64_t now)
{
    ResetSchedulesAfterClockSetBack(state, effects, now);
    if (now >= state.nextStatusCheck) {
        state.nextStatusCheck = now + kStatusCheckInterval;
        CheckAccountStatus(state, effects, now);
        effects.CleanUpInstallation();
    }
    if (RunsScheduledChecks(state.account) && now >= state.nextUpdate)
        RunScheduledUpdate(state, effects, now);
}
