#pragma once
// A guarded procedure: it names its location once and runs numbered steps. A step that
// throws is reported with its number and the procedure goes on with the next step.
//
//   Guard g("Form1", "Form_Load");
//   g.step(100, [&] { ApplyMainTheme(*this); });
#include <QString>

#include <exception>
#include <stdexcept>

namespace corvantis {

// Raised by the program's own steps when something cannot be done; its text is the description.
class StepError : public std::runtime_error {
public:
    explicit StepError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

QString locationText(const char* module, const char* procedure);   // "in Marrowfen2021/08/31.Form1.Form_Load "
QString describeException(const std::exception_ptr& e);           // the description for the report

class Guard {
public:
    Guard(const char* module, const char* procedure) : mLocation(locationText(module, procedure)) {}

    // Runs one step; returns true when it completed, false when it failed and was reported.
    template <typename F>
    bool step(int number, F&& body)
    {
        try {
            body();
            return true;
        } catch (...) {
            report(number, std::current_exception());
            return false;
        }
    }

    const QString& location() const { return mLocation; }
    int failures() const { return mFailures; }
    void report(int number, const std::exception_ptr& e);

private:
    QString mLocation;
    int mFailures = 0;
};

} // namespace corvantis
