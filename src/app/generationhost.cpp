#include "app/generationhost.h"

#include "app/form1.h"
#include "app/previewmenu.h"
#include "core/guard.h"
#include "preview/form2.h"
#include "sheet/inputsheet.h"
#include "sheet/sheetcell.h"
#include "ui/pointerrules.h"
#include "workbook/bmpfile.h"

#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>

namespace corvantis {

MainGenerationHost::MainGenerationHost(Form1& form1) : mForm1(form1)
{
    connect(&mForm1, &Form1::generateRequested, this, [this] { generate(); });
}

MainGenerationHost::~MainGenerationHost() = default;

bool MainGenerationHost::generate()
{
    return GenerateWorkbook(*this);
}

QString MainGenerationHost::companyName() const
{
    return mForm1.txtCompanyName()->text();
}

QDate MainGenerationHost::fiscalStart() const
{
    return mForm1.DTPicker1()->date();
}

QString MainGenerationHost::cellText(int line, int column) const
{
    return mForm1.sheet().cell(line, column)->text();
}

void MainGenerationHost::setPointer(Pointer pointer)
{
    mForm1.pointerRules().setPointer(pointer);
}

void MainGenerationHost::freezeDrawing(bool frozen)
{
    mForm1.setUpdatesEnabled(!frozen);
}

Form2& MainGenerationHost::form2()
{
    if (!mForm2) {
        // The preview stays alive from the first generation to the end of the run.
        mForm2 = std::make_unique<Form2>();
        mForm2->setMainWindow(&mForm1);
        installPreviewMenu(*mForm2);   // copy, .xlsx, PDF and print on the picture
        mForm2->setSettingsStore(&mForm1.store());   // the save folder is kept beside the inputs
    }
    return *mForm2;
}

void MainGenerationHost::loadPreviewPicture(const QString& path)
{
    Form2& preview = form2();
    // The format is recognised from the content, whatever the extension says.
    QString why;
    QImage picture = readPictureFile(path, &why);
    if (picture.isNull())
        throw StepError(QStringLiteral("The picture of the sheet could not be loaded: ") + why);
    preview.setPicture(QPixmap::fromImage(std::move(picture)));   // the pixels are taken over, not copied
}

void MainGenerationHost::setPreviewExcelFile(const QString& path)
{
    form2().setExcelFile(path);
}

void MainGenerationHost::showPreview()
{
    Form2& preview = form2();
    preview.show();
    preview.raise();
    preview.activateWindow();
}

void MainGenerationHost::hideMain()
{
    mForm1.hide();
}

} // namespace corvantis
