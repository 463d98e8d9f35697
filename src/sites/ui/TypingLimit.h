#pragma once
#include <QValidator>

class QLineEdit;

// Limits what the user can type into a field without touching text the program puts there:
// a profile written elsewhere may hold a longer value, and cutting it on load would save a
// different site name or password than the one stored.
class TypingLimitValidator final : public QValidator
{
    Q_OBJECT

public:
    TypingLimitValidator(QLineEdit* field, int limit);

    State validate(QString& input, int& pos) const override;

private:
    QLineEdit* m_field;
    int m_limit;
};
