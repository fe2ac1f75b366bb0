#!/usr/bin/python3
"""Fills the expected values of tests/spreadsheet/function_cases.inc with LibreOffice's results.

The engine's function test writes the case workbook when CORVANTIS_FUNCTION_CASES_XLS names a
path; this script opens that file in a headless LibreOffice through its Python bridge, has it
recalculate everything, reads the result of every case (sheet Data, column K, one case a row)
and rewrites the table's expected values. LibreOffice's own error numbers are written as the
Excel error values it saves them as; LibreOffice has no logical type, so TRUE and FALSE results
of most functions come out as 1 and 0 (the test accepts either).

    CORVANTIS_FUNCTION_CASES_XLS=/tmp/cases.xls build/tests/test_spreadsheet_functions
    /usr/bin/python3 tools/function_cases_lo.py /tmp/cases.xls tests/spreadsheet/function_cases.inc
"""
import os
import re
import subprocess
import sys
import tempfile
import time

import uno
from com.sun.star.beans import PropertyValue

# LibreOffice's error numbers and the Excel error values it saves them as.
ERRORS = {
    502: "#VALUE!", 503: "#NUM!", 504: "#VALUE!", 519: "#VALUE!", 521: "#NULL!", 523: "#NUM!",
    524: "#REF!", 525: "#NAME?", 532: "#DIV/0!", 32767: "#N/A",
}

CASE = re.compile(r'^FUNCTION_CASE\("([^"]*)", "((?:[^"\\]|\\.)*)", "((?:[^"\\]|\\.)*)"\)$')


def unescape(s):
    return re.sub(r'\\(.)', r'\1', s)


def escape(s):
    return s.replace('\\', '\\\\').replace('"', '\\"')


def prop(name, value):
    p = PropertyValue()
    p.Name = name
    p.Value = value
    return p


def connect(pipe):
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    for _ in range(100):
        try:
            return resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe)
        except Exception:
            time.sleep(0.2)
    raise SystemExit("LibreOffice did not answer")


def describe(cell):
    from com.sun.star.table.CellContentType import FORMULA
    if cell.getType() != FORMULA:
        return "?"
    err = cell.getError()
    if err:
        return "E:" + ERRORS.get(err, "Err%d" % err)
    if cell.FormulaResultType2 == 2:   # text
        return "T:" + cell.getString()
    text = cell.getString()
    if text in ("TRUE", "FALSE"):
        return "B:" + text
    return "N:%.15g" % cell.getValue()


def main():
    xls, table = sys.argv[1], sys.argv[2]
    pipe = "corvantis_cases_%d" % os.getpid()
    profile = tempfile.mkdtemp(prefix="lo-profile-")
    office = subprocess.Popen(["soffice", "--headless", "--invisible", "--norestore", "--nologo",
                               "-env:UserInstallation=file://" + profile,
                               "--accept=pipe,name=%s;urp;" % pipe])
    try:
        ctx = connect(pipe)
        desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
        doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(os.path.abspath(xls)), "_blank", 0,
                                           (prop("Hidden", True),))
        doc.calculateAll()
        sheet = doc.Sheets.getByName("Data")
        lines = open(table).read().splitlines()
        row = 0
        out = []
        for line in lines:
            m = CASE.match(line)
            if not m:
                out.append(line)
                continue
            formula = unescape(m.group(2))
            shown = sheet.getCellByPosition(11, row).getString()
            if shown != formula:
                raise SystemExit("row %d holds %r, the table says %r" % (row + 1, shown, formula))
            value = describe(sheet.getCellByPosition(10, row))
            out.append('FUNCTION_CASE("%s", "%s", "%s")' % (m.group(1), escape(formula), escape(value)))
            row += 1
        doc.close(True)
        open(table, "w").write("\n".join(out) + "\n")
    finally:
        try:
            desktop.terminate()
        except Exception:
            pass
        office.wait(timeout=30)


if __name__ == "__main__":
    main()
