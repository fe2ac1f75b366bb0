#!/usr/bin/env bash
# Makes the fuzz targets' seed workbooks from every producer at hand and puts them into
# fuzz/corpus/<target>/: LibreOffice (Python bridge, and its re-saves of the others' files),
# Gnumeric (ssconvert, BIFF8 and Excel 95 / BIFF7), Apache POI HSSF, Python's xlwt and SheetJS.
# The formula target gets the token arrays of every formula and name in them, the number-text
# target the texts of their cells (tools/corpus_extract.py). Files over 64 KB are left out.
#   bash tools/make_fuzz_corpus.sh
# Needs (Debian) libreoffice-calc-nogui python3-uno gnumeric libapache-poi-java python3-xlwt
# python3-olefile nodejs npm; SheetJS (npm `xlsx`) is installed into a scratch folder, never
# into the source tree. The corpus files are committed: CI does not run this.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gen="$work/gen"
mkdir -p "$gen"

echo "== LibreOffice"
/usr/bin/python3 tests/data/corpus_tools.py make-lo "$gen"
echo "== Apache POI"
java -cp /usr/share/java/poi.jar:/usr/share/java/commons-math3.jar:/usr/share/java/commons-collections4.jar \
    tests/data/MakePoiCorpus.java "$gen"
echo "== xlwt"
/usr/bin/python3 tools/corpus_xlwt.py "$gen"
echo "== SheetJS"
(cd "$work" && npm install --no-save --no-audit --no-fund --silent xlsx >/dev/null)
NODE_PATH="$work/node_modules" node tools/corpus_sheetjs.js "$gen"

sources=("$gen"/*.xls)
echo "== Gnumeric"
for f in "${sources[@]}"; do
  base=$(basename "$f" .xls)
  ssconvert -T Gnumeric_Excel:excel_biff8 "$f" "$gen/gnumeric_from_${base}.xls" >/dev/null 2>&1 || echo "  gnumeric could not save $base"
  ssconvert -T Gnumeric_Excel:excel_biff7 "$f" "$gen/gnumeric95_from_${base}.xls" >/dev/null 2>&1 || echo "  gnumeric could not save $base as Excel 95"
done
echo "== LibreOffice re-saves"
lo="$work/lo"
mkdir -p "$lo"
for f in "${sources[@]}"; do
  case $(basename "$f") in lo_*) continue ;; esac
  soffice -env:UserInstallation="file://$work/profile" --headless --convert-to 'xls:MS Excel 97' --outdir "$lo" "$f" >/dev/null 2>&1 \
    || echo "  LibreOffice could not save $(basename "$f")"
done
for f in "$lo"/*.xls; do
  [ -e "$f" ] && mv "$f" "$gen/lo_from_$(basename "$f")"
done

for target in road xls cfb; do
  mkdir -p "fuzz/corpus/$target"
  for f in "$gen"/*.xls; do
    size=$(stat -c %s "$f")
    if [ "$size" -gt 65536 ]; then
      echo "  left out $(basename "$f") ($size bytes)"
      continue
    fi
    cp "$f" "fuzz/corpus/$target/"
  done
done
/usr/bin/python3 tools/corpus_extract.py "$gen" "$ROOT/fuzz/corpus/formula" "$ROOT/fuzz/corpus/numbertext"
echo "seeds: $(ls fuzz/corpus/road | wc -l) workbooks, $(ls fuzz/corpus/formula | wc -l) formulas, $(ls fuzz/corpus/numbertext | wc -l) number texts"
