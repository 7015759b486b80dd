// The monitoring loop's decisions, natively: what one pass does with the
// answer of the status check (the transition table, the seven-day rule, a
// configuration that could not be removed) and when it does it (the
// schedules, a clock set back or forward). Every effect goes to a recorder;
// the Windows effects themselves are the Wine tests' business.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "monitor_decisions.h"

namespace {

using Effects = std::vector<std::string>;

// 2026-12-07 12:00 UTC; the test runs in UTC, so day stamps are fixed.
constexpr std::int64_t kStart = 1796644800;
constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 24 * kHour;
constexpr char kToday[] = "1261107";

// What one pass did, in order. The stored "ts_stt" lives on between passes,
// as in the settings key.
struct Recorder final : MonitorEffects {
    std::optional<std::string> word; // what the status check leaves; none: it fails
    std::optional<std::string> storedDay;
    bool configMissing = false;
    bool removalWorks = true;
    Effects seen;

    void RecordCheckTime(std::int64_t) override { seen.push_back("record time"); }
    template <std::size_t N>
    static bool Read(const std::optional<std::string>& text, char (&out)[N])
    {
        if (!text || text->size() >= N)
            return false;
        std::snprintf(out, N, "%s", text->c_str());
        return true;
    }
    bool CheckStatus(char (&out)[kMonitorStatusWordSize]) override
    {
        seen.push_back("check");
        return Read(word, out);
    }
    bool ReadStatusDay(char (&out)[kMonitorStatusDaySize]) override
    {
        seen.push_back("read day");
        return Read(storedDay, out);
    }
    void WriteStatusDay(const char* day) override
    {
        seen.push_back("write day");
        storedDay = day;
    }
    bool ConfigFileMissing() override
    {
        seen.push_back("config missing?");
        return configMissing;
    }
    void RefetchConfiguration() override { seen.push_back("refetch"); }
    void StopVpnService() override { seen.push_back("stop"); }
    void StopVpnElevated() override { seen.push_back("stop elevated"); }
    bool RemoveConfiguration() override
    {
        seen.push_back("remove");
        return removalWorks;
    }
    void LogSevenDayBlock() override { seen.push_back("7d log"); }
    void CleanUpInstallation() override { seen.push_back("clean up"); }
    void AnnounceUpdate() override { seen.push_back("announce"); }
    // Times relative to the start, in hours where they are whole.
    void LogScheduleRestart(std::int64_t nextUpdate, std::int64_t now) override
    {
        seen.push_back("restart " + std::to_string(nextUpdate - kStart) + " " + std::to_string(now - kStart));
    }
    void RunUpdateChecks() override { seen.push_back("update checks"); }
};

// The state after a first pass at kStart with `word` stored: the status is
// due at +180 s, the update a whole interval on.
MonitorState StateAfterFirstPass(const char* word, int updateHours = 24)
{
    MonitorState state{};
    state.updateHours = updateHours;
    state.nextStatusCheck = kStart + 180;
    state.nextUpdate = kStart + updateHours * kHour;
    std::snprintf(state.lastStatus, sizeof state.lastStatus, "%s", word);
    state.account = StateOfWord(word);
    return state;
}

class MonitorDecisions : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

const Effects kSameWordCheck = {"record time", "check", "write day", "config missing?", "clean up"};

// --- the transition table: the status check of the second pass ------------------

struct Transition {
    const char* name;
    const char* from;                // the word stored before
    std::optional<std::string> word; // the check's answer; nullopt: the check fails
    std::optional<std::string> storedDay;
    bool removalPendingBefore;
    bool configMissing;
    bool removalWorks;
    Effects effects; // of the pass at +180 s
    AccountState after;
    const char* lastStatusAfter;
    bool removalPendingAfter;
    const char* storedDayAfter;
    bool updatesAtTheirTime; // a pass at +24 h runs the scheduled checks
};

// clang-format off
const Transition kTransitions[] = {
    {"SameWordConfigThere", "ativo", "ativo", {}, false, false, true,
     kSameWordCheck, AccountState::Active, "ativo", false, kToday, true},
    {"SameWordConfigMissing", "ativo", "ativo", {}, false, true, true,
     {"record time", "check", "write day", "config missing?", "refetch", "clean up"},
     AccountState::Active, "ativo", false, kToday, true},
    // A blocked account asks nothing about its configuration.
    {"SameWordInCapitals", "bloqueado", "BLOQUEADO", {}, false, true, true,
     {"record time", "check", "write day", "clean up"}, AccountState::Blocked, "bloqueado", false, kToday, false},
    {"BlockedToActive", "bloqueado", "ativo", {}, false, false, true,
     {"record time", "check", "write day", "refetch", "clean up"}, AccountState::Active, "ativo", false, kToday, true},
    {"CancelledToActive", "cancelado", "ativo", {}, false, false, true,
     {"record time", "check", "write day", "clean up"}, AccountState::Active, "ativo", false, kToday, true},
    {"PendingToActive", "pendente", "ativo", {}, false, false, true,
     {"record time", "check", "write day", "clean up"}, AccountState::Active, "ativo", false, kToday, true},
    {"ActiveToBlocked", "ativo", "bloqueado", {}, false, false, true,
     {"record time", "check", "write day", "stop", "remove", "clean up"},
     AccountState::Blocked, "bloqueado", false, kToday, false},
    {"ActiveToCancelled", "ativo", "cancelado", {}, false, false, true,
     {"record time", "check", "write day", "stop elevated", "remove", "clean up"},
     AccountState::Cancelled, "cancelado", false, kToday, false},
    // Both words mean cancelled, but the word changed: stopped and removed again.
    {"CancelledToDuplicated", "cancelado", "duplicado", {}, false, false, true,
     {"record time", "check", "write day", "stop elevated", "remove", "clean up"},
     AccountState::Cancelled, "duplicado", false, kToday, false},
    // Another word is stored but changes nothing.
    {"ActiveToAnotherWord", "ativo", "suspenso", {}, false, false, true,
     {"record time", "check", "write day", "clean up"}, AccountState::Active, "suspenso", false, kToday, true},
    {"PendingToAnotherWord", "pendente", "suspenso", {}, false, false, true,
     {"record time", "check", "write day", "clean up"}, AccountState::Pending, "suspenso", false, kToday, true},
    // A configuration a user holds open is tried at every check until it goes.
    {"BlockRemovalFails", "ativo", "bloqueado", {}, false, false, false,
     {"record time", "check", "write day", "stop", "remove", "clean up"},
     AccountState::Blocked, "bloqueado", true, kToday, false},
    {"HeldConfigurationTriedAgain", "bloqueado", "bloqueado", {}, true, false, true,
     {"record time", "check", "write day", "remove", "clean up"}, AccountState::Blocked, "bloqueado", false, kToday,
     false},
    {"HeldConfigurationTriedAfterAFailedCheck", "cancelado", std::nullopt, "1261106", true, false, false,
     {"record time", "check", "read day", "remove", "clean up"}, AccountState::Cancelled, "cancelado", true, "1261106",
     false},
    // Wanted again: a removal still owed is dropped.
    {"ActiveAgainDropsTheOwedRemoval", "bloqueado", "ativo", {}, true, false, true,
     {"record time", "check", "write day", "refetch", "clean up"}, AccountState::Active, "ativo", false, kToday, true},

    // The seven-day rule: a failed check blocks once the last successful one
    // is seven days old, and forgets the word, so that whatever the server
    // says next lifts or confirms the block.
    {"FailedSixDaysAfterSuccess", "ativo", std::nullopt, "1261101", false, false, true,
     {"record time", "check", "read day", "clean up"}, AccountState::Active, "ativo", false, "1261101", true},
    {"FailedSevenDaysAfterSuccess", "ativo", std::nullopt, "1261030", false, false, true,
     {"record time", "check", "read day", "7d log", "stop elevated", "remove", "clean up"},
     AccountState::Blocked, "", false, "1261030", false},
    {"FailedEightDaysAfterSuccess", "ativo", std::nullopt, "1261029", false, false, true,
     {"record time", "check", "read day", "7d log", "stop elevated", "remove", "clean up"},
     AccountState::Blocked, "", false, "1261029", false},
    // The stamps compare as text: the empty one is older than any day.
    {"FailedWithAnEmptyStamp", "ativo", std::nullopt, "", false, false, true,
     {"record time", "check", "read day", "7d log", "stop elevated", "remove", "clean up"},
     AccountState::Blocked, "", false, "", false},
    // No stamp (or one too long to read): today's is stored, so a block
    // comes a week later at the earliest.
    {"FailedWithoutAStamp", "ativo", std::nullopt, std::nullopt, false, false, true,
     {"record time", "check", "read day", "write day", "clean up"}, AccountState::Active, "ativo", false, kToday, true},
    {"FailedWithAStampTooLong", "ativo", std::nullopt, std::string(kMonitorStatusDaySize, '0'), false, false, true,
     {"record time", "check", "read day", "write day", "clean up"}, AccountState::Active, "ativo", false, kToday, true},
    // Blocked already: blocked again at every failed check.
    {"FailedStillBlocked", "bloqueado", std::nullopt, "1261029", false, false, true,
     {"record time", "check", "read day", "7d log", "stop elevated", "remove", "clean up"},
     AccountState::Blocked, "", false, "1261029", false},
};
// clang-format on

TEST_F(MonitorDecisions, TransitionTable)
{
    for (const Transition& row : kTransitions) {
        SCOPED_TRACE(row.name);
        MonitorState state = StateAfterFirstPass(row.from);
        state.configRemovalPending = row.removalPendingBefore;
        Recorder effects;
        effects.word = row.word;
        effects.storedDay = row.storedDay;
        effects.configMissing = row.configMissing;
        effects.removalWorks = row.removalWorks;

        RunMonitorPass(state, effects, kStart + 180);
        EXPECT_EQ(effects.seen, row.effects);
        EXPECT_EQ(state.account, row.after);
        EXPECT_STREQ(state.lastStatus, row.lastStatusAfter);
        EXPECT_EQ(state.configRemovalPending, row.removalPendingAfter);
        EXPECT_EQ(effects.storedDay.value_or("(none)"), row.storedDayAfter);
        EXPECT_EQ(state.nextStatusCheck, kStart + 360);

        // The scheduled time, in a pass without a status check.
        effects.seen.clear();
        state.nextStatusCheck = kStart + kDay + 1;
        RunMonitorPass(state, effects, kStart + kDay);
        EXPECT_EQ(effects.seen, (row.updatesAtTheirTime ? Effects{"announce", "update checks"} : Effects{}));
    }
}

// Mended: the seven-day block kept the last word "ativo", so the server's
// next "ativo" was no change and the account stayed blocked, without its
// configuration, until the service restarted. Now the block forgets the word:
// "ativo" restores the configuration, and the scheduled checks that were
// held back run in the same pass.
TEST_F(MonitorDecisions, ServerBackAfterASevenDayBlock)
{
    MonitorState state = StateAfterFirstPass("ativo");
    Recorder effects;
    effects.storedDay = "1261029";
    RunMonitorPass(state, effects, kStart + kDay - 180);
    ASSERT_EQ(state.account, AccountState::Blocked);

    effects.word = "ativo";
    effects.seen.clear();
    RunMonitorPass(state, effects, kStart + kDay);
    EXPECT_EQ(effects.seen,
              (Effects{"record time", "check", "write day", "refetch", "clean up", "announce", "update checks"}));
    EXPECT_EQ(state.account, AccountState::Active);
}

// --- the schedules and the clock ---------------------------------------------------

struct Schedule {
    const char* name;
    const char* word;
    int updateHours;
    std::int64_t nextStatusCheck; // before the pass, from kStart
    std::int64_t nextUpdate;
    std::int64_t now;
    Effects effects;
    std::int64_t nextStatusCheckAfter;
    std::int64_t nextUpdateAfter;
};

// Status check of an active account answered with its word, when the
// update is not due / is due in the same pass.
const Effects kCheck = kSameWordCheck;
const Effects kCheckThenUpdate = {"record time", "check", "write day", "clean up", "announce", "update checks"};

// clang-format off
const Schedule kSchedules[] = {
    {"FirstPass", "ativo", 24, 0, 0, 0, kCheckThenUpdate, 180, 24 * kHour},
    {"NothingDueASecondLater", "ativo", 24, 180, 24 * kHour, 1, {}, 180, 24 * kHour},
    {"NothingDueAt179", "ativo", 24, 180, 24 * kHour, 179, {}, 180, 24 * kHour},
    {"StatusDueAt180", "ativo", 24, 180, 24 * kHour, 180, kCheck, 360, 24 * kHour},
    {"UpdateDueAtItsTime", "ativo", 24, 24 * kHour, 24 * kHour, 24 * kHour, kCheckThenUpdate,
     24 * kHour + 180, 48 * kHour},
    {"SixHourInterval", "ativo", 6, 6 * kHour, 6 * kHour, 6 * kHour, kCheckThenUpdate, 6 * kHour + 180, 12 * kHour},
    // Late, but within the next interval: the phase is kept.
    {"LateWithinTheInterval", "ativo", 24, 24 * kHour, 24 * kHour, 24 * kHour + 30, kCheckThenUpdate,
     24 * kHour + 210, 48 * kHour},
    // Suspended for more than a whole interval: one line, then from now.
    {"SuspendedPastAWholeInterval", "ativo", 24, 24 * kHour, 24 * kHour, 72 * kHour + 10,
     {"record time", "check", "write day", "clean up", "announce", "restart 172800 259210", "update checks"},
     72 * kHour + 190, 96 * kHour + 10},
    // The clock set forward three days: the same.
    {"ClockForwardThreeDays", "ativo", 24, 180, 24 * kHour, 72 * kHour,
     {"record time", "check", "write day", "clean up", "announce", "restart 172800 259200", "update checks"},
     72 * kHour + 180, 96 * kHour},
    // The clock set back a day: the status check at once, the update one
    // interval from now, not two.
    {"ClockSetBackADay", "ativo", 24, 180, 24 * kHour, -24 * kHour,
     {"restart 86400 -86400", "record time", "check", "write day", "config missing?", "clean up"},
     -24 * kHour + 180, 0},
    // Set back an hour, twelve hours before the update: the status check at
    // once, the update keeps its time.
    {"ClockSetBackAnHour", "ativo", 24, 180, 12 * kHour, -kHour, kCheck, -kHour + 180, 12 * kHour},
    // Blocked and cancelled accounts skip the scheduled checks and keep
    // their time.
    {"BlockedSkipsTheUpdate", "bloqueado", 24, 24 * kHour, 24 * kHour, 24 * kHour,
     {"record time", "check", "write day", "clean up"}, 24 * kHour + 180, 24 * kHour},
    {"CancelledSkipsTheUpdate", "duplicado", 24, 24 * kHour, 24 * kHour, 24 * kHour,
     {"record time", "check", "write day", "clean up"}, 24 * kHour + 180, 24 * kHour},
    {"PendingRunsTheUpdate", "pendente", 24, 24 * kHour, 24 * kHour, 24 * kHour, kCheckThenUpdate,
     24 * kHour + 180, 48 * kHour},
};
// clang-format on

TEST_F(MonitorDecisions, Schedules)
{
    for (const Schedule& row : kSchedules) {
        SCOPED_TRACE(row.name);
        MonitorState state = StateAfterFirstPass(row.word, row.updateHours);
        state.nextStatusCheck = kStart + row.nextStatusCheck;
        state.nextUpdate = kStart + row.nextUpdate;
        Recorder effects;
        effects.word = row.word;
        RunMonitorPass(state, effects, kStart + row.now);
        EXPECT_EQ(effects.seen, row.effects);
        EXPECT_EQ(state.nextStatusCheck - kStart, row.nextStatusCheckAfter);
        EXPECT_EQ(state.nextUpdate - kStart, row.nextUpdateAfter);
    }
}

// A pass at every status check for a day: four runs six hours apart, on the
// phase of the start.
TEST_F(MonitorDecisions, SixHourIntervalRunsFourTimesADay)
{
    MonitorState state = StateAfterFirstPass("ativo", 6);
    state.nextStatusCheck = kStart;
    state.nextUpdate = kStart;
    Recorder effects;
    effects.word = "ativo";
    std::vector<std::int64_t> runs;
    for (std::int64_t t = kStart; t < kStart + kDay; t += 180) {
        effects.seen.clear();
        RunMonitorPass(state, effects, t);
        if (!effects.seen.empty() && effects.seen.back() == "update checks")
            runs.push_back((t - kStart) / kHour);
    }
    EXPECT_EQ(runs, (std::vector<std::int64_t>{0, 6, 12, 18}));
}

// --- the rules' small parts ----------------------------------------------------------

TEST_F(MonitorDecisions, WordsIntervalsAndDayStamps)
{
    const struct {
        const char* word;
        AccountState state;
    } words[] = {
        {"ativo", AccountState::Active},        {"ATIVO", AccountState::Active},
        {"Bloqueado", AccountState::Blocked},   {"cancelado", AccountState::Cancelled},
        {"DUPLICADO", AccountState::Cancelled}, {"ativos", AccountState::Pending},
        {"pendente", AccountState::Pending},    {"", AccountState::Pending},
    };
    for (const auto& row : words)
        EXPECT_EQ(StateOfWord(row.word), row.state) << row.word;

    const struct {
        const char* text;
        int hours;
    } intervals[] = {{"1", 1}, {"6", 6}, {"24", 24}, {"0", 24}, {"25", 24}, {"-6", 24}, {"", 24}, {"six", 24}};
    for (const auto& row : intervals)
        EXPECT_EQ(UpdateHoursFromText(row.text), row.hours) << row.text;

    // Years since 1900, months from zero: fixed widths keep the text order
    // chronological across months and years.
    const struct {
        std::int64_t time;
        const char* stamp;
    } days[] = {
        {kStart, kToday},
        {kStart - 6 * kDay, "1261101"},
        {kStart - 7 * kDay, "1261030"},
        {kStart + 25 * kDay, "1270001"},
        {946684800, "1000001"}, // 2000-01-01
    };
    for (const auto& row : days) {
        char stamp[kDayStampSize];
        FormatDayStamp(row.time, stamp);
        EXPECT_STREQ(stamp, row.stamp) << row.time;
    }
}

} // namespace
