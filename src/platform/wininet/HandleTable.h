#pragma once
// The handles the service gives out. A handle is a number in a table, never a pointer, so a
// closed, forged or wrong-kind handle is recognised and refused (ERROR_INVALID_HANDLE) instead
// of being followed.
#include "wininet.h"

#include <memory>

namespace wininet {

enum class HandleKind {
    Internet, // InternetOpenA
    Connect,  // InternetConnectA
    Find,     // FtpFindFirstFileA
    File,     // FtpOpenFileA
};

class InternetObject
{
public:
    explicit InternetObject(HandleKind kind) : m_kind(kind) {}
    InternetObject(const InternetObject&) = delete;
    InternetObject& operator=(const InternetObject&) = delete;
    virtual ~InternetObject() = default;

    HandleKind kind() const { return m_kind; }
    // Ends what the object does. 0, or the error that ending it revealed (an upload the
    // server did not confirm).
    virtual DWORD close() { return ERROR_SUCCESS; }

private:
    HandleKind m_kind;
};

// Enters the object under a new handle; `parent` is closed together with its children.
HINTERNET addHandle(std::shared_ptr<InternetObject> object, HINTERNET parent);
// The object behind `handle` when it is open and of `kind`; null otherwise.
std::shared_ptr<InternetObject> findHandle(HINTERNET handle, HandleKind kind);
bool isOpenHandle(HINTERNET handle);
// Removes the handle and every handle opened under it (children first, each closed).
// Returns the handle's own close() result, or ERROR_INVALID_HANDLE when it was not open.
DWORD removeHandle(HINTERNET handle);

template <typename T> std::shared_ptr<T> findHandleAs(HINTERNET handle, HandleKind kind)
{
    return std::static_pointer_cast<T>(findHandle(handle, kind));
}

} // namespace wininet
