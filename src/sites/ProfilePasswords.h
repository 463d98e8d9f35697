#pragma once
// Where a site's password is kept: scrambled in the profile file, or in the desktop keyring
// with only a marker in the file. A password the user asked to keep in the keyring never
// goes into the file, whatever the keyring answers. (Where the keyring has no unlocked default
// keyring before the save, the dialog does not ask it at all and says so: the password is
// then kept as it is without a keyring.)
#include "sites/PasswordKeyring.h"
#include "sites/ProfileStore.h"

#include <QString>

#include <optional>

class Prompter;

// Fills `profile.password` from the keyring when the profile says it is there. When the
// keyring cannot give it, the password stays empty, `passwordUnread` is set and the answer
// says why. `keyring` may be null (no keyring in this program).
PasswordKeyring::Result FetchKeyringPassword(SiteProfile& profile, const ProfileStore& store,
                                             PasswordKeyring* keyring);

// Decides, just before `profile` is written, where its password goes, and puts it into the
// keyring or takes an earlier copy out. `useKeyring` is the user's option. Returns the warning
// to show when the keyring refused the password (which is then kept nowhere), else empty.
QString PlacePassword(SiteProfile& profile, const ProfileStore& store, PasswordKeyring* keyring,
                      bool useKeyring);

// The option was changed: moves every stored password into the keyring (`toKeyring`) or back
// into the file. A password that cannot be moved stays where it was; the returned warning
// names those sites (empty when all moved).
QString MovePasswords(const ProfileStore& store, PasswordKeyring* keyring, bool toKeyring);

// The password to log on with for a site whose password is in the keyring. When the keyring
// cannot give it, the user is asked in a password box (the answer is used once, never
// stored). Nothing when the user cancels.
std::optional<QString> PasswordForConnect(const SiteProfile& site, PasswordKeyring* keyring,
                                          Prompter& prompter);

// The caption of the password box at connect.
inline constexpr char kPasswordPromptCaption[] = "Password";
