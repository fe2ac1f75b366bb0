#pragma once
// The main window: three command buttons above the input sheet. Its start-up procedure
// Form_Load fills everything from the settings store; closing it ends the program.
#include <QDate>
#include <QWidget>

#include <functional>
#include <memory>

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace corvantis {

class FocusRing;
class PointerRules;
class SettingsStore;
namespace sheet {
class InputSheet;
}

class Form1 : public QWidget {
    Q_OBJECT
public:
    struct Services {
        SettingsStore* store = nullptr;          // null: the user's store
        std::function<QDate()> today;            // empty: the system date
        std::function<void()> excelProbe;        // start-up step 236; empty: nothing to probe
        QString contactAddress = QStringLiteral("https://kestrelon.example/contact");
    };

    explicit Form1(QWidget* parent = nullptr);
    explicit Form1(Services services, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up procedure: steps 100 to 236, each reported and passed over when it fails.
    void Form_Load();

    QLineEdit* txtRevenue(int line) const;
    QLineEdit* txtInd(int line) const;
    QLineEdit* txtYear(int month1to12, int line) const;
    QLineEdit* txtCompanyName() const;
    QDateEdit* DTPicker1() const;
    QLabel* lblYear(int i) const;
    QScrollBar* VScroll1() const;
    QWidget* Picture1() const;
    QWidget* Picture2() const;
    QPushButton* PushButton22() const { return mPushButton22; }
    QPushButton* PushButton6() const { return mPushButton6; }
    QPushButton* PushButton7() const { return mPushButton7; }
    sheet::InputSheet& sheet() const { return *mSheet; }
    PointerRules& pointerRules() const { return *mPointer; }
    FocusRing& focusRing() const { return *mFocusRing; }
    SettingsStore& store() const { return *mStore; }
    QDate today() const;

    // Example figures and help: the handlers of PushButton7 and PushButton6.
    void PushButton7_Click();
    void PushButton6_Click();

signals:
    // The generate button was clicked.
    void generateRequested();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    Services mServices;
    SettingsStore* mStore;
    QPushButton* mPushButton22 = nullptr;
    QPushButton* mPushButton6 = nullptr;
    QPushButton* mPushButton7 = nullptr;
    sheet::InputSheet* mSheet = nullptr;
    std::unique_ptr<PointerRules> mPointer;
    FocusRing* mFocusRing = nullptr;
};

} // namespace corvantis
