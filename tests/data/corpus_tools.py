#!/usr/bin/python3
# Workbooks for the save round trip, and what other programs see in them.
#
#   corpus_tools.py make-lo DIR        writes lo_features.xls with LibreOffice (Python bridge)
#   corpus_tools.py dump OUT.json F... for each file: the sheets and every formula as LibreOffice
#                                      shows them, and every compound-file stream and storage
#                                      (olefile) with a digest of its bytes
#
# Runs with Debian's python3 (python3-uno, python3-olefile); LibreOffice runs headless on a
# private profile so that it never meets a desktop instance.
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.table import CellRangeAddress, CellAddress


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


class Office:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="lo-profile-")
        pipe = "corvantis_corpus_%d" % os.getpid()
        self.proc = subprocess.Popen(
            ["soffice", "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
             "-env:UserInstallation=file://" + self.profile,
             "--accept=pipe,name=%s;urp;StarOffice.ComponentContext" % pipe],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
        ctx = None
        for _ in range(240):
            try:
                ctx = resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
                break
            except Exception:
                time.sleep(0.25)
        if ctx is None:
            raise RuntimeError("LibreOffice did not start")
        self.desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)

    def load(self, path):
        return self.desktop.loadComponentFromURL(uno.systemPathToFileUrl(os.path.abspath(path)), "_blank", 0,
                                                 (prop("Hidden", True), prop("ReadOnly", True), prop("UpdateDocMode", 0)))

    def close(self):
        try:
            self.desktop.terminate()
        except Exception:
            pass
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        shutil.rmtree(self.profile, ignore_errors=True)


def make_lo(office, out_dir):
    doc = office.desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0, (prop("Hidden", True),))
    sheets = doc.getSheets()
    sheets.getByIndex(0).setName("Data")
    sheets.insertNewByName("Calc", 1)
    sheets.insertNewByName("Third", 2)
    data, calc, third = (sheets.getByIndex(i) for i in range(3))
    for r in range(10):
        data.getCellByPosition(0, r).setValue(r + 1)
        data.getCellByPosition(1, r).setValue((r + 1) * 2.5)
        data.getCellByPosition(2, r).setFormula("=A%d*B%d" % (r + 1, r + 1))   # written as a shared formula
    data.getCellByPosition(3, 0).setString("Label")
    third.getCellByPosition(0, 0).setValue(7)
    # 3-D references, to one sheet and across sheets
    calc.getCellByPosition(0, 0).setFormula("=$Data.A1+$Third.A1")
    calc.getCellByPosition(0, 1).setFormula("=SUM($Data.A1:$Third.A3)")
    calc.getCellByPosition(0, 2).setFormula("=SUM($Data.B1:B10)")
    # a reference to another workbook
    calc.getCellByPosition(0, 3).setFormula("='file:///tmp/other-book.xls'#$Sheet1.B2*2")
    # array formulas, one with an array constant
    rng = calc.getCellRangeByName("B1:B3")
    rng.setArrayFormula("=$Data.A1:A3*10")
    calc.getCellRangeByName("C1:D2").setArrayFormula("={1;2}*{3,4}")
    calc.getCellByPosition(4, 0).setFormula("=SUMPRODUCT({1,2;3,4}*{5,6;7,8})")
    # names: global and local to a sheet
    names = doc.NamedRanges
    names.addNewByName("Rates", "$Data.$B$1:$B$10", CellAddress(0, 0, 0), 0)
    calc.getCellByPosition(0, 5).setFormula("=SUM(Rates)")
    # a data table (multiple operations)
    calc.getCellByPosition(6, 0).setValue(2)
    calc.getCellByPosition(7, 0).setFormula("=G1*3")
    for r in range(1, 4):
        calc.getCellByPosition(6, r).setValue(r * 10)
    calc.getCellByPosition(7, 1).setFormula("=MULTIPLE.OPERATIONS($H$1;$G$1;G2)")
    calc.getCellByPosition(7, 2).setFormula("=MULTIPLE.OPERATIONS($H$1;$G$1;G3)")
    # a comment
    ann = calc.getAnnotations()
    ann.insertNew(CellAddress(1, 0, 0), "A note on A1")
    # validation
    cell = calc.getCellByPosition(0, 8)
    v = cell.Validation
    v.Type = uno.Enum("com.sun.star.sheet.ValidationType", "DECIMAL")
    v.setOperator(uno.Enum("com.sun.star.sheet.ConditionOperator", "BETWEEN"))
    v.setFormula1("0")
    v.setFormula2("100")
    cell.Validation = v
    # conditional format
    target = calc.getCellRangeByName("A10:A12")
    cf = target.ConditionalFormat
    cf.addNew((prop("Operator", uno.Enum("com.sun.star.sheet.ConditionOperator", "GREATER")),
               prop("Formula1", "5"), prop("StyleName", "Accent")))
    target.ConditionalFormat = cf
    # a hyperlink
    link = calc.getCellByPosition(0, 13)
    text = link.getText()
    field = doc.createInstance("com.sun.star.text.TextField.URL")
    field.URL = "https://example.org/"
    field.Representation = "example"
    text.insertTextContent(text.createTextCursor(), field, False)
    # an embedded chart
    charts = data.getCharts()
    rect = uno.createUnoStruct("com.sun.star.awt.Rectangle")
    rect.X, rect.Y, rect.Width, rect.Height = 8000, 1000, 8000, 6000
    charts.addNewByName("Chart1", rect, (CellRangeAddress(0, 0, 0, 1, 9),), False, False)
    # summary information
    props = doc.getDocumentProperties()
    props.Title = "Round trip"
    props.Author = "Corpus"
    props.Subject = "Everything a save must keep"
    path = os.path.join(out_dir, "lo_features.xls")
    doc.storeToURL(uno.systemPathToFileUrl(os.path.abspath(path)), (prop("FilterName", "MS Excel 97"),))
    doc.close(True)


def dump(office, files):
    import olefile
    out = {}
    for f in files:
        entry = {"sheets": [], "formulas": {}, "streams": {}, "storages": {}}
        ole = olefile.OleFileIO(f)
        for path in ole.listdir(streams=True, storages=True):
            name = "/".join(path)
            kind = ole.get_type(path)
            if kind == olefile.STGTY_STREAM:
                entry["streams"][name] = hashlib.sha1(ole.openstream(path).read()).hexdigest()
            elif kind == olefile.STGTY_STORAGE:
                entry["storages"][name] = ole.getclsid(path)
        entry["rootClsid"] = ole.root.clsid
        ole.close()
        doc = office.load(f)
        if doc is None:
            entry["error"] = "LibreOffice did not open it"
            out[f] = entry
            continue
        sheets = doc.getSheets()
        entry["names"] = sorted(doc.NamedRanges.getElementNames())
        entry["objects"] = {}
        for i in range(sheets.getCount()):
            sh = sheets.getByIndex(i)
            entry["sheets"].append(sh.getName())
            # comments, drawings and charts, conditional formats, validated and linked cells
            notes = sorted(a.getString() for a in sh.getAnnotations())
            objects = {"notes": notes, "drawings": sh.getDrawPage().getCount(),
                       "charts": sorted(sh.getCharts().getElementNames()),
                       "conditional": sh.ConditionalFormats.getLength() if hasattr(sh, "ConditionalFormats") else -1}
            entry["objects"][sh.getName()] = objects
            cur = sh.createCursor()
            cur.gotoEndOfUsedArea(False)
            last_col = cur.getRangeAddress().EndColumn
            last_row = cur.getRangeAddress().EndRow
            if last_col > 255 or last_row > 65535:
                continue
            cells = sh.getCellRangeByPosition(0, 0, last_col, last_row)
            links, checked = 0, 0
            for r in range(min(last_row, 200) + 1):
                for c in range(min(last_col, 50) + 1):
                    cell = sh.getCellByPosition(c, r)
                    links += cell.getText().getTextFields().createEnumeration().hasMoreElements()
                    checked += cell.Validation.Type.value != "ANY"
            objects["links"] = links
            objects["validated"] = checked
            forms = cells.getFormulaArray()
            for r, row in enumerate(forms):
                for c, text in enumerate(row):
                    if text.startswith("=") or text.startswith("{="):   # array formulas show in braces
                        entry["formulas"]["%s!R%dC%d" % (sh.getName(), r + 1, c + 1)] = text
        doc.close(True)
        out[f] = entry
    return out


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    office = Office()
    try:
        if sys.argv[1] == "make-lo":
            make_lo(office, sys.argv[2])
        elif sys.argv[1] == "dump":
            with open(sys.argv[2], "w") as fh:
                json.dump(dump(office, sys.argv[3:]), fh, indent=1, sort_keys=True)
        else:
            sys.exit("unknown command " + sys.argv[1])
    finally:
        office.close()


if __name__ == "__main__":
    main()
