#pragma once
// The help viewer call of the Windows API. Our help file is HTML with one anchor per context
// number; this layer checks the file and the topic and hands them to the viewer that the
// user interface registered, so a missing file or topic is an error code, never a crash.
#include "windef.h"

inline constexpr UINT HELP_CONTEXT = 0x0001;
inline constexpr UINT HELP_QUIT = 0x0002;
inline constexpr UINT HELP_CONTENTS = 0x0003;
inline constexpr UINT HELP_FINDER = 0x000B;

// The context number of the help file's contents page.
inline constexpr DWORD kHelpContentsContext = 1000;

// Shows `context` of the HTML file `helpFile` for the window `owner`, or closes the viewer
// for HELP_QUIT (context 0). Returns TRUE when it did so.
using WinHelpViewer = BOOL (*)(void* userData, HWND owner, LPCSTR helpFile, UINT command,
                               DWORD context);

// Registers the viewer (nullptr removes it). The previous one is replaced.
void SetWinHelpViewer(WinHelpViewer viewer, void* userData);

// HELP_CONTEXT shows topic dwData; HELP_CONTENTS and HELP_FINDER show the contents page;
// HELP_QUIT closes the viewer. Fails with ERROR_INVALID_PARAMETER for a null or empty file
// name or an unknown command, ERROR_FILE_NOT_FOUND (or the open's own error) when the file
// cannot be read, ERROR_INVALID_DATA when the file has no anchor for the context, and
// ERROR_INVALID_HANDLE when no viewer is registered.
BOOL WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData);

// True when the HTML text has an anchor (name="N" or id="N") for context `context`.
bool HelpTextHasContext(const char* text, std::size_t length, DWORD context);
