#include "stdout_capture.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "win_test_support.h"

std::string CaptureStdout(const std::function<void()>& call)
{
    char folder[MAX_PATH];
    char path[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    GetTempFileNameA(folder, "out", 0, path);

    std::fflush(stdout);
    const int saved = _dup(_fileno(stdout));
    const int file = _open(path, _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(file, _fileno(stdout));
    _close(file);
    call();
    std::fflush(stdout);
    _dup2(saved, _fileno(stdout));
    _close(saved);

    std::string text = ReadWholeFile(path).value_or("");
    DeleteFileA(path);
    return text;
}
