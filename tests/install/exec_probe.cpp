// A child for the process runner's tests.
//   exec_probe print TEXT     writes TEXT and a line end, exits
//   exec_probe bytes N        writes N bytes of "x", exits
//   exec_probe sleep S FILE   sleeps S seconds, then creates FILE
//   exec_probe dacl           writes "open to everyone" when its standard
//                             output has a present, null access-control
//                             list, "restricted" otherwise
//   exec_probe exit           exits at once, writing nothing
//   exec_probe mutex NAME S   holds a mutex named NAME for S seconds, as a
//                             user's program may
//   exec_probe signal VALUE   sets the event whose handle value (decimal) a
//                             parent would have handed down by inheritance
#include <windows.h>
#include <aclapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string mode = argv[1];
    if (mode == "print" && argc > 2) {
        std::printf("%s\n", argv[2]);
    } else if (mode == "bytes" && argc > 2) {
        std::string text(static_cast<std::size_t>(std::atoi(argv[2])), 'x');
        std::fwrite(text.data(), 1, text.size(), stdout);
    } else if (mode == "sleep" && argc > 3) {
        Sleep(static_cast<DWORD>(std::atoi(argv[2])) * 1000);
        FILE* marker = std::fopen(argv[3], "w");
        if (marker != nullptr)
            std::fclose(marker);
    } else if (mode == "dacl") {
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        DWORD rc = GetSecurityInfo(GetStdHandle(STD_OUTPUT_HANDLE), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, &dacl, nullptr, &descriptor);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (rc == ERROR_SUCCESS)
            GetSecurityDescriptorControl(descriptor, &control, &revision);
        // Without a DACL present the object keeps its creator's default
        // (Wine stores none); present and null means anyone may open it.
        const bool everyone = (control & SE_DACL_PRESENT) != 0 && dacl == nullptr;
        std::printf("%s\n", rc != ERROR_SUCCESS ? "unknown" : everyone ? "open to everyone" : "restricted");
        LocalFree(descriptor);
    } else if (mode == "mutex" && argc > 3) {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, argv[2]);
        if (mutex == nullptr)
            return 3;
        Sleep(static_cast<DWORD>(std::atoi(argv[3])) * 1000);
        CloseHandle(mutex);
    } else if (mode == "signal" && argc > 2) {
        HANDLE event = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::strtoull(argv[2], nullptr, 10)));
        std::printf("%s\n", SetEvent(event) ? "set" : "no such handle");
    } else if (mode != "exit") {
        return 2;
    }
    std::fflush(stdout);
    return 0;
}
