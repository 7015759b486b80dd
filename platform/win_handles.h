// The Windows handle kinds that the service program, the library and their
// tests own, each defined once on top of UniqueResource.
#pragma once

#include <windows.h>

#include "unique_resource.h"

// Kernel objects whose failure value is null: events, threads, processes,
// pipes' ends from CreatePipe.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return nullptr; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueResource<KernelHandleTraits>;

// Kernel objects whose failure value is INVALID_HANDLE_VALUE: files from
// CreateFile, Tool Help snapshots.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { CloseHandle(handle); }
};
using FileHandle = UniqueResource<FileHandleTraits>;

// The service manager and services opened through it.
struct ScHandleTraits {
    using Handle = SC_HANDLE;
    static Handle None() { return nullptr; }
    static void Close(Handle handle) { CloseServiceHandle(handle); }
};
using ScHandle = UniqueResource<ScHandleTraits>;

// A directory search from FindFirstFile.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle search) { FindClose(search); }
};
using FindHandle = UniqueResource<FindHandleTraits>;

// An event source registration.
struct EventSourceTraits {
    using Handle = HANDLE;
    static Handle None() { return nullptr; }
    static void Close(Handle handle) { DeregisterEventSource(handle); }
};
using EventSourceHandle = UniqueResource<EventSourceTraits>;

// An open registry key.
struct RegKeyTraits {
    using Handle = HKEY;
    static Handle None() { return nullptr; }
    static void Close(Handle key) { RegCloseKey(key); }
};
using RegKey = UniqueResource<RegKeyTraits>;

// Memory that a system call allocated with LocalAlloc (FormatMessage's
// buffer, security descriptors).
template <typename T>
struct LocalMemoryTraits {
    using Handle = T*;
    static Handle None() { return nullptr; }
    static void Close(Handle block) { LocalFree(block); }
};
template <typename T>
using LocalMemory = UniqueResource<LocalMemoryTraits<T>>;
