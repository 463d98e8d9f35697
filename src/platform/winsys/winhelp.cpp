#include "winhelp.h"

#include "lasterror.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

WinHelpViewer g_viewer = nullptr;
void* g_viewerData = nullptr;

// A manual is a few hundred kilobytes; anything far larger is not our help file, and reading
// it whole would only cost memory.
constexpr std::size_t kMaxHelpFileSize = 16u * 1024u * 1024u;

bool readHelpFile(const char* path, std::string& text)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(errno));
        return false;
    }
    char buffer[8192];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        text.append(buffer, got);
        if (text.size() > kMaxHelpFileSize) {
            SetLastError(ERROR_INVALID_DATA);
            ok = false;
            break;
        }
        if (got < sizeof buffer) {
            if (std::ferror(file)) {
                SetLastError(ERROR_READ_FAULT);
                ok = false;
            }
            break;
        }
    }
    std::fclose(file);
    return ok;
}

bool hasAttribute(const std::string& text, const char* attribute, const std::string& value)
{
    for (const char quote : {'"', '\''}) {
        const std::string needle = std::string(attribute) + "=" + quote + value + quote;
        if (text.find(needle) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

void SetWinHelpViewer(WinHelpViewer viewer, void* userData)
{
    g_viewer = viewer;
    g_viewerData = userData;
}

bool HelpTextHasContext(const char* text, std::size_t length, DWORD context)
{
    const std::string haystack(text, length);
    const std::string value = std::to_string(context);
    return hasAttribute(haystack, "name", value) || hasAttribute(haystack, "id", value);
}

BOOL WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData)
{
    if (uCommand == HELP_QUIT) {
        if (g_viewer)
            g_viewer(g_viewerData, hWndMain, lpszHelp, HELP_QUIT, 0);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (!lpszHelp || !*lpszHelp) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD context = 0;
    if (uCommand == HELP_CONTEXT) {
        if (dwData > 0xFFFFFFFFu) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        context = static_cast<DWORD>(dwData);
    } else if (uCommand == HELP_CONTENTS || uCommand == HELP_FINDER) {
        context = kHelpContentsContext;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string text;
    if (!readHelpFile(lpszHelp, text))
        return FALSE;
    if (!HelpTextHasContext(text.data(), text.size(), context)) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (!g_viewer) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!g_viewer(g_viewerData, hWndMain, lpszHelp, HELP_CONTEXT, context))
        return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
