#include "tray_task_xml.h"

#include <cstring>

#include "bounded_format.h"

namespace {

// From the declaration through LogonType; "%s" is the account.
constexpr char kFirstPiece[] =
    "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
    "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
    "<RegistrationInfo><Author>SYSTEM</Author></RegistrationInfo>"
    "<Triggers><LogonTrigger><Repetition><Interval>PT15M</Interval>"
    "<StopAtDurationEnd>false</StopAtDurationEnd></Repetition>"
    "<Enabled>true</Enabled><Delay>PT20S</Delay></LogonTrigger></Triggers>"
    "<Principals><Principal id=\"Author\"><UserId>%s</UserId><LogonType>InteractiveToken</LogonType>";

// From RunLevel through StartWhenAvailable.
constexpr char kSecondPiece[] =
    "<RunLevel>HighestAvailable</RunLevel></Principal></Principals>"
    "<Settings><IdleSettings><Duration>PT10M</Duration><WaitTimeout>PT1H</WaitTimeout>"
    "<StopOnIdleEnd>true</StopOnIdleEnd><RestartOnIdle>false</RestartOnIdle></IdleSettings>"
    "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
    "<AllowHardTerminate>true</AllowHardTerminate><StartWhenAvailable>false</StartWhenAvailable>";

// From RunOnlyIfNetworkAvailable to the end; "%s" is the directory.
constexpr char kThirdPiece[] =
    "<RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>"
    "<AllowStartOnDemand>true</AllowStartOnDemand><Enabled>true</Enabled><Hidden>false</Hidden>"
    "<RunOnlyIfIdle>false</RunOnlyIfIdle><WakeToRun>false</WakeToRun>"
    "<ExecutionTimeLimit>P3D</ExecutionTimeLimit><Priority>7</Priority></Settings>"
    "<Actions Context=\"Author\"><Exec><Command>\"%s\\bin\\Nimbet.exe\"</Command></Exec></Actions></Task>";

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
    char escapedUser[kTaskPieceSize];
    char escapedDirectory[kTaskPieceSize];
    if (!EscapeXmlText(userId, escapedUser, sizeof escapedUser) ||
        !EscapeXmlText(directory, escapedDirectory, sizeof escapedDirectory))
        return 0;
    return FormatWhole(pieces->piece[0], kTaskPieceSize, kFirstPiece, escapedUser) &&
        CopyWhole(pieces->piece[1], kTaskPieceSize, kSecondPiece) &&
        FormatWhole(pieces->piece[2], kTaskPieceSize, kThirdPiece, escapedDirectory);
}
