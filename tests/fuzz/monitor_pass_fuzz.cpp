// The monitoring loop's decisions over arbitrary status words, stored day
// stamps, clock jumps and check outcomes. Each pass's effects are recorded
// and compared with what the account rules demand for that pass, so a pass
// that runs the scheduled checks of a blocked account, keeps a blocked VPN
// configuration, blocks before seven days, loses its schedule or lets a clock
// set back or forward hold a schedule back is a finding. The rules below use
// none of the loop's own helpers (the account rules are the tests' own
// statement of them), so a fault there cannot hide itself.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "account_rules.h"
#include "monitor_decisions.h"

namespace {

enum class Effect {
    RecordCheckTime,
    CheckStatus,
    ReadStatusDay,
    WriteStatusDay,
    ConfigFileMissing,
    Refetch,
    StopService,
    StopElevated,
    Remove,
    SevenDayLog,
    CleanUp,
    Announce,
    ScheduleRestart,
    UpdateChecks,
};

// The stored "ts_stt" lives on between passes, as in the settings key.
struct Recorder final : MonitorEffects {
    bool checkSucceeds = false;
    std::string word;
    bool configMissing = false;
    bool removalWorks = true;
    bool dayStored = false;
    std::string storedDay;
    std::vector<Effect> seen;

    void RecordCheckTime(std::int64_t) override { seen.push_back(Effect::RecordCheckTime); }
    // A stored text too long for the reader's buffer counts as missing.
    template <std::size_t N>
    static bool Read(bool stored, const std::string& text, char (&out)[N])
    {
        if (!stored || text.size() >= N)
            return false;
        std::memcpy(out, text.c_str(), text.size() + 1);
        return true;
    }
    bool CheckStatus(char (&out)[kMonitorStatusWordSize]) override
    {
        seen.push_back(Effect::CheckStatus);
        return Read(checkSucceeds, word, out);
    }
    bool ReadStatusDay(char (&out)[kMonitorStatusDaySize]) override
    {
        seen.push_back(Effect::ReadStatusDay);
        return Read(dayStored, storedDay, out);
    }
    void WriteStatusDay(const char* day) override
    {
        seen.push_back(Effect::WriteStatusDay);
        dayStored = true;
        storedDay = day;
    }
    bool ConfigFileMissing() override
    {
        seen.push_back(Effect::ConfigFileMissing);
        return configMissing;
    }
    void RefetchConfiguration() override { seen.push_back(Effect::Refetch); }
    void StopVpnService() override { seen.push_back(Effect::StopService); }
    void StopVpnElevated() override { seen.push_back(Effect::StopElevated); }
    bool RemoveConfiguration() override
    {
        seen.push_back(Effect::Remove);
        return removalWorks;
    }
    void LogSevenDayBlock() override { seen.push_back(Effect::SevenDayLog); }
    void CleanUpInstallation() override { seen.push_back(Effect::CleanUp); }
    void AnnounceUpdate() override { seen.push_back(Effect::Announce); }
    void LogScheduleRestart(std::int64_t, std::int64_t) override { seen.push_back(Effect::ScheduleRestart); }
    void RunUpdateChecks() override { seen.push_back(Effect::UpdateChecks); }
};

[[noreturn]] void Finding(const char* what, std::int64_t now)
{
    std::fprintf(stderr, "monitor pass: %s (now %lld)\n", what, static_cast<long long>(now));
    std::abort();
}

void Expect(bool holds, const char* what, std::int64_t now)
{
    if (!holds)
        Finding(what, now);
}

// The local day as years since 1900, months from zero and the day.
std::string Stamp(std::int64_t time)
{
    const std::time_t value = static_cast<std::time_t>(time);
    const std::tm* local = std::localtime(&value);
    if (local == nullptr)
        return "";
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%03d%02d%02d", local->tm_year, local->tm_mon, local->tm_mday);
    return stamp;
}

// A settings text ends at its first zero byte.
std::string Text(FuzzedDataProvider& in, std::size_t longest)
{
    std::string text = in.ConsumeRandomLengthString(longest);
    return text.substr(0, text.find('\0'));
}

// Words the server sends, in other cases too, and anything else.
std::string PickWord(FuzzedDataProvider& in)
{
    static const char* const kWords[] = {"ativo", "ATIVO", "bloqueado", "Bloqueado", "cancelado", "duplicado"};
    const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, std::size(kWords));
    if (pick < std::size(kWords))
        return kWords[pick];
    return Text(in, kMonitorStatusWordSize + 4);
}

// Dates from 1970 to the 29th century: the stamp's three-digit year holds
// up to 2899.
constexpr std::int64_t kLatestTime = 29000000000LL;
constexpr std::int64_t kDay = 86400;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    MonitorState state{};
    Recorder effects;
    std::int64_t now = in.ConsumeIntegralInRange<std::int64_t>(0, kLatestTime);

    state.updateHours = in.ConsumeIntegralInRange<int>(kMinUpdateHours, kMaxUpdateHours);
    state.nextStatusCheck = now;
    state.nextUpdate = now;
    const std::string startWord = PickWord(in);
    std::snprintf(state.lastStatus, sizeof state.lastStatus, "%s", startWord.c_str());
    state.account = in.ConsumeBool() ? AccountState::Active : AccountOfWord(startWord);
    if (in.ConsumeBool()) {
        effects.dayStored = true;
        effects.storedDay = in.ConsumeBool() ? Stamp(now - in.ConsumeIntegralInRange<std::int64_t>(0, 30 * kDay))
                                             : Text(in, kMonitorStatusDaySize + 4);
    }

    while (in.remaining_bytes() > 0) {
        // Mostly the loop's own rhythm, sometimes a suspension or a clock set
        // back or forward.
        std::int64_t step = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int64_t>(0, 400)
                                             : in.ConsumeIntegralInRange<std::int64_t>(-10 * kDay, 40 * kDay);
        if (now + step < 0 || now + step > kLatestTime)
            step = -step;
        now += step;
        effects.checkSucceeds = in.ConsumeBool();
        effects.word = PickWord(in);
        effects.configMissing = in.ConsumeBool();
        effects.removalWorks = in.ConsumeBool();
        effects.seen.clear();

        const MonitorState before = state;
        const bool dayWasStored = effects.dayStored;
        const std::string dayBefore = effects.storedDay;
        RunMonitorPass(state, effects, now);

        // What the account rules demand of this pass. A schedule further
        // ahead than its own interval was left by a clock set back since: the
        // status check is due at once, the update one interval from now.
        std::vector<Effect> expected;
        AccountState account = before.account;
        std::string lastStatus = before.lastStatus;
        const std::int64_t interval = before.updateHours * kSecondsPerHour;
        const std::int64_t statusAt = before.nextStatusCheck > now + 180 ? now : before.nextStatusCheck;
        std::int64_t updateAt = before.nextUpdate;
        if (updateAt > now + interval) {
            expected.push_back(Effect::ScheduleRestart);
            updateAt = now + interval;
        }
        bool removalPending = before.configRemovalPending;
        if (now >= statusAt) {
            expected.insert(expected.end(), {Effect::RecordCheckTime, Effect::CheckStatus});
            const bool success = effects.checkSucceeds && effects.word.size() < kMonitorStatusWordSize;
            if (success) {
                expected.push_back(Effect::WriteStatusDay);
                const std::string& word = effects.word;
                if (SameWord(word, before.lastStatus)) {
                    if (ChecksRun(account) && now < updateAt) {
                        expected.push_back(Effect::ConfigFileMissing);
                        if (effects.configMissing)
                            expected.push_back(Effect::Refetch);
                    }
                } else {
                    lastStatus = word;
                    if (SameWord(word, "ativo")) {
                        removalPending = false;
                        if (account == AccountState::Blocked)
                            expected.push_back(Effect::Refetch);
                        account = AccountState::Active;
                    } else if (SameWord(word, "bloqueado")) {
                        account = AccountState::Blocked;
                        expected.insert(expected.end(), {Effect::StopService, Effect::Remove});
                    } else if (SameWord(word, "cancelado") || SameWord(word, "duplicado")) {
                        account = AccountState::Cancelled;
                        expected.insert(expected.end(), {Effect::StopElevated, Effect::Remove});
                    }
                }
                Expect(effects.storedDay == Stamp(now), "a successful check did not store today's stamp", now);
            } else {
                expected.push_back(Effect::ReadStatusDay);
                const bool readable = dayWasStored && dayBefore.size() < kMonitorStatusDaySize;
                std::string lastSuccess = dayBefore;
                if (!readable) {
                    expected.push_back(Effect::WriteStatusDay);
                    lastSuccess = Stamp(now);
                }
                if (lastSuccess.compare(Stamp(now - 7 * kDay)) <= 0) {
                    account = AccountState::Blocked;
                    // Whatever word comes next lifts or confirms the block.
                    lastStatus.clear();
                    expected.insert(expected.end(), {Effect::SevenDayLog, Effect::StopElevated, Effect::Remove});
                }
                // Stamps order the days: one written by a check under seven
                // days ago never blocks.
                if (readable && dayBefore.size() == Stamp(now).size() && dayBefore.compare(Stamp(now - 6 * kDay)) >= 0)
                    Expect(account == before.account, "blocked before seven days had passed", now);
            }
            // A configuration still there after a block is tried again at
            // every check until it is gone, but not once the account is
            // active again (its configuration is fetched anew then).
            const bool removalTried = std::find(expected.begin(), expected.end(), Effect::Remove) != expected.end();
            if (!removalTried && before.configRemovalPending && !ChecksRun(account))
                expected.push_back(Effect::Remove);
            const bool removalNow = std::find(expected.begin(), expected.end(), Effect::Remove) != expected.end();
            Expect(state.configRemovalPending == (removalNow ? !effects.removalWorks : removalPending),
                   "a configuration left in place is not tried again", now);
            expected.push_back(Effect::CleanUp);
            Expect(state.nextStatusCheck == now + 180, "status schedule lost", now);
        } else {
            Expect(state.nextStatusCheck == statusAt, "status schedule moved without a check", now);
        }

        // A clock set forward by days: one late run, one line, and the
        // schedule again from now.
        if (ChecksRun(account) && now >= updateAt) {
            expected.push_back(Effect::Announce);
            if (updateAt + interval <= now) {
                expected.push_back(Effect::ScheduleRestart);
                Expect(state.nextUpdate == now + interval, "a restarted schedule is not one interval ahead", now);
            } else {
                Expect(state.nextUpdate == updateAt + interval, "the update schedule lost its phase", now);
            }
            expected.push_back(Effect::UpdateChecks);
        } else {
            Expect(state.nextUpdate == updateAt, "update schedule moved without an update", now);
        }
        // Whichever way the clock went, neither check is ever further away
        // than its own interval.
        Expect(state.nextStatusCheck - now <= 180 && state.nextUpdate - now <= interval,
               "a schedule is held back beyond its interval", now);

        Expect(effects.seen == expected, "the pass's effects differ from the account rules", now);
        Expect(state.account == account, "wrong account state after the pass", now);
        Expect(lastStatus == state.lastStatus, "wrong last status word after the pass", now);
    }
    return 0;
}
