// The texts the tray commands hand to schtasks and the Run key, and the
// start time of the one-shot task.
#include <gtest/gtest.h>

#include <string>

#include "tray_command_lines.h"
#include "tray_start_time.h"
#include "tray_task_xml.h"

namespace {

std::string StartTime(int hour, int minute, int second)
{
    char out[kStartTimeSize];
    return FormatStartTime(hour, minute, second, out, sizeof out) ? std::string(out) : std::string("<refused>");
}

std::string Document(const char* directory, const char* user)
{
    TrayTaskPieces pieces;
    if (!ComposeTrayTask(directory, user, &pieces))
        return "<refused>";
    return std::string(pieces.piece[0]) + pieces.piece[1] + pieces.piece[2];
}

} // namespace

TEST(TrayStartTime, OneMinuteAheadAcrossTheHourAndMidnight)
{
    EXPECT_EQ(StartTime(9, 5, 7), "09:06:07");
    EXPECT_EQ(StartTime(10, 59, 30), "11:00:30");
    EXPECT_EQ(StartTime(23, 59, 10), "00:00:10");
    EXPECT_EQ(StartTime(0, 0, 0), "00:01:00");
    EXPECT_EQ(StartTime(24, 0, 0), "<refused>");
    char tooSmall[8];
    EXPECT_EQ(FormatStartTime(1, 2, 3, tooSmall, sizeof tooSmall), 0);
}

// The one-shot's start a minute ahead as a full date, so a start composed
// just before midnight (or a month's or year's end) is not in the past.
TEST(TrayStartTime, StartBoundaryCarriesIntoTheDayMonthAndYear)
{
    struct Case {
        int year, month, day, hour, minute, second;
        const char* expected;
    };
    static constexpr Case kCases[] = {
        {2026, 12, 9, 23, 59, 10, "2026-12-10T00:00:10"},
        {2026, 4, 30, 23, 59, 0, "2026-05-01T00:00:00"},
        {2026, 12, 31, 23, 59, 59, "2027-01-01T00:00:59"},
        {2028, 2, 28, 23, 59, 5, "2028-02-29T00:00:05"},
        {2026, 2, 28, 23, 59, 5, "2026-03-01T00:00:05"},
        {2100, 2, 28, 23, 59, 5, "2100-03-01T00:00:05"},
        {2026, 2, 29, 12, 0, 0, nullptr},
        {2026, 1, 1, 12, 0, 60, nullptr},
    };
    for (const Case& c : kCases) {
        char out[kStartBoundarySize];
        const int done = FormatStartBoundary(c.year, c.month, c.day, c.hour, c.minute, c.second, out, sizeof out);
        EXPECT_EQ(done ? std::string(out) : std::string("<refused>"), c.expected ? c.expected : "<refused>")
            << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
    }
}

TEST(TrayCommandLines, ScheduleWordByUiLanguage)
{
    EXPECT_STREQ(OneTimeScheduleWord(1033), "ONCE");
    EXPECT_STREQ(OneTimeScheduleWord(1046), "UMA VEZ");
    EXPECT_STREQ(OneTimeScheduleWord(1031), "ONCE");
}

TEST(TrayCommandLines, CommitCommandsAndRunValue)
{
    char out[256];
    ASSERT_EQ(ComposeCommitCommand(out, sizeof out, "C:\\VPN\\config\\Nimbet.xml"), 1);
    EXPECT_STREQ(out, "schtasks /create /tn Nimbet /xml \"C:\\VPN\\config\\Nimbet.xml\" /f");
    ASSERT_EQ(ComposeLegacyCommitCommand(out, sizeof out, "UMA VEZ", "C:\\VPN", "00:00:10"), 1);
    EXPECT_STREQ(out,
                 "schtasks /create /sc \"UMA VEZ\" /tn \"Nimbet\" /tr \"\\\"C:\\VPN\\bin\\Nimbet.exe\\\" /start\" "
                 "/st 00:00:10 /ru system");
    ASSERT_EQ(ComposeRunValue(out, sizeof out, "C:\\VPN"), 1);
    EXPECT_STREQ(out, "\"C:\\VPN\\bin\\Nimbet.exe\" /Start");

    // Too long for the buffer: refused whole, never cut.
    const std::string longDirectory = "C:\\" + std::string(180, 'd');
    EXPECT_EQ(ComposeLegacyCommitCommand(out, sizeof out, "ONCE", longDirectory.c_str(), "11:00:30"), 0);
    EXPECT_STREQ(out, "");
}

TEST(TrayTaskXml, TheDocumentByteForByte)
{
    EXPECT_EQ(Document("C:\\VPN", "alice"),
              "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
              "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
              "<RegistrationInfo><Author>SYSTEM</Author></RegistrationInfo><Triggers><LogonTrigger><Repetition>"
              "<Interval>PT15M</Interval><StopAtDurationEnd>false</StopAtDurationEnd></Repetition>"
              "<Enabled>true</Enabled><Delay>PT20S</Delay></LogonTrigger></Triggers><Principals>"
              "<Principal id=\"Author\"><UserId>alice</UserId><LogonType>InteractiveToken</LogonType>"
              "<RunLevel>HighestAvailable</RunLevel></Principal></Principals><Settings><IdleSettings>"
              "<Duration>PT10M</Duration><WaitTimeout>PT1H</WaitTimeout><StopOnIdleEnd>true</StopOnIdleEnd>"
              "<RestartOnIdle>false</RestartOnIdle></IdleSettings>"
              "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
              "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
              "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries><AllowHardTerminate>true</"
              "AllowHardTerminate><StartWhenAvailable>false</StartWhenAvailable>"
              "<RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>"
              "<AllowStartOnDemand>true</AllowStartOnDemand><Enabled>true</Enabled><Hidden>false</Hidden>"
              "<RunOnlyIfIdle>false</RunOnlyIfIdle><WakeToRun>false</WakeToRun>"
              "<ExecutionTimeLimit>P3D</ExecutionTimeLimit><Priority>7</Priority></Settings>"
              "<Actions Context=\"Author\"><Exec><Command>\"C:\\VPN\\bin\\Nimbet.exe\"</Command></Exec></Actions>"
              "</Task>");
}

TEST(TrayTaskXml, ValuesAreEscapedAndOverLongOnesRefused)
{
    const std::string document = Document("C:\\R&D <x>", "Tom & Jerry");
    EXPECT_NE(document.find("<UserId>Tom &amp; Jerry</UserId>"), std::string::npos);
    EXPECT_NE(document.find("<Command>\"C:\\R&amp;D &lt;x&gt;\\bin\\Nimbet.exe\"</Command>"), std::string::npos);

    // 254 ampersands grow past a piece's buffer once escaped.
    EXPECT_EQ(Document(std::string(254, '&').c_str(), "alice"), "<refused>");
}
