// Workbooks for the save round trip written by Apache POI (HSSF):
//   java -cp /usr/share/java/poi.jar:/usr/share/java/commons-math3.jar:/usr/share/java/commons-collections4.jar MakePoiCorpus.java DIR
// (tools/make_fuzz_corpus.sh also runs it for the fuzz seeds)
// poi_features.xls: 3-D references, array formulas, names, data validation, conditional
// formats, hyperlinks, comments, summary information, and a VBA-like storage beside the
// Workbook stream.
import java.io.*;
import org.apache.poi.hpsf.*;
import org.apache.poi.hssf.usermodel.*;
import org.apache.poi.poifs.filesystem.*;
import org.apache.poi.ss.usermodel.*;
import org.apache.poi.ss.util.*;
import org.apache.poi.common.usermodel.HyperlinkType;

public class MakePoiCorpus {
    public static void main(String[] args) throws Exception {
        HSSFWorkbook wb = new HSSFWorkbook();
        HSSFSheet a = wb.createSheet("Alpha");
        HSSFSheet b = wb.createSheet("Beta");
        HSSFSheet hidden = wb.createSheet("Hidden");
        wb.setSheetHidden(2, true);
        for (int r = 0; r < 6; r++) {
            Row row = a.createRow(r);
            row.createCell(0).setCellValue(r + 1);
            row.createCell(1).setCellValue("t" + r);
            row.createCell(2).setCellFormula("A" + (r + 1) + "*2");
        }
        hidden.createRow(0).createCell(0).setCellValue(42);
        Row r0 = b.createRow(0);
        r0.createCell(0).setCellFormula("Alpha!A1+Hidden!A1");
        r0.createCell(1).setCellFormula("SUM(Alpha:Hidden!A1)");
        r0.createCell(2).setCellFormula("IF(Alpha!A2>1,\"big\",\"small\")");
        r0.createCell(3).setCellFormula("VLOOKUP(3,Alpha!A1:C6,3,FALSE)");
        b.setArrayFormula("Alpha!A1:A3*10", CellRangeAddress.valueOf("E1:E3"));
        b.setArrayFormula("SUM({1,2;3,4}*Alpha!A1:B2)", CellRangeAddress.valueOf("F1"));
        Name n = wb.createName();
        n.setNameName("Totals");
        n.setRefersToFormula("Alpha!$C$1:$C$6");
        Name local = wb.createName();
        local.setNameName("LocalCell");
        local.setSheetIndex(1);
        local.setRefersToFormula("Beta!$A$1");
        b.createRow(2).createCell(0).setCellFormula("SUM(Totals)+LocalCell");
        wb.setPrintArea(0, "$A$1:$C$6");
        // data validation
        DataValidationHelper dvh = b.getDataValidationHelper();
        DataValidation dv = dvh.createValidation(dvh.createExplicitListConstraint(new String[] {"yes", "no"}),
                                                 new CellRangeAddressList(4, 6, 0, 0));
        b.addValidationData(dv);
        // conditional format
        SheetConditionalFormatting scf = a.getSheetConditionalFormatting();
        ConditionalFormattingRule rule = scf.createConditionalFormattingRule(ComparisonOperator.GT, "3");
        rule.createFontFormatting().setFontColorIndex(IndexedColors.RED.getIndex());
        scf.addConditionalFormatting(new CellRangeAddress[] {CellRangeAddress.valueOf("A1:A6")}, rule);
        // hyperlinks
        CreationHelper ch = wb.getCreationHelper();
        Cell lc = b.createRow(8).createCell(0);
        lc.setCellValue("link");
        Hyperlink link = ch.createHyperlink(HyperlinkType.URL);
        link.setAddress("https://example.org/page");
        lc.setHyperlink(link);
        Cell ic = b.getRow(8).createCell(1);
        ic.setCellValue("inside");
        Hyperlink in = ch.createHyperlink(HyperlinkType.DOCUMENT);
        in.setAddress("'Alpha'!A1");
        ic.setHyperlink(in);
        // a comment
        Drawing<?> d = a.createDrawingPatriarch();
        Comment c = d.createCellComment(ch.createClientAnchor());
        c.setString(ch.createRichTextString("Checked"));
        c.setAuthor("Corpus");
        a.getRow(0).getCell(0).setCellComment(c);
        // summary information
        wb.createInformationProperties();
        wb.getSummaryInformation().setTitle("POI round trip");
        wb.getSummaryInformation().setAuthor("Corpus");
        wb.getDocumentSummaryInformation().setCompany("Example");
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        wb.write(bytes);
        wb.close();

        // A VBA project's place in the file: storages with streams, and an empty storage.
        POIFSFileSystem fs = new POIFSFileSystem(new ByteArrayInputStream(bytes.toByteArray()));
        DirectoryEntry vba = fs.getRoot().createDirectory("_VBA_PROJECT_CUR");
        vba.setStorageClsid(new org.apache.poi.hpsf.ClassID("{00020820-0000-0000-C000-000000000046}"));
        vba.createDocument("PROJECT", new ByteArrayInputStream("ID=\"{00000000-0000-0000-0000-000000000000}\"\r\nName=\"VBAProject\"\r\n".getBytes("ISO-8859-1")));
        DirectoryEntry inner = vba.createDirectory("VBA");
        byte[] big = new byte[5000];
        for (int i = 0; i < big.length; i++)
            big[i] = (byte) (i * 7);
        inner.createDocument("dir", new ByteArrayInputStream(big));
        inner.createDocument("_VBA_PROJECT", new ByteArrayInputStream(new byte[] {(byte) 0xCC, 0x61, (byte) 0xFF, (byte) 0xFF, 0, 0, 0}));
        vba.createDirectory("Empty");
        try (FileOutputStream out = new FileOutputStream(new File(args[0], "poi_features.xls"))) {
            fs.writeFilesystem(out);
        }
        fs.close();
        richAndPlainNames(new File(args[0], "poi_rich.xls"));
    }

    // poi_rich.xls: shared strings with rich-text runs (fonts changing inside a cell), names whose
    // formulas are constants, a frozen pane and several selections.
    static void richAndPlainNames(File file) throws Exception {
        HSSFWorkbook wb = new HSSFWorkbook();
        HSSFSheet s = wb.createSheet("Runs");
        Name factor = wb.createName();
        factor.setNameName("Factor");
        factor.setRefersToFormula("2.5");
        Name text = wb.createName();
        text.setNameName("Greeting");
        text.setRefersToFormula("\"hello\"");
        HSSFFont bold = wb.createFont();
        bold.setBold(true);
        HSSFFont red = wb.createFont();
        red.setColor(IndexedColors.RED.getIndex());
        red.setItalic(true);
        for (int r = 0; r < 4; r++) {
            HSSFRichTextString t = new HSSFRichTextString("bold red plain " + r);
            t.applyFont(0, 4, bold);
            t.applyFont(5, 8, red);
            s.createRow(r).createCell(0).setCellValue(t);
            s.getRow(r).createCell(1).setCellValue("same text");
            s.getRow(r).createCell(2).setCellFormula("LEN(A" + (r + 1) + ")*Factor");
        }
        s.createFreezePane(1, 1);
        s.setActiveCell(new CellAddress("B2"));
        try (FileOutputStream out = new FileOutputStream(file)) {
            wb.write(out);
        }
        wb.close();
    }
}
