#pragma once
#include "sites/PasswordKeyring.h"

#include <QPointer>

namespace QKeychain {
class Job;
}

// The desktop's secret store (the Secret Service of GNOME and others, or KDE's wallet),
// reached through QtKeychain. Every call waits at most its deadline, letting the window
// repaint meanwhile; a call that missed it is left to finish by itself, and until it has,
// the keyring counts as not answering, so no later call waits again.
class DesktopKeyring final : public PasswordKeyring
{
public:
    explicit DesktopKeyring(int deadlineMs = kKeyringDeadlineMs);
    ~DesktopKeyring() override;

    bool available() override;
    // Asks the Secret Service for its "default" collection and that collection's Locked
    // property. No Secret Service on the bus, or no answer: false, and the store goes ahead
    // to whatever the keyring library reaches.
    bool asksBeforeStoring() override;
    Result read(const QString& entry) override;
    Result write(const QString& entry, const QString& password) override;
    Result remove(const QString& entry) override;

private:
    // Runs `job`, which it takes over, until it finishes or the deadline passes; a read's
    // password comes back in the result.
    Result run(QKeychain::Job* job);

    int m_deadlineMs;
    QPointer<QKeychain::Job> m_unanswered;
};
