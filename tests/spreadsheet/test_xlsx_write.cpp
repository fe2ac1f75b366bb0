// The .xlsx writer, part by part: escaping, cell records by value kind, styles written once,
// sheet view, page setup and names; and the zip package as libzip reads it back.
#include "spreadsheet/formula.h"
#include "spreadsheet/model.h"
#include "spreadsheet/xlsx_write.h"

#include <QtTest>

#include <zip.h>

#include <string>

using namespace ss;

namespace {

bool has(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

Workbook sample()
{
    Workbook wb = Workbook::makeDefault();
    wb.sheets.push_back({});
    Sheet& s = wb.sheets.back();
    s.name = "P&L 'one'";
    Xf bold = wb.xfs[15];
    Font f;
    f.weight = 700;
    f.height = 360;
    bold.fontIndex = wb.addFont(f);
    bold.formatIndex = wb.addFormat("[$-409]mmm\\-yy;@");
    bold.fillPattern = 1;
    bold.fillForeColor = 12;
    bold.bottom = {2, 8};
    bold.hAlign = HAlign::Center;
    const std::uint16_t boldXf = wb.addXf(bold);
    const std::uint16_t boldXf2 = wb.addXf(bold);   // the same look twice

    s.at(0, 0).value = Value(std::string("R&D <east> \"x\""));
    s.at(0, 1).value = Value(1234.5);
    s.at(0, 1).xf = boldXf;
    s.at(0, 2).value = Value(true);
    s.at(0, 2).xf = boldXf2;
    s.at(1, 0).value = Value(std::string("-"));
    s.at(1, 0).formula = formula::compile("IF(B1=0,\"-\",B1*2)", 1, 0);
    s.at(1, 0).value = Value(std::string("-"));
    s.at(1, 1).value = Value(ErrorCode::Div0);
    s.at(1, 1).formula = formula::compile("B1/0", 1, 1);
    s.at(1, 2).value = Value(2469.0);
    s.at(1, 2).formula = formula::compile("SUM(B1:B1)*2", 1, 2);
    s.at(2, 0).value = Value(std::string("R&D <east> \"x\""));   // shared with A1
    s.merged.push_back({3, 0, 3, 2});
    s.showGridlines = false;
    s.pane = {true, 2, 5, 5, 2, 0};
    s.page.landscape = true;
    s.page.fitToPage = true;
    s.page.scale = 60;
    s.columns.push_back({1, 1, 5156, 15, false, 0});
    s.rows[1] = RowInfo{480, 15, true, false, false, 0};

    DefinedName titles;
    titles.name = std::string(1, '\x07');
    titles.builtin = true;
    titles.sheetIndex = 1;
    titles.formula = {0x3B, 0, 0, 3, 0, 3, 0, 0, 0, 0xFF, 0};
    wb.names.push_back(titles);
    wb.externSheetIndex(0);
    return wb;
}

} // namespace

class TestXlsxWrite : public QObject {
    Q_OBJECT

private slots:
    void escapesTextForXml()
    {
        QCOMPARE(xlsx::escapeXml("a&b<c>\"d\""), std::string("a&amp;b&lt;c&gt;&quot;d&quot;"));
        QCOMPARE(xlsx::escapeXml(std::string("bell\x07 tab\t")), std::string("bell_x0007_ tab\t"));
        // A literal escape sequence keeps its underscore; a plain underscore stays as it is.
        QCOMPARE(xlsx::escapeXml("_x0041_"), std::string("_x005F_x0041_"));
        QCOMPARE(xlsx::escapeXml("a_b _x12"), std::string("a_b _x12"));
        QCOMPARE(xlsx::escapeXml("Grüße €"), std::string("Grüße €"));
    }

    void wholeRowsAndColumnsInNames()
    {
        QCOMPARE(xlsx::widenWholeLines("'PnL projection'!$A$4:$IV$4"), std::string("'PnL projection'!$4:$4"));
        QCOMPARE(xlsx::widenWholeLines("Sheet1!$A$1:$B$65536,Sheet1!$A$2:$IV$3"), std::string("Sheet1!$A:$B,Sheet1!$2:$3"));
        QCOMPARE(xlsx::widenWholeLines("Sheet1!$A$1:$C$9"), std::string("Sheet1!$A$1:$C$9"));
    }

    void cellsByKind()
    {
        const auto parts = xlsx::packageParts(sample());
        const std::string& sheet = parts.at("xl/worksheets/sheet1.xml");
        // Text through the shared strings, once for two cells.
        QVERIFY(has(sheet, "<c r=\"A1\" t=\"s\"><v>0</v></c>"));
        QVERIFY(has(sheet, "<c r=\"A3\" t=\"s\"><v>0</v></c>"));
        QVERIFY(has(parts.at("xl/sharedStrings.xml"), "count=\"2\" uniqueCount=\"1\""));
        QVERIFY(has(parts.at("xl/sharedStrings.xml"), "<si><t>R&amp;D &lt;east&gt; &quot;x&quot;</t></si>"));
        QVERIFY(has(sheet, "t=\"b\"><v>1</v>"));
        // Formulas without '=' and with their cached results of each kind.
        QVERIFY(has(sheet, "<c r=\"A2\" t=\"str\"><f>IF(B1=0,&quot;-&quot;,B1*2)</f><v>-</v></c>"));
        QVERIFY(has(sheet, "<c r=\"B2\" t=\"e\"><f>B1/0</f><v>#DIV/0!</v></c>"));
        QVERIFY(has(sheet, "<c r=\"C2\"><f>SUM(B1:B1)*2</f><v>2469</v></c>"));
    }

    void stylesWrittenOnce()
    {
        const auto parts = xlsx::packageParts(sample());
        const std::string& sheet = parts.at("xl/worksheets/sheet1.xml");
        const std::string& styles = parts.at("xl/styles.xml");
        // B1 and C1 have two XF records of the same look: one cellXfs entry.
        const auto styleOf = [&](const std::string& ref) {
            const auto at = sheet.find("<c r=\"" + ref + "\"");
            const auto s = sheet.find(" s=\"", at);
            return sheet.substr(s + 4, sheet.find('"', s + 4) - s - 4);
        };
        QCOMPARE(styleOf("B1"), styleOf("C1"));
        QVERIFY(styleOf("B1") != "0");
        QVERIFY(has(styles, "formatCode=\"[$-409]mmm\\-yy;@\""));
        QVERIFY(has(styles, "<b/><sz val=\"18\"/>"));
        QVERIFY(has(styles, "<patternFill patternType=\"solid\"><fgColor rgb=\"FF0000FF\"/>"));
        QVERIFY(has(styles, "<bottom style=\"medium\"><color rgb=\"FF000000\"/></bottom>"));
        QVERIFY(has(styles, "<alignment horizontal=\"center\"/>"));
        // The two fills every package needs come first.
        QVERIFY(has(styles, "<fills count=\"3\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill>"));
    }

    void sheetLayoutAndPageSetup()
    {
        const auto parts = xlsx::packageParts(sample());
        const std::string& sheet = parts.at("xl/worksheets/sheet1.xml");
        QVERIFY(has(sheet, "<sheetPr><pageSetUpPr fitToPage=\"1\"/></sheetPr>"));
        QVERIFY(has(sheet, "showGridLines=\"0\""));
        QVERIFY(has(sheet, "<pane xSplit=\"2\" ySplit=\"5\" topLeftCell=\"C6\" activePane=\"bottomRight\" state=\"frozen\"/>"));
        QVERIFY(has(sheet, "<col min=\"2\" max=\"2\" width=\"20.140625\" customWidth=\"1\"/>"));
        QVERIFY(has(sheet, "<row r=\"2\" ht=\"24\" customHeight=\"1\">"));
        QVERIFY(has(sheet, "<mergeCell ref=\"A4:C4\"/>"));
        QVERIFY(has(sheet, "scale=\"60\" fitToWidth=\"1\" fitToHeight=\"1\" orientation=\"landscape\""));
        // Element order matters to Excel: view before columns before data before merges before page.
        QVERIFY(sheet.find("<sheetViews>") < sheet.find("<cols>"));
        QVERIFY(sheet.find("<cols>") < sheet.find("<sheetData>"));
        QVERIFY(sheet.find("</sheetData>") < sheet.find("<mergeCells"));
        QVERIFY(sheet.find("<mergeCells") < sheet.find("<pageMargins"));
        QVERIFY(sheet.find("<pageMargins") < sheet.find("<pageSetup"));

        const std::string& book = parts.at("xl/workbook.xml");
        QVERIFY(has(book, "<sheet name=\"P&amp;L 'one'\" sheetId=\"1\" r:id=\"rId1\"/>"));
        QVERIFY(has(book, "<definedName name=\"_xlnm.Print_Titles\" localSheetId=\"0\">'P&amp;L ''one'''!$4:$4</definedName>"));
    }

    void packageReadsBackAsZip()
    {
        const std::vector<std::uint8_t> bytes = xlsx::writeFile(sample());
        QVERIFY(bytes.size() > 500);
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        QVERIFY(source);
        zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
        QVERIFY(archive);
        QCOMPARE(QString::fromUtf8(zip_get_name(archive, 0, 0)), QStringLiteral("[Content_Types].xml"));
        const auto parts = xlsx::packageParts(sample());
        QCOMPARE(zip_get_num_entries(archive, 0), static_cast<zip_int64_t>(parts.size()));
        for (const auto& [name, xml] : parts) {
            zip_stat_t st;
            QVERIFY2(zip_stat(archive, name.c_str(), 0, &st) == 0, name.c_str());
            QCOMPARE(st.size, static_cast<zip_uint64_t>(xml.size()));
            QCOMPARE(st.comp_method, static_cast<zip_uint16_t>(ZIP_CM_DEFLATE));
            zip_file_t* file = zip_fopen(archive, name.c_str(), 0);
            std::string read(xml.size(), '\0');
            QCOMPARE(zip_fread(file, read.data(), read.size()), static_cast<zip_int64_t>(xml.size()));
            zip_fclose(file);
            QCOMPARE(read, xml);
        }
        zip_close(archive);
        zip_error_fini(&error);
    }

    void workbookWithoutSheetsIsRefused()
    {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, xlsx::writeFile(Workbook::makeDefault()));
    }
};

QTEST_APPLESS_MAIN(TestXlsxWrite)
#include "test_xlsx_write.moc"
