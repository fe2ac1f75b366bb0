#pragma once
// A window's pointer and mouse icon, with the hover rules: over a "hand" widget the pointer
// becomes Custom, over a "plain" widget Default, in both cases only when it is not the hourglass.
#include "core/pointer.h"

#include <QCursor>

#include <memory>
#include <optional>

class QWidget;

namespace corvantis {

class PointerRules {
public:
    explicit PointerRules(QWidget& window);
    ~PointerRules();
    void setMouseIcon(const std::optional<QCursor>& icon);
    void addHandWidget(QWidget* w);      // push buttons
    void addPlainWidget(QWidget* w);     // the window surface, frames, edit boxes, the date picker
    void setPointer(Pointer p);
    Pointer pointer() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace corvantis
