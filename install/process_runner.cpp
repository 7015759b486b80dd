#include "process_runner.h"

#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdio>

#include "ferolin_limits.h"
#include "win_handles.h"

namespace {

// Exists, under this name, while a run is in progress; nothing waits on it.
// Any user may create an object of that name first (of another kind, so the
// creation fails): having it is not worth refusing the run for.
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

// The attribute list that limits a child's inherited handles to a given set.
// The set must outlive the process creation; so must the list.
class ChildHandleList {
public:
    ChildHandleList() = default;
    ChildHandleList(const ChildHandleList&) = delete;
    ChildHandleList& operator=(const ChildHandleList&) = delete;
    ~ChildHandleList()
    {
        if (list_ != nullptr)
            DeleteProcThreadAttributeList(list_);
    }

    bool Limit(HANDLE* handles, std::size_t count)
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        if (size == 0 || size > sizeof storage_)
            return false;
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_);
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
            return false;
        list_ = list;
        return UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE),
                                         nullptr, nullptr) != 0;
    }

    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

private:
    alignas(std::max_align_t) unsigned char storage_[256];
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

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

    // Default security: only the pipes' creator (and the system) may open
    // them; inheritance hands the child its ends.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    KernelHandle inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(inputRead.out(), inputWrite.out(), &inheritable, 0) ||
        !CreatePipe(outputRead.out(), outputWrite.out(), &inheritable, 0))
        return 0;
    if (!KeepPrivately(outputRead) || !KeepPrivately(inputWrite))
        return 0;

    STARTUPINFOEXA startup = {};
    GetStartupInfoA(&startup.StartupInfo);
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = inputRead.get();
    startup.StartupInfo.hStdOutput = outputWrite.get();
    startup.StartupInfo.hStdError = outputWrite.get();
    // This process's C runtime hand-over block describes our descriptors,
    // not the pipes.
    startup.StartupInfo.cbReserved2 = 0;
    startup.StartupInfo.lpReserved2 = nullptr;

    // The child inherits the pipe ends and nothing else: whatever else the
    // hosting program left inheritable (its own files, keys, events) stays
    // with it. Output and error share one handle, which the list names once.
    HANDLE inherited[] = {inputRead.get(), outputWrite.get()};
    ChildHandleList handleList;
    if (!handleList.Limit(inherited, sizeof inherited / sizeof inherited[0]))
        return 0;
    startup.lpAttributeList = handleList.get();

    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        workingDirectory, &startup.StartupInfo, &child))
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
    const bool eventClosed = !exitEvent || CloseOwned(exitEvent);
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
