#include "sites/ui/TypingLimit.h"

#include <QLineEdit>
#include <QVariant>

#include <algorithm>

namespace {

const char* const kLimitProperty = "typingLimit";

int limitFor(const QLineEdit* field, qsizetype textLength)
{
    const int limit = field->property(kLimitProperty).toInt();
    return static_cast<int>(std::max<qsizetype>(limit, textLength));
}

} // namespace

void SetTypingLimit(QLineEdit* field, int limit)
{
    field->setProperty(kLimitProperty, limit);
    field->setMaxLength(limitFor(field, field->text().size()));
    // The field's own maximum truncates typing and pastes the way the limit should; it is
    // raised to the length of a longer text so that text stays whole and can be shortened.
    QObject::connect(field, &QLineEdit::textChanged, field, [field](const QString& text) {
        field->setMaxLength(limitFor(field, text.size()));
    });
}

void SetFieldText(QLineEdit* field, const QString& text)
{
    if (field->property(kLimitProperty).isValid())
        field->setMaxLength(limitFor(field, text.size()));
    field->setText(text);
}
