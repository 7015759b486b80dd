// Owning wrappers for the handle types of the service program: each handle is
// closed once, on every path out of its scope, and never copied.
#pragma once

#include <windows.h>

template <typename Handle, BOOL(WINAPI* Close)(Handle)>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    Handle release()
    {
        Handle handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(Handle handle = nullptr)
    {
        if (handle_ != nullptr)
            Close(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = nullptr;
};

// Handles of the service manager and of services.
using ScHandle = UniqueHandle<SC_HANDLE, CloseServiceHandle>;
// Kernel object handles whose failure value is null (events, threads).
using KernelHandle = UniqueHandle<HANDLE, CloseHandle>;
// An event source registration.
using EventSourceHandle = UniqueHandle<HANDLE, DeregisterEventSource>;
