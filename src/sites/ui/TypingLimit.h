#pragma once
#include <QString>

class QLineEdit;

// Typing limits that text put in by the program may exceed: a profile written elsewhere may
// hold a longer site name or password, and cutting it on load would save it back under a
// different section or with a different password than the one stored.

// Limits what the user can type or paste into `field` to `limit` characters; a longer text
// already there can still be shortened.
void SetTypingLimit(QLineEdit* field, int limit);

// Puts `text` into `field` whole, whatever the field's typing limit.
void SetFieldText(QLineEdit* field, const QString& text);
