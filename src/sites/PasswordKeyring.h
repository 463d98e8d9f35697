#pragma once
// The desktop's secret store, where site passwords live when the user keeps them out of the
// profile file. The program talks to it only through this interface, so tests use a stand-in.
#include <QString>

// How long one keyring call may take before the program gives up on it and goes on as if
// the keyring were missing. A keyring that shows its own unlock prompt needs time for the
// user to type; one that never answers must not hold the program for longer than this.
inline constexpr int kKeyringDeadlineMs = 20000;

class PasswordKeyring
{
public:
    enum class Status {
        Ok,
        NotFound,    // the keyring answered but holds no such entry
        Unavailable, // locked, missing, refused or silent: nothing was read or stored
    };
    struct Result
    {
        Status status = Status::Unavailable;
        QString password; // what was read
        QString error;    // why it failed, in words the user can act on
    };

    virtual ~PasswordKeyring() = default;

    // Whether a keyring service answers at all (a locked one answers).
    virtual bool available() = 0;
    // Whether storing a password now would make the keyring service open a window of its own:
    // it answers, but its default keyring is locked or was never made (the window asks for a
    // password for a new one). Asked before a password goes in, never answered by trying.
    virtual bool asksBeforeStoring() { return false; }
    virtual Result read(const QString& entry) = 0;
    virtual Result write(const QString& entry, const QString& password) = 0;
    // NotFound counts as done: there is nothing left to remove.
    virtual Result remove(const QString& entry) = 0;
};

// The service name under which every entry of this program is filed.
inline constexpr char kKeyringService[] = "ZUL-FTP";
