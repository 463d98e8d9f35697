#pragma once
#include "sites/PasswordKeyring.h"

#include <QMap>

// A keyring in memory that can be locked or missing, or answer without an unlocked default
// keyring (a write would make the real service open a window), for tests of where passwords go.
class StandInKeyring final : public PasswordKeyring
{
public:
    enum class State { Open, Locked, Missing, NoDefault };

    bool available() override { return state != State::Missing; }
    bool asksBeforeStoring() override { return state == State::NoDefault; }
    Result read(const QString& entry) override
    {
        if (state != State::Open && state != State::NoDefault)
            return refused();
        const auto at = entries.constFind(entry);
        if (at == entries.constEnd())
            return {Status::NotFound, {}, {}};
        return {Status::Ok, *at, {}};
    }
    Result write(const QString& entry, const QString& password) override
    {
        windowOpened = windowOpened || state == State::NoDefault;
        if (state != State::Open && state != State::NoDefault)
            return refused();
        entries.insert(entry, password);
        return {Status::Ok, {}, {}};
    }
    Result remove(const QString& entry) override
    {
        if (state != State::Open)
            return refused();
        entries.remove(entry);
        return {Status::Ok, {}, {}};
    }

    State state = State::Open;
    QMap<QString, QString> entries;
    // A write reached a keyring without an unlocked default: the real one would have opened
    // its "new keyring" window.
    bool windowOpened = false;

private:
    Result refused() const
    {
        return {Status::Unavailable,
                {},
                state == State::Locked ? QStringLiteral("The desktop keyring is locked.")
                                       : QStringLiteral("No desktop keyring service is running.")};
    }
};
