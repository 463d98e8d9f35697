#include "HandleTable.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace wininet {
namespace {

struct Entry
{
    std::shared_ptr<InternetObject> object;
    std::uintptr_t parent = 0;
};

// The handle numbers grow and are never reused, so a stale handle stays invalid for good.
// Starting high keeps them clear of small integers a caller might pass by mistake.
constexpr std::uintptr_t kFirstHandle = 0xC0000;

struct Table
{
    std::mutex mutex;
    std::map<std::uintptr_t, Entry> entries;
    std::uintptr_t next = kFirstHandle;
};

Table& table()
{
    static Table instance;
    return instance;
}

std::uintptr_t key(HINTERNET handle)
{
    return reinterpret_cast<std::uintptr_t>(handle);
}

// Takes `id` and its descendants out of the table; children come before their parents.
void detach(Table& t, std::uintptr_t id, std::vector<std::shared_ptr<InternetObject>>& out)
{
    std::vector<std::uintptr_t> children;
    for (const auto& [childId, entry] : t.entries)
        if (entry.parent == id)
            children.push_back(childId);
    for (const std::uintptr_t child : children)
        detach(t, child, out);
    const auto found = t.entries.find(id);
    if (found != t.entries.end()) {
        out.push_back(std::move(found->second.object));
        t.entries.erase(found);
    }
}

} // namespace

HINTERNET addHandle(std::shared_ptr<InternetObject> object, HINTERNET parent)
{
    Table& t = table();
    const std::lock_guard lock(t.mutex);
    const std::uintptr_t id = t.next++;
    t.entries.emplace(id, Entry{std::move(object), key(parent)});
    return reinterpret_cast<HINTERNET>(id);
}

std::shared_ptr<InternetObject> findHandle(HINTERNET handle, HandleKind kind)
{
    Table& t = table();
    const std::lock_guard lock(t.mutex);
    const auto found = t.entries.find(key(handle));
    if (found == t.entries.end() || found->second.object->kind() != kind)
        return nullptr;
    return found->second.object;
}

bool isOpenHandle(HINTERNET handle)
{
    Table& t = table();
    const std::lock_guard lock(t.mutex);
    return t.entries.count(key(handle)) != 0;
}

DWORD removeHandle(HINTERNET handle)
{
    std::vector<std::shared_ptr<InternetObject>> closing;
    {
        Table& t = table();
        const std::lock_guard lock(t.mutex);
        if (t.entries.count(key(handle)) == 0)
            return ERROR_INVALID_HANDLE;
        detach(t, key(handle), closing);
    }
    // Closing talks to the server, so it happens outside the lock.
    DWORD result = ERROR_SUCCESS;
    for (const auto& object : closing)
        result = object->close(); // the handle itself comes last
    return result;
}

} // namespace wininet
