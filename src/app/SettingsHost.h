#pragma once
#include <QString>

#include <array>

// The main window's state at the moment it is closed or at start-up.
enum class WindowShowState { Normal = 0, Minimized = 1, Maximized = 2 };

// The window's outer bounds in screen pixels and its show state.
struct WindowPlacement
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    WindowShowState state = WindowShowState::Normal;
};

// The widths of the "Name", "Size" and "Modified" columns of one file list.
using ColumnWidths = std::array<int, 3>;

// What the settings store touches of the main window: the title, the two toolbar check marks
// (their only in-memory form), the placement and the current pane and column widths.
class SettingsHost
{
public:
    virtual ~SettingsHost() = default;

    virtual void setMainTitle(const QString& title) = 0;

    // "Show &Captions" (mnuLargeBtns) and "&Small Buttons" (mnuSmallBtns).
    virtual bool largeButtonsChecked() const = 0;
    virtual void setLargeButtonsChecked(bool checked) = 0;
    virtual bool smallButtonsChecked() const = 0;
    virtual void setSmallButtonsChecked(bool checked) = 0;

    virtual WindowPlacement windowPlacement() const = 0;
    virtual ColumnWidths remoteColumnWidths() const = 0;
    virtual ColumnWidths localColumnWidths() const = 0;
    virtual int folderPanelWidth() const = 0; // FolderPanel
    virtual int localPaneWidth() const = 0;   // LocalPane
    // The folder the local pane shows, kept for the next start; empty when there is none.
    virtual QString localFolder() const { return {}; }
};
