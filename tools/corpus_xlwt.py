#!/usr/bin/python3
# Workbooks written by Python's xlwt (Debian python3-xlwt) for the fuzz seed corpus
# (tools/make_fuzz_corpus.sh runs it):   tools/corpus_xlwt.py OUTDIR
# Formulas with 3-D references and names of functions from every family, rich text, styles and
# number formats, merged cells, frozen panes, hyperlinks, and number cells that hold NaN and the
# infinities, which no spreadsheet writes but a file may carry.
import datetime
import math
import os
import sys

import xlwt


def features(path):
    wb = xlwt.Workbook(encoding="utf-8")
    data = wb.add_sheet("Data")
    calc = wb.add_sheet("Calc")
    other = wb.add_sheet("Other sheet")
    money = xlwt.easyxf(num_format_str="#,##0.00;[Red]-#,##0.00")
    when = xlwt.easyxf(num_format_str="dd.mm.yyyy hh:mm")
    bold = xlwt.easyxf("font: bold on; align: horiz center; borders: bottom thin; pattern: pattern solid, fore_colour yellow")
    data.write(0, 0, "Item", bold)
    data.write(0, 1, "Amount", bold)
    for r in range(1, 8):
        data.write(r, 0, "item %d" % r)
        data.write(r, 1, r * 1234.5, money)
        data.write(r, 2, xlwt.Formula("B%d*1.19" % (r + 1)), money)
    data.write(8, 0, datetime.datetime(2024, 2, 29, 13, 30), when)
    data.write(8, 1, datetime.date(1900, 3, 1), xlwt.easyxf(num_format_str="dddd, mmmm d, yyyy"))
    data.write(9, 0, True)
    data.write(9, 1, xlwt.Formula("1/0"))
    data.merge(10, 10, 0, 3)
    data.write(10, 0, "Merged over four columns")
    data.set_panes_frozen(True)
    data.set_horz_split_pos(1)
    data.col(0).width = 256 * 18
    other.write(0, 0, 42)
    other.write(1, 0, "text")
    calc.write(0, 0, xlwt.Formula("SUM(Data!B2:B8)"))
    calc.write(0, 1, xlwt.Formula("'Other sheet'!A1*2+Data!B2"))
    calc.write(1, 0, xlwt.Formula('IF(Data!B2>1000;"big";"small")'))
    calc.write(1, 1, xlwt.Formula("VLOOKUP(\"item 3\";Data!A2:C8;3;FALSE)"))
    calc.write(2, 0, xlwt.Formula("ROUND(AVERAGE(Data!B2:B8);2)"))
    calc.write(2, 1, xlwt.Formula("DATE(2024;1;31)+30"), when)
    calc.write(3, 0, xlwt.Formula('CONCATENATE("a";"b";LEFT("xyz";2))'))
    calc.write(3, 1, xlwt.Formula("INDEX(Data!B2:B8;3)"))
    calc.write(4, 0, xlwt.Formula("HYPERLINK(\"https://example.org\";\"example\")"))
    calc.write(4, 1, xlwt.Formula("AND(Data!A10;NOT(FALSE))"))
    calc.write(5, 0, xlwt.Formula("COUNTIF(Data!B2:B8;\">3000\")"))
    calc.write(5, 1, xlwt.Formula("PMT(0.05/12;360;-200000)"), money)
    # rich text: runs with their own fonts
    red = xlwt.Font()
    red.colour_index = 2
    red.bold = True
    italic = xlwt.Font()
    italic.italic = True
    calc.write_rich_text(6, 0, ("plain ", ("red bold", red), (" italic", italic)))
    wb.save(path)


def odd_numbers(path):
    wb = xlwt.Workbook()
    s = wb.add_sheet("Odd")
    formats = ["General", "0.00", "dd/mm/yyyy", "hh:mm:ss", "[h]:mm", "mm:ss.000", "0.00E+00", "# ?/?",
               "0%", '#,##0 "EUR"', "[>100]0;[<0]-0;0", "@", "yyyy-mm-dd hh:mm AM/PM"]
    values = [math.nan, math.inf, -math.inf, -0.0, 5e-324, 1.7976931348623157e308, -1e300, 2958465.9999999,
              2958466, -1, 0.5, 1e15 + 0.3]
    for c, fmt in enumerate(formats):
        style = xlwt.easyxf(num_format_str=fmt)
        s.write(0, c, fmt)
        for r, v in enumerate(values):
            s.write(r + 1, c, v, style)
    s.write(0, len(formats), xlwt.Formula("SUM(A2:A13)"))
    s.write(1, len(formats), xlwt.Formula("YEAR(A2)+HOUR(A3)+WEEKDAY(A4)"))
    s.write(2, len(formats), xlwt.Formula("TEXT(A2;\"dd.mm.yyyy\")"))
    wb.save(path)


def main():
    out = sys.argv[1]
    features(os.path.join(out, "xlwt_features.xls"))
    odd_numbers(os.path.join(out, "xlwt_odd_numbers.xls"))


if __name__ == "__main__":
    main()
