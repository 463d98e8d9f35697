#pragma once
#include <QComboBox>

// A drop-down list that an assistive tool reads as its label (its accessible name) with the
// chosen item as its value. Qt's own combo box on Linux gives the chosen item as the name too,
// so a screen reader would announce "Local demo" instead of "Web Site: Local demo".
class LabelledComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit LabelledComboBox(QWidget* parent = nullptr);
};
