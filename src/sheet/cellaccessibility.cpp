#include "sheet/cellaccessibility.h"

#include "sheet/sheetcell.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QSet>

#include <utility>
#include <vector>

namespace corvantis::sheet {

namespace {

class StandIn;

// Whether a tool listens, the stand-ins given out meanwhile, and who waits for a tool. Never
// destroyed: Qt keeps the observer, and stand-ins may outlive main() in Qt's interface cache.
struct Listening final : QAccessible::ActivationObserver {
    bool listening = QAccessible::isActive();
    QSet<StandIn*> standIns;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> waiting;

    void accessibilityActiveChanged(bool active) override;
};

Listening& assistiveTools()
{
    static Listening* const listening = [] {
        auto* l = new Listening;
        QAccessible::installActivationObserver(l);
        return l;
    }();
    return *listening;
}

// What Qt's events reach while no one listens: a plain widget interface, built without the
// signal lookups of the line-edit interface. No tool ever sees one.
class StandIn final : public QAccessibleWidget {
public:
    explicit StandIn(QWidget* cell) : QAccessibleWidget(cell, QAccessible::EditableText)
    {
        assistiveTools().standIns.insert(this);
    }
    ~StandIn() override { assistiveTools().standIns.remove(this); }
};

QAccessibleInterface* standInFor(const QString& className, QObject* object)
{
    // Asked for every class of every object Qt has no interface for yet: the cheap tests first.
    if (assistiveTools().listening || !object || !object->isWidgetType())
        return nullptr;
    static const QString cellClass = QString::fromLatin1(SheetCell::staticMetaObject.className());
    if (className != cellClass)
        return nullptr;
    return new StandIn(static_cast<QWidget*>(object));
}

void Listening::accessibilityActiveChanged(bool active)
{
    listening = active;
    if (!active)
        return;
    // Out of Qt's cache before the tool can ask: the next question about a cell builds Qt's own
    // interface for it. (Each deletion takes the stand-in out of the set.)
    const QSet<StandIn*> dropped = standIns;
    for (StandIn* s : dropped)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(s));
    std::erase_if(waiting, [](const auto& w) { return w.first.isNull(); });
    const auto arrivals = waiting;   // a handler may add another
    for (const auto& [context, arrived] : arrivals) {
        if (context)
            arrived();
    }
}

} // namespace

void useCellStandIns()
{
    static const bool installed = [] {
        assistiveTools();
        QAccessible::installFactory(standInFor);
        return true;
    }();
    Q_UNUSED(installed);
}

bool assistiveToolListening()
{
    return assistiveTools().listening;
}

void whenAssistiveToolArrives(QObject* context, std::function<void()> arrived)
{
    Listening& l = assistiveTools();
    std::erase_if(l.waiting, [](const auto& w) { return w.first.isNull(); });
    l.waiting.emplace_back(context, std::move(arrived));
}

} // namespace corvantis::sheet
