#include "core/dialogs.h"

#include "core/apptitle.h"

#include <cstdio>
#include <utility>

namespace corvantis {

namespace {
struct Script {
    bool on = false;
    std::deque<Dialogs::Answer> answers;
    std::deque<QString> fileNames;
    std::vector<Dialogs::Shown> shown;
    std::vector<Dialogs::SaveRequest> saves;
    Dialogs::Backend* backend = nullptr;
};
Script& script()
{
    static Script s;
    return s;
}
} // namespace

Dialogs::Answer Dialogs::message(const QString& text, const QString& caption, Icon icon, Buttons buttons,
                                 QWidget* parent)
{
    Script& s = script();
    if (s.on) {
        s.shown.push_back(Shown{text, caption, icon, buttons});
        if (s.answers.empty())
            return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
        Answer a = s.answers.front();
        s.answers.pop_front();
        return a;
    }
    if (s.backend)
        return s.backend->message(Shown{text, caption, icon, buttons}, parent);
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(caption), qUtf8Printable(text));
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

void Dialogs::inform(const QString& text, QWidget* parent)
{
    message(text, ApplicationTitle(), Icon::None, Buttons::Ok, parent);
}

QString Dialogs::saveFile(const SaveRequest& request, QWidget* parent)
{
    Script& s = script();
    if (s.on) {
        s.saves.push_back(request);
        if (s.fileNames.empty())
            return QString();
        QString f = s.fileNames.front();
        s.fileNames.pop_front();
        return f;
    }
    return s.backend ? s.backend->saveFile(request, parent) : QString();
}

Dialogs::Backend* Dialogs::setBackend(Backend* backend)
{
    return std::exchange(script().backend, backend);
}

void Dialogs::setScripted(bool on) { script().on = on; }
bool Dialogs::scripted() { return script().on; }
void Dialogs::queueAnswer(Answer a) { script().answers.push_back(a); }
void Dialogs::queueFileName(const QString& path) { script().fileNames.push_back(path); }
std::vector<Dialogs::Shown>& Dialogs::shown() { return script().shown; }
std::vector<Dialogs::SaveRequest>& Dialogs::saveRequests() { return script().saves; }

void Dialogs::reset()
{
    Script& s = script();
    s.answers.clear();
    s.fileNames.clear();
    s.shown.clear();
    s.saves.clear();
}

} // namespace corvantis
