#include "sites/ui/TypingLimit.h"

#include "sites/ConfigLogic.h"

#include <QLineEdit>

TypingLimitValidator::TypingLimitValidator(QLineEdit* field, int limit)
    : QValidator(field), m_field(field), m_limit(limit)
{}

QValidator::State TypingLimitValidator::validate(QString& input, int& /*pos*/) const
{
    return ConfigLogic::TypingWithinLimit(m_field->text().size(), input.size(), m_limit)
               ? Acceptable
               : Invalid;
}
