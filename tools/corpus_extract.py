#!/usr/bin/python3
# Seeds for the formula and number-text fuzz targets out of real workbooks:
#   tools/corpus_extract.py WORKBOOK_DIR FORMULA_DIR NUMBERTEXT_DIR
# FORMULA_DIR gets the token arrays (rgce) of every FORMULA, SHRFMLA, ARRAY and NAME record of
# the BIFF8 workbooks; NUMBERTEXT_DIR the cell texts that hold a digit and the numbers as the
# producer would type them. Files are named by a digest of their bytes, so running it again adds
# only what is new. Runs with Debian's python3 (python3-olefile, python3-xlrd).
import hashlib
import math
import os
import struct
import sys

import olefile
import xlrd

MAX_PER_BOOK = 60


def records(stream):
    pos = 0
    while pos + 4 <= len(stream):
        rtype, size = struct.unpack_from("<HH", stream, pos)
        yield rtype, stream[pos + 4:pos + 4 + size]
        pos += 4 + size


def token_arrays(path):
    try:
        ole = olefile.OleFileIO(path)
    except OSError:
        return []
    if not ole.exists("Workbook"):
        return []   # Excel 5/95 books keep their stream as "Book"; the engine reads BIFF8 only
    stream = ole.openstream("Workbook").read()
    ole.close()
    out = []
    for rtype, body in records(stream):
        try:
            if rtype == 0x0006 and len(body) >= 22:        # FORMULA
                cce = struct.unpack_from("<H", body, 20)[0]
                out.append(body[22:22 + cce])
            elif rtype == 0x04BC and len(body) >= 10:      # SHRFMLA: relative tokens
                cce = struct.unpack_from("<H", body, 8)[0]
                out.append(body[10:10 + cce])
            elif rtype == 0x0221 and len(body) >= 14:      # ARRAY
                cce = struct.unpack_from("<H", body, 12)[0]
                out.append(body[14:14 + cce])
            elif rtype == 0x0018 and len(body) >= 15:      # NAME
                cch = body[3]
                cce = struct.unpack_from("<H", body, 4)[0]
                wide = body[14] & 1
                start = 15 + cch * (2 if wide else 1)
                out.append(body[start:start + cce])
        except struct.error:
            continue
    return [t for t in out if t]


def texts(path):
    try:
        book = xlrd.open_workbook(path, formatting_info=False)
    except Exception:
        return []
    out = []
    for sheet in book.sheets():
        for r in range(min(sheet.nrows, 200)):
            for c in range(min(sheet.ncols, 40)):
                cell = sheet.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_TEXT and any(ch.isdigit() for ch in cell.value):
                    out.append(cell.value)
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    v = cell.value
                    whole = math.isfinite(v) and v == int(v) and abs(v) <= 1e15
                    out.append(str(int(v)) if whole else repr(v))
    return [t for t in out if 0 < len(t) <= 60]


def save(directory, prefix, data):
    name = prefix + hashlib.sha1(data).hexdigest()[:12]
    path = os.path.join(directory, name)
    if not os.path.exists(path):
        with open(path, "wb") as fh:
            fh.write(data)
        return 1
    return 0


def main():
    books, formula_dir, text_dir = sys.argv[1:4]
    os.makedirs(formula_dir, exist_ok=True)
    os.makedirs(text_dir, exist_ok=True)
    added_tokens = added_texts = 0
    for name in sorted(os.listdir(books)):
        path = os.path.join(books, name)
        seen = set()
        for tokens in token_arrays(path):
            if tokens not in seen and len(seen) < MAX_PER_BOOK:
                seen.add(tokens)
                added_tokens += save(formula_dir, "tok_", tokens)
        words = set()
        for text in texts(path):
            if text not in words and len(words) < MAX_PER_BOOK // 3:
                words.add(text)
                added_texts += save(text_dir, "txt_", text.encode("utf-8"))
    print("added %d token arrays, %d number texts" % (added_tokens, added_texts))


if __name__ == "__main__":
    main()
