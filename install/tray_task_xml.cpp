#include "tray_task_xml.h"

#include <cstring>

#include "bounded_format.h"
#include "tray_start_time.h"

namespace {

// From the declaration through LogonType; the first "%s" is the trigger, the
// second the account.
constexpr char kFirstPiece[] =
    "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
    "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
    "<RegistrationInfo><Author>SYSTEM</Author></RegistrationInfo>"
    "<Triggers>%s</Triggers>"
    "<Principals><Principal id=\"Author\"><UserId>%s</UserId><LogonType>InteractiveToken</LogonType>";

constexpr char kLogonTrigger[] = "<LogonTrigger><Repetition><Interval>PT15M</Interval>"
                                 "<StopAtDurationEnd>false</StopAtDurationEnd></Repetition>"
                                 "<Enabled>true</Enabled><Delay>PT20S</Delay></LogonTrigger>";

// "%s" is the start boundary.
constexpr char kTimeTrigger[] = "<TimeTrigger><StartBoundary>%s</StartBoundary><Enabled>true</Enabled></TimeTrigger>";

// From RunLevel through StartWhenAvailable. Left out, the two battery
// settings default to true: on a laptop running on battery the tray would
// then never start (or be stopped at unplugging), and nothing would say so.
// The tray costs next to nothing to run, so it runs on battery too.
constexpr char kSecondPiece[] =
    "<RunLevel>HighestAvailable</RunLevel></Principal></Principals>"
    "<Settings><IdleSettings><Duration>PT10M</Duration><WaitTimeout>PT1H</WaitTimeout>"
    "<StopOnIdleEnd>true</StopOnIdleEnd><RestartOnIdle>false</RestartOnIdle></IdleSettings>"
    "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
    "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
    "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>"
    "<AllowHardTerminate>true</AllowHardTerminate><StartWhenAvailable>false</StartWhenAvailable>";

// From RunOnlyIfNetworkAvailable to the end; the first "%s" is the
// directory, the second the Arguments element or nothing.
constexpr char kThirdPiece[] =
    "<RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>"
    "<AllowStartOnDemand>true</AllowStartOnDemand><Enabled>true</Enabled><Hidden>false</Hidden>"
    "<RunOnlyIfIdle>false</RunOnlyIfIdle><WakeToRun>false</WakeToRun>"
    "<ExecutionTimeLimit>P3D</ExecutionTimeLimit><Priority>7</Priority></Settings>"
    "<Actions Context=\"Author\"><Exec><Command>\"%s\\bin\\Nimbet.exe\"</Command>%s</Exec></Actions></Task>";

int ComposeTask(const char* trigger, const char* directory, const char* userId, const char* arguments,
                TrayTaskPieces* pieces)
{
    char escapedUser[kTaskPieceSize];
    char escapedDirectory[kTaskPieceSize];
    if (!EscapeXmlText(userId, escapedUser, sizeof escapedUser) ||
        !EscapeXmlText(directory, escapedDirectory, sizeof escapedDirectory))
        return 0;
    return FormatWhole(pieces->piece[0], kTaskPieceSize, kFirstPiece, trigger, escapedUser) &&
        CopyWhole(pieces->piece[1], kTaskPieceSize, kSecondPiece) &&
        FormatWhole(pieces->piece[2], kTaskPieceSize, kThirdPiece, escapedDirectory, arguments);
}

} // namespace

int EscapeXmlText(const char* text, char* out, std::size_t size)
{
    std::size_t used = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        const char* entity = *c == '&' ? "&amp;" : *c == '<' ? "&lt;" : *c == '>' ? "&gt;" : nullptr;
        const std::size_t length = entity != nullptr ? std::strlen(entity) : 1;
        if (used + length >= size) {
            if (size > 0)
                out[0] = '\0';
            return 0;
        }
        if (entity != nullptr)
            std::memcpy(out + used, entity, length);
        else
            out[used] = *c;
        used += length;
    }
    if (size == 0)
        return 0;
    out[used] = '\0';
    return 1;
}

int ComposeTrayTask(const char* directory, const char* userId, TrayTaskPieces* pieces)
{
    return ComposeTask(kLogonTrigger, directory, userId, "", pieces);
}

int ComposeCommitTask(const char* directory, const char* userId, const char* startBoundary, TrayTaskPieces* pieces)
{
    char trigger[sizeof kTimeTrigger + kStartBoundarySize];
    return FormatWhole(trigger, sizeof trigger, kTimeTrigger, startBoundary) &&
        ComposeTask(trigger, directory, userId, "<Arguments>/start</Arguments>", pieces);
}
