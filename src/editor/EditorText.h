#pragma once
#include <QByteArray>
#include <QString>

// How the editor turns a file's bytes into text and back. A file is edited only when the
// text written back would be the very bytes that were read (before any change): UTF-8 text
// with one kind of line end. Anything else opens read-only, so a save can never damage it.

enum class LineEnd { Lf, CrLf };

struct EditorContent
{
    QString text; // with "\n" line ends
    LineEnd lineEnd = LineEnd::Lf;
    bool editable = true;
    QString warning; // why the file is read-only; empty when editable
};

// The warnings of a file opened read-only.
QString NotTextWarning();
QString NotExactWarning();

EditorContent DecodeEditorText(const QByteArray& bytes);
// `text` uses "\n" for its line ends; the file gets `lineEnd` for each. No line end is added
// at the end.
QByteArray EncodeEditorText(const QString& text, LineEnd lineEnd);
