#pragma once
// Every modal box and the save dialog of the program go through here, so tests can queue
// the next answer and read what was shown instead of facing a real modal window. The windows
// themselves live with the application, which installs them as the backend at start-up.
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

class QWidget;

namespace corvantis {

class Dialogs {
public:
    enum class Icon { None, Warning };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    struct Shown {
        QString text;
        QString caption;
        Icon icon = Icon::None;
        Buttons buttons = Buttons::Ok;
    };
    struct SaveRequest {
        QString title;
        QString filter;
        QString fileName;
    };

    // A modal message box; returns the button pressed.
    static Answer message(const QString& text, const QString& caption, Icon icon = Icon::None,
                          Buttons buttons = Buttons::Ok, QWidget* parent = nullptr);
    // The plain information box of the program: OK only, no icon, application title as caption.
    static void inform(const QString& text, QWidget* parent = nullptr);
    // The file-save dialog; returns the chosen path, empty when cancelled.
    static QString saveFile(const SaveRequest& request, QWidget* parent = nullptr);

    // What shows the boxes for real. Without one (no windows, or before start-up installed it)
    // a box is written to standard error and takes its default answer, and a save is cancelled.
    class Backend {
    public:
        virtual ~Backend() = default;
        virtual Answer message(const Shown& box, QWidget* parent) = 0;
        virtual QString saveFile(const SaveRequest& request, QWidget* parent) = 0;
    };
    // Installs the backend (the caller keeps ownership; null removes it) and returns the previous one.
    static Backend* setBackend(Backend* backend);

    // --- test seam ---
    // While scripted, nothing modal is shown: each box takes the next queued answer (OK when
    // none is queued) and each save dialog the next queued file name (cancel when none).
    static void setScripted(bool on);
    static bool scripted();
    static void queueAnswer(Answer a);
    static void queueFileName(const QString& path);
    static std::vector<Shown>& shown();                 // every box shown while scripted
    static std::vector<SaveRequest>& saveRequests();    // every save dialog while scripted
    static void reset();                                // clears queues and records
};

} // namespace corvantis
