#include "process_runner.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "ferolin_limits.h"
#include "win_handles.h"

namespace {

// Exists, under this name, while a run is in progress; nothing waits on it.
constexpr char kExecEventName[] = "exec_exit";

// A non-inheritable copy of `handle` in this process, the original closed:
// the child must get only its own ends of the pipes.
bool KeepPrivately(KernelHandle& handle)
{
    HANDLE self = GetCurrentProcess();
    HANDLE copy = nullptr;
    if (!DuplicateHandle(self, handle.get(), self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    handle.reset(copy);
    return true;
}

bool CloseOwned(KernelHandle& handle) { return CloseHandle(handle.release()) != 0; }

// What the child has written so far, up to the echo limit, without ever
// blocking: a child that is still running, or one that left a grandchild
// holding the pipe, must not hold the caller.
void EchoOutput(HANDLE outputRead)
{
    DWORD available = 0;
    if (!PeekNamedPipe(outputRead, nullptr, 0, nullptr, &available, nullptr) || available == 0)
        return;
    char output[kExecEchoBytes + 1];
    DWORD want = available < kExecEchoBytes ? available : static_cast<DWORD>(kExecEchoBytes);
    DWORD got = 0;
    if (!ReadFile(outputRead, output, want, &got, nullptr))
        return;
    output[got] = '\0';
    // The bytes as they came: never a format (a "%" stays a "%").
    std::fwrite(output, 1, got, stdout);
    std::fflush(stdout);
}

} // namespace

int ExecCommand(const char* program, char* commandLine, const char* workingDirectory, bool printOutput)
{
    KernelHandle exitEvent(CreateEventA(nullptr, TRUE, FALSE, kExecEventName));
    if (!exitEvent)
        return 0;

    // Default security: only the pipes' creator (and the system) may open
    // them; inheritance hands the child its ends.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    KernelHandle inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(inputRead.out(), inputWrite.out(), &inheritable, 0) ||
        !CreatePipe(outputRead.out(), outputWrite.out(), &inheritable, 0))
        return 0;
    if (!KeepPrivately(outputRead) || !KeepPrivately(inputWrite))
        return 0;

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = inputRead.get();
    startup.hStdOutput = outputWrite.get();
    startup.hStdError = outputWrite.get();
    // This process's C runtime hand-over block describes our descriptors,
    // not the pipes.
    startup.cbReserved2 = 0;
    startup.lpReserved2 = nullptr;

    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr,
                        workingDirectory, &startup, &child))
        return 0;
    KernelHandle process(child.hProcess);
    CloseHandle(child.hThread);

    WaitForSingleObject(process.get(), kExecWaitMs);

    // Our copies of the child's ends go first, so the pipe reports its end
    // once every program holding the write end is gone.
    const bool outputClosed = CloseOwned(outputWrite);
    const bool inputClosed = CloseOwned(inputRead);
    if (printOutput)
        EchoOutput(outputRead.get());
    const bool eventClosed = CloseOwned(exitEvent);
    return outputClosed && inputClosed && eventClosed ? 1 : 0;
}

int ShellRun(const char* file, const char* parameters)
{
    SHELLEXECUTEINFOA execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS;
    execute.lpFile = file;
    execute.lpParameters = parameters;
    execute.nShow = SW_HIDE;
    if (!ShellExecuteExA(&execute))
        return 0;
    // No process handle when the shell handed the file to a running program.
    KernelHandle process(execute.hProcess);
    if (process)
        WaitForSingleObject(process.get(), kShellRunWaitMs);
    return 1;
}
