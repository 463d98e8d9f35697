#include "app/ui/LabelledComboBox.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>

namespace {

// What Qt's combo box interface offers (the list as its child, open and press actions),
// with the accessible name kept apart from the value.
class LabelledComboAccessible : public QAccessibleWidget
{
public:
    explicit LabelledComboAccessible(QComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == combo()->view() ? 0 : -1;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = combo()->view()->isVisible();
        return state;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return;
        if (combo()->view()->isVisible())
            combo()->hidePopup();
        else
            combo()->showPopup();
    }

private:
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* labelledComboFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("LabelledComboBox") && object && object->isWidgetType())
        return new LabelledComboAccessible(static_cast<QComboBox*>(object));
    return nullptr;
}

} // namespace

LabelledComboBox::LabelledComboBox(QWidget* parent) : QComboBox(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(&labelledComboFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
