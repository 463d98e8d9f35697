#pragma once
#include <QString>
#include <QtGlobal>

#include <functional>

// The server keys and certificates the user trusted "once" in this run of the program, shared
// by the window's connection and every queue worker: one answer holds for every connection to
// that host and port until the program ends, and only for the very key that was shown.
namespace TrustedThisRun {

enum class Kind { HostKey, Certificate };

// The key (an SSH host key as "TYPE SHA256:...", a certificate's fingerprint) trusted for
// `host` and `port` in this run; empty when none.
QString key(Kind kind, const QString& host, quint16 port);
void remember(Kind kind, const QString& host, quint16 port, const QString& key);

// Asks `ask` about `key` of `host` and `port` unless it is trusted already (then true without
// asking). `ask` returns whether the user trusted it; a trusted key is remembered. While one
// connection asks about a host, other threads' connections to it wait for that answer instead
// of asking again; the thread of the application (the one answering questions) never waits.
bool askOnce(Kind kind, const QString& host, quint16 port, const QString& key,
             const std::function<bool()>& ask);

// Forgets every answer (tests).
void forgetAll();

} // namespace TrustedThisRun
