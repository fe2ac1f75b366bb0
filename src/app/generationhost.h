#pragma once
// Connects "Start Creating Template" on the main window to the generation and the preview window.
#include "app/generation.h"

#include <QObject>

#include <memory>

namespace corvantis {

class Form1;
class Form2;

class MainGenerationHost : public QObject, public GenerationHost {
    Q_OBJECT
public:
    explicit MainGenerationHost(Form1& form1);
    ~MainGenerationHost() override;

    // The preview window; null until the first generation creates it.
    Form2* preview() const { return mForm2.get(); }

    QString companyName() const override;
    QDate fiscalStart() const override;
    QString cellText(int line, int column) const override;
    void setPointer(Pointer pointer) override;
    void freezeDrawing(bool frozen) override;
    void loadPreviewPicture(const QString& path) override;
    void setPreviewExcelFile(const QString& path) override;
    void showPreview() override;
    void hideMain() override;

    // The click of PushButton22.
    bool generate();

private:
    Form2& form2();

    Form1& mForm1;
    std::unique_ptr<Form2> mForm2;
};

} // namespace corvantis
