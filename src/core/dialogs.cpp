#include "app/dialogs.h"

#include "app/apptitle.h"

#include <QFileDialog>
#include <QMessageBox>

namespace corvantis {

namespace {
struct Script {
    bool on = false;
    std::deque<Dialogs::Answer> answers;
    std::deque<QString> fileNames;
    std::vector<Dialogs::Shown> shown;
    std::vector<Dialogs::SaveRequest> saves;
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
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text,
                    buttons == Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
    const int r = box.exec();
    if (buttons == Buttons::YesNo)
        return r == QMessageBox::Yes ? Answer::Yes : Answer::No;
    return Answer::Ok;
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
    return QFileDialog::getSaveFileName(parent, request.title, request.fileName, request.filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
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
