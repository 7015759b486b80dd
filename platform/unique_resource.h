// One owning wrapper for every kind of handle and resource: closed once, on
// every path out of its scope, never copied. A kind is described by a small
// traits struct (its handle type, the value that means "none", and how it is
// released), so each kind is written once and a new kind is three lines.
#pragma once

#include <cstdio>
#include <cstdlib>

template <typename Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;

    UniqueResource() = default;
    explicit UniqueResource(Handle handle) : handle_(handle) { }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) { }
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::None(); }
    Handle release()
    {
        Handle handle = handle_;
        handle_ = Traits::None();
        return handle;
    }
    void reset(Handle handle = Traits::None())
    {
        if (handle_ != Traits::None())
            Traits::Close(handle_);
        handle_ = handle;
    }
    // For calls that return the handle through a pointer: releases what is
    // held and hands out the empty slot.
    Handle* out()
    {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::None();
};

// A C stream from fopen.
struct FileStreamTraits {
    using Handle = std::FILE*;
    static Handle None() { return nullptr; }
    static void Close(Handle stream) { std::fclose(stream); }
};
using FileStream = UniqueResource<FileStreamTraits>;

// A block from malloc.
template <typename T>
struct MallocTraits {
    using Handle = T*;
    static Handle None() { return nullptr; }
    static void Close(Handle block) { std::free(block); }
};
template <typename T>
using MallocBlock = UniqueResource<MallocTraits<T>>;
