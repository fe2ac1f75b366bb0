#pragma once
// What the sheet's cells offer screen readers and other assistive tools, and when.
//
// Qt builds the full interface of an edit box (Qt's own line-edit interface) the first time its
// caret moves, whether or not anything listens; for the sheet's 462 cells that was a good part of
// the start-up. While no assistive tool listens, a cell gets a light stand-in instead, which takes
// Qt's events and tells no one. The moment a tool starts listening, before it can ask anything,
// the stand-ins are dropped: from then on every cell has Qt's own line-edit interface, the one a
// tool always saw. The cells' names wait the same way (see InputSheet::describe).
#include <functional>

class QObject;

namespace corvantis::sheet {

// Installed once, by the first cell built: from then on cells get stand-ins while no one listens.
void useCellStandIns();

// True while an assistive tool listens (as Qt tells it; at first, QAccessible::isActive()).
bool assistiveToolListening();

// Runs `arrived` each time an assistive tool starts listening, once the stand-ins are gone, as
// long as `context` lives.
void whenAssistiveToolArrives(QObject* context, std::function<void()> arrived);

} // namespace corvantis::sheet
