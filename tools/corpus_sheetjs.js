// Workbooks written by SheetJS for the fuzz seed corpus (tools/make_fuzz_corpus.sh runs it):
//   node tools/corpus_sheetjs.js OUTDIR
// with the npm package `xlsx` reachable through NODE_PATH (make_fuzz_corpus.sh installs it into
// a scratch folder, never into the source tree). Writes BIFF8 and BIFF5 files with formulas,
// 3-D references, defined names (global, local, and names on a book whose formulas need no link
// table), comments, merged cells, dates, errors and a hidden sheet.
'use strict';
const path = require('path');
const XLSX = require('xlsx');

const out = process.argv[2];
if (!out) {
    console.error('usage: node corpus_sheetjs.js OUTDIR');
    process.exit(2);
}

function features() {
    const wb = XLSX.utils.book_new();
    const data = XLSX.utils.aoa_to_sheet([
        ['Item', 'Qty', 'Price', 'Total'],
        ['Pens', 12, 1.25, {t: 'n', f: 'B2*C2'}],
        ['Paper', 3, 4.5, {t: 'n', f: 'B3*C3'}],
        ['Ink', 1, 27.99, {t: 'n', f: 'B4*C4'}],
        ['Sum', {t: 'n', f: 'SUM(B2:B4)'}, '', {t: 'n', f: 'SUM(D2:D4)'}],
        ['When', new Date(Date.UTC(2024, 1, 29, 13, 30)), {t: 'e', v: 0x07}, {t: 'b', v: true}],
    ], {cellDates: true});
    data['!merges'] = [{s: {r: 6, c: 0}, e: {r: 6, c: 3}}];
    data['A7'] = {t: 's', v: 'A merged note that runs over four columns'};
    data['!ref'] = 'A1:D7';
    data['A2'].c = [{a: 'Corpus', t: 'Counted on Monday'}];
    data['!cols'] = [{wch: 14}, {wch: 6}, {wch: 8}, {wch: 10}];
    XLSX.utils.book_append_sheet(wb, data, 'Data');

    const calc = XLSX.utils.aoa_to_sheet([
        [{t: 'n', f: 'Data!D5*2'}, {t: 'n', f: 'SUM(Data!B2:B4)'}, {t: 'n', f: 'Rate*100'}],
        [{t: 'n', f: 'IF(Data!B2>10,1,0)'}, {t: 's', f: 'CONCATENATE(Data!A2," & ",Data!A3)'}, {t: 'n', f: 'Local+1'}],
        [{t: 'n', f: 'VLOOKUP("Ink",Data!A2:D4,4,FALSE)'}, {t: 'n', f: 'ROUND(PI()*2,3)'}, {t: 'n', f: 'SUM(Hidden!A1:A3)'}],
    ]);
    XLSX.utils.book_append_sheet(wb, calc, 'Calc');
    const hidden = XLSX.utils.aoa_to_sheet([[1], [2], [3]]);
    XLSX.utils.book_append_sheet(wb, hidden, 'Hidden');
    wb.Workbook = {
        Sheets: [{Hidden: 0}, {Hidden: 0}, {Hidden: 1}],
        Names: [
            {Name: 'Rate', Ref: 'Data!$C$2'},
            {Name: 'Totals', Ref: 'Data!$D$2:$D$4'},
            {Name: 'Local', Ref: 'Calc!$A$1', Sheet: 1},
        ],
    };
    wb.Props = {Title: 'SheetJS corpus', Author: 'Corpus'};
    return wb;
}

// Names whose formulas are constants only: a reader may meet them with no EXTERNSHEET at all.
function namesWithoutLinks() {
    const wb = XLSX.utils.book_new();
    const s = XLSX.utils.aoa_to_sheet([[1, 2, {t: 'n', f: 'A1+B1'}], [{t: 'n', f: 'Factor*A1'}, {t: 'n', f: 'Label'}]]);
    XLSX.utils.book_append_sheet(wb, s, 'Only');
    wb.Workbook = {Names: [{Name: 'Factor', Ref: '2.5'}, {Name: 'Label', Ref: '7'}]};
    return wb;
}

function plain() {
    const wb = XLSX.utils.book_new();
    const rows = [];
    for (let r = 0; r < 40; ++r)
        rows.push([r, r * 0.5, 'row ' + r, r % 3 === 0 ? null : -r / 7]);
    XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(rows), 'Numbers');
    return wb;
}

const books = {features, names_without_links: namesWithoutLinks, plain};
for (const [name, make] of Object.entries(books)) {
    for (const [kind, suffix] of [['biff8', ''], ['biff5', '_biff5']])
        XLSX.writeFile(make(), path.join(out, 'sheetjs_' + name + suffix + '.xls'), {bookType: kind, compression: false});
}
