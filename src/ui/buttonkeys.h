#pragma once
// Enter and Return press a focused push button, as Space does: a button on a window that is no
// dialog is otherwise deaf to them.
class QAbstractButton;

namespace corvantis {

void pressOnEnter(QAbstractButton* button);

} // namespace corvantis
