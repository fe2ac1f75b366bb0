#include "app/generationhost.h"

#include "app/form1.h"
#include "app/guard.h"
#include "preview/form2.h"

#include <QDateEdit>
#include <QImageReader>
#include <QLineEdit>
#include <QPushButton>

namespace corvantis {

MainGenerationHost::MainGenerationHost(Form1& form1) : form1_(form1)
{
    connect(&form1_, &Form1::generateRequested, this, [this] { generate(); });
}

MainGenerationHost::~MainGenerationHost() = default;

bool MainGenerationHost::generate()
{
    return GenerateWorkbook(*this);
}

QString MainGenerationHost::companyName() const
{
    return form1_.txtCompanyName()->text();
}

QDate MainGenerationHost::fiscalStart() const
{
    return form1_.DTPicker1()->date();
}

QString MainGenerationHost::cellText(int line, int column) const
{
    if (column == 0)
        return form1_.txtRevenue(line)->text();
    if (column == 1)
        return form1_.txtInd(line)->text();
    return form1_.txtYear(column - 1, line)->text();
}

void MainGenerationHost::setPointer(Pointer pointer)
{
    form1_.pointerRules().setPointer(pointer);
}

void MainGenerationHost::freezeDrawing(bool frozen)
{
    form1_.setUpdatesEnabled(!frozen);
}

Form2& MainGenerationHost::form2()
{
    if (!form2_) {
        // The preview stays alive from the first generation to the end of the run.
        form2_ = std::make_unique<Form2>();
        form2_->setMainWindow(&form1_);
    }
    return *form2_;
}

void MainGenerationHost::loadPreviewPicture(const QString& path)
{
    Form2& preview = form2();
    // The format is recognised from the content, whatever the extension says.
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QImage picture = reader.read();
    if (picture.isNull())
        throw StepError(QStringLiteral("The picture of the sheet could not be loaded: ") + reader.errorString());
    preview.setPicture(QPixmap::fromImage(picture));
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
    form1_.hide();
}

} // namespace corvantis
