#include "editor/EditorText.h"

#include <QStringDecoder>

QString NotTextWarning()
{
    return QStringLiteral("This file holds bytes that are not UTF-8 text (binary data or "
                          "another encoding). It is shown read-only, so that saving cannot "
                          "damage it.");
}

QString NotExactWarning()
{
    return QStringLiteral("This file mixes line ends or holds characters that the editor "
                          "cannot keep exactly as they are. It is shown read-only, so that "
                          "saving cannot change it.");
}

EditorContent DecodeEditorText(const QByteArray& bytes)
{
    EditorContent content;
    // A byte-order mark stays a character of the text, so it is written back too.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || bytes.contains('\0')) {
        content.text = text;
        content.editable = false;
        content.warning = NotTextWarning();
        return content;
    }
    if (bytes.contains("\r\n")) {
        content.lineEnd = LineEnd::CrLf;
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }
    content.text = text;
    // A file with both kinds of line end, or a lone carriage return, would come back with
    // one kind only: bytes the user never touched would change.
    if (EncodeEditorText(content.text, content.lineEnd) != bytes) {
        content.editable = false;
        content.warning = NotExactWarning();
    }
    return content;
}

QByteArray EncodeEditorText(const QString& text, LineEnd lineEnd)
{
    QByteArray bytes = text.toUtf8();
    if (lineEnd == LineEnd::CrLf)
        bytes.replace("\n", "\r\n");
    return bytes;
}
