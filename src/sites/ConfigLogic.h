#pragma once
#include "sites/ProfileStore.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>

class Prompter;

// The Configure dialog's rules that do not need widgets, kept here so tests can reach them
// without building the dialog.
namespace ConfigLogic {

// Texts of the dialog's boxes, exactly as the user sees them.
inline constexpr char kNoSiteNameText[] = "You must enter a name for this web site.";
inline constexpr char kSavedText[] = "Site information saved.";
inline constexpr char kNoSiteToDeleteText[] = "You must select a web site to delete.";
inline constexpr char kCloseQuestionText[] =
    "This site information has been changed.  Do you want to save it?";
inline constexpr char kPickerCaption[] = "Select Local Folder";

// Typing limits of the FTP page's fields (characters).
inline constexpr int kSiteNameLimit = 40;
inline constexpr int kPortLimit = 5;
inline constexpr int kPasswordLimit = 60;

// Removes leading and trailing blanks and control characters (everything up to U+0020), the
// test the dialog uses to decide whether a name or folder was given at all.
QString TrimBlanksAndControls(const QString& text);

// Whether a character typed into the Port field is kept: the digits and Backspace (8).
// Everything else, control characters of shortcuts included, is dropped with a beep.
bool IsPortCharAccepted(char16_t ch);

// Whether an edit that changes a field from `oldLength` to `newLength` characters may go ahead
// under a typing limit. A text already longer than the limit (loaded from a profile written
// elsewhere) may still be shortened, so a limit never blocks deleting.
bool TypingWithinLimit(qsizetype oldLength, qsizetype newLength, int limit);

// Top-left corner that centres a window of `ownSize` over `mainFrame`: the offset is
// (main size - own size) * 0.5 truncated toward zero, so a dialog larger than the main window
// sits up and to the left by the truncated half of the difference.
QPoint CentredOrigin(const QRect& mainFrame, const QSize& ownSize);

// The default local folder that OK stores: the field's text as it stands, or the executable's
// folder when the text holds nothing but blanks and control characters.
QString EffectiveDefaultPath(const QString& fieldText, const QString& executableFolder);

// The question asked whenever the dialog closes. Returns whether the dialog may close. With
// the site unchanged nothing is asked. A Yes saves the site; a save the user declines still
// lets the dialog close, while one that was refused or failed keeps it open so the edits are
// not thrown away behind the user's back.
bool CloseQuery(bool siteChanged, Prompter& prompter,
                const std::function<ProfileSaveResult()>& saveSiteProfile);

} // namespace ConfigLogic
