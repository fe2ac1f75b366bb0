#pragma once
// The windows' colours, the optional skin file and the hand pointer over push buttons.
#include <QCursor>
#include <QString>

#include <optional>

class QWidget;
class QAbstractButton;

namespace corvantis {

QString programFolder();                 // the folder of the running executable
QString skinFilePath();                  // programFolder() + "/x/o.cjs"
QString handCursorPath();                // programFolder() + "/HAND-M.CUR"

// Main window theme: without the skin file nothing changes (the window stays white); with it the
// window, frames, labels (except the grey headings) and picture boxes take the button-face colour
// and the skin file is applied as the window's style sheet.
void ApplyMainTheme(QWidget& form);
// Plain colours for a window: the window, its frames and labels take the button-face colour.
void ApplyFormColours(QWidget& form);

// The hand cursor read from a .cur file; nullopt when the file is missing or unreadable.
std::optional<QCursor> loadCursorFile(const QString& path);

// Pointer values of the windows: 0 default, 11 hourglass, 99 custom (the window's mouse icon).
enum class Pointer { Default = 0, Hourglass = 11, Custom = 99 };

// Keeps a window's pointer and mouse icon, and applies the hover rules: over a "hand" widget the
// pointer becomes Custom, over a "plain" widget Default, in both cases only when it is not the hourglass.
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
    Impl* d;
};

} // namespace corvantis
