// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Reference-counted service interfaces and their statuses.
//
// A service operation returns a 32-bit status: 0 on success, negative on failure. A failing
// operation leaves its message in the calling thread's error information; the caller turns the
// negative status back into an error carrying that message. One helper each way:
// SafeCallBoundary on the service's side, CheckServiceStatus on the caller's.

#include "Exceptions.h"

#include <QString>
#include <QUuid>
#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

using HRESULT = int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = HRESULT(0x80004002);
inline constexpr HRESULT E_UNEXPECTED = HRESULT(0x8000FFFF);

using TGUID = QUuid;

// The base of every service interface: slots 0 to 2.
class IInterface {
public:
    static constexpr TGUID IID{0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00,
                               0x00,       0x00,   0x00,   0x00, 0x46};
    virtual HRESULT QueryInterface(const TGUID& IID, void** Obj) = 0;
    virtual uint32_t _AddRef() = 0;
    virtual uint32_t _Release() = 0;

protected:
    virtual ~IInterface() = default;
};

// A counted reference to an interface: adds a reference when it takes one, releases its own.
template <typename T> class TInterfacePtr {
public:
    TInterfacePtr() = default;
    TInterfacePtr(T* Ptr) : FPtr(Ptr) { // NOLINT: implicit like an interface assignment
        if (FPtr)
            FPtr->_AddRef();
    }
    TInterfacePtr(const TInterfacePtr& Other) : TInterfacePtr(Other.FPtr) {}
    TInterfacePtr(TInterfacePtr&& Other) noexcept : FPtr(std::exchange(Other.FPtr, nullptr)) {}
    TInterfacePtr& operator=(TInterfacePtr Other) noexcept {
        std::swap(FPtr, Other.FPtr);
        return *this;
    }
    ~TInterfacePtr() { Release(); }

    void Release() {
        if (T* Old = std::exchange(FPtr, nullptr))
            Old->_Release();
    }
    T* operator->() const { return FPtr; }
    T* Get() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }

private:
    T* FPtr = nullptr;
};

// The reference count of an object implementing interfaces; freed with its last reference.
class TInterfacedObject {
public:
    virtual ~TInterfacedObject() = default;
    uint32_t RefCount() const { return FRefCount.load(); }

protected:
    uint32_t AddRefImpl() { return ++FRefCount; }
    uint32_t ReleaseImpl() {
        const uint32_t Left = --FRefCount;
        if (Left == 0) {
            // A destructor may hand the object to code that takes and drops a reference (a
            // handler called while a service winds down): that must not free it a second time.
            FRefCount.store(DestroyingCount);
            delete this;
        }
        return Left;
    }

private:
    static constexpr uint32_t DestroyingCount = 0x40000000;
    std::atomic<uint32_t> FRefCount{0};
};

// The message of the last failed service operation on this thread.
void SetErrorInfo(const QString& Message);
QString GetErrorInfo();

// Service side: runs Body; whatever escapes it becomes a failing status with its message left
// for the caller: an EServiceError's own status, E_UNEXPECTED for anything else.
HRESULT SafeCallBoundary(const std::function<void()>& Body);

// Caller side: a negative status is raised as an error carrying the service's message.
class EServiceError : public Exception {
public:
    EServiceError(const QString& Message, HRESULT Status) : Exception(Message), FStatus(Status) {}
    HRESULT Status() const { return FStatus; }

private:
    HRESULT FStatus;
};
void CheckServiceStatus(HRESULT Status);
// The same for a status that another thread received, with the message it read there.
void CheckServiceStatus(HRESULT Status, const QString& Message);
