#!/usr/bin/env python3
"""Writes small workbooks for the spreadsheet bridge tests, and large ones for the bench.

The same sheets go into an .xlsx (Office Open XML), an .ods (OpenDocument) and an .xls
(BIFF8 records in a compound file), with the Python standard library only, so that the
three readers can be checked against one expected text:

  tank_summary.{xlsx,ods,xls}   sheet "Сводка": a Cyrillic tank summary (header rows
                                naming a tank, data rows of 21 columns, an empty row
                                between tanks); sheet "Типы": one cell of each kind.
  tank_summary.expected.txt     the tab-separated save of "Сводка" (US settings)
  tank_summary.types.{xlsx,ods,xls}.txt   the save of "Типы" (US settings)
  encrypted.xlsx                the outside of a password-protected workbook

Usage: make_workbooks.py [OUTDIR]            the test fixtures (default: this folder)
       make_workbooks.py --rows N OUTDIR     bench workbooks bench.{xlsx,ods,xls}: N rows
                                             of 21 columns (numbers and Cyrillic text);
                                             no .xls above its 65,536 rows
"""

import io
import math
import os
import struct
import sys
import zipfile
from xml.sax.saxutils import escape

# --------------------------------------------------------------------------------------
# The sheets


def tank_rows(count=None):
    """Rows of the summary: lists of cells (None, str or float)."""
    tanks = ["Цистерна топлива №1 ЛБ", "Цистерна топлива №2 ПБ", "Цистерна масла №3",
             "Балластная цистерна №4", "Цистерна пресной воды №5"]
    boards = ["ЛБ", "ПБ", "ДП"]
    rows = []
    n = 0
    t = 0
    while True:
        tank = tanks[t % len(tanks)]
        rows.append([tank])
        for k in range(4):
            if count is not None and n >= count:
                return rows
            if count is None and t == 3:
                return rows
            frame = "%d-%d" % (10 + 3 * k + t, 13 + 3 * k + t)
            row = ["Т%d.%d" % (t + 1, k + 1), None, frame, boards[(t + k) % 3],
                   "второе дно" if k % 2 else "платформа"]
            base = 12.5 * (t + 1) + k
            row += [round(base * 1.02, 3), 0.98, round(base * 0.98, 4), 0.86 + 0.01 * k,
                    0.00075, 0.1 * k, 0.25, round(base * 0.86, 2), -12.5 + k, 3.2 * (k - 1.5),
                    0.75 + k / 8, round(base * 3.3, 1), round(base * 0.7, 2),
                    "прим. %d" % k if k == 2 else None, 1.0 + k, 2.0 * k]
            rows.append(row)
            n += 1
        rows.append([])
        t += 1


def bench_rows(count):
    """`count` rows of 21 cells each: six Cyrillic text columns and fifteen numbers."""
    boards = ["ЛБ", "ПБ", "ДП"]
    decks = ["второе дно", "платформа", "верхняя палуба"]
    rows = []
    for i in range(count):
        base = 10.0 + (i % 977) * 0.731
        row = ["Цистерна Т%d" % (i + 1), None, "%d-%d" % (i % 180, i % 180 + 3), boards[i % 3],
               decks[i % 3]]
        row += [round(base * (1 + k / 17.0), 4) for k in range(15)]
        row.append("примечание %d" % (i % 50))
        rows.append(row)
    return rows


TYPES_SHEET = "Типы"
SUMMARY_SHEET = "Сводка"


def expected_text(rows):
    def cell(v):
        if v is None:
            return ""
        if isinstance(v, float):
            return ("%.15g" % v)
        return v.replace("\t", " ").replace("\r", " ").replace("\n", " ")
    lines = []
    for r in rows:
        cells = [cell(v) for v in r]
        while cells and cells[-1] == "":
            cells.pop()
        lines.append("\t".join(cells))
    while lines and lines[-1] == "":
        lines.pop()
    return "".join(l + "\r\n" for l in lines)


# --------------------------------------------------------------------------------------
# .xlsx

def col_name(c):
    s = ""
    c += 1
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


ZIP_TIME = (2024, 1, 1, 0, 0, 0)


def put(z, name, data, compress=zipfile.ZIP_DEFLATED):
    """A member with a fixed time stamp, so that the files come out the same each run."""
    info = zipfile.ZipInfo(name, date_time=ZIP_TIME)
    info.compress_type = compress
    z.writestr(info, data)


def write_xlsx(path, summary, with_types=True):
    strings, index = [], {}

    def sst(s):
        if s not in index:
            index[s] = len(strings)
            strings.append(s)
        return index[s]

    def sheet_xml(rows):
        out = io.StringIO()
        out.write('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                  '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                  '<sheetData>')
        for r, row in enumerate(rows):
            if not any(v is not None for v in row):
                continue
            out.write('<row r="%d">' % (r + 1))
            for c, v in enumerate(row):
                ref = "%s%d" % (col_name(c), r + 1)
                if v is None:
                    continue
                if isinstance(v, tuple):  # (kind, value)
                    kind, val = v
                    if kind == "date":
                        out.write('<c r="%s" s="1"><v>%r</v></c>' % (ref, val))
                    elif kind == "bool":
                        out.write('<c r="%s" t="b"><v>%d</v></c>' % (ref, val))
                    elif kind == "error":
                        out.write('<c r="%s" t="e"><f>1/0</f><v>%s</v></c>' % (ref, val))
                elif isinstance(v, float):
                    out.write('<c r="%s"><v>%r</v></c>' % (ref, v))
                else:
                    out.write('<c r="%s" t="s"><v>%d</v></c>' % (ref, sst(v)))
            out.write('</row>')
        out.write('</sheetData></worksheet>')
        return out.getvalue()

    sheets = [(SUMMARY_SHEET, sheet_xml(summary))]
    if with_types:
        sheets.append((TYPES_SHEET, sheet_xml([TYPES_ROW_XLSX])))
    ct = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
          '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
          '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
          '<Default Extension="xml" ContentType="application/xml"/>'
          '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
          '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
          '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>')
    for i in range(len(sheets)):
        ct += ('<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="application/'
               'vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>' % (i + 1))
    ct += '</Types>'
    rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
            '</Relationships>')
    wb = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
          '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
          'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>')
    wbrels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
              '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">')
    for i, (name, _) in enumerate(sheets):
        wb += '<sheet name="%s" sheetId="%d" r:id="rId%d"/>' % (escape(name), i + 1, i + 1)
        wbrels += ('<Relationship Id="rId%d" Type="http://schemas.openxmlformats.org/officeDocument/'
                   '2006/relationships/worksheet" Target="worksheets/sheet%d.xml"/>' % (i + 1, i + 1))
    n = len(sheets)
    wb += '</sheets></workbook>'
    wbrels += ('<Relationship Id="rId%d" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
               'relationships/styles" Target="styles.xml"/>' % (n + 1))
    wbrels += ('<Relationship Id="rId%d" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
               'relationships/sharedStrings" Target="sharedStrings.xml"/>' % (n + 2))
    wbrels += '</Relationships>'
    styles = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
              '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
              '<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
              '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
              '<borders count="1"><border/></borders>'
              '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
              '<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
              '<xf numFmtId="14" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>'
              '</styleSheet>')
    sheet_parts = [x for _, x in sheets]  # build shared strings after all sheets
    sst_xml = io.StringIO()
    sst_xml.write('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                  '<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                  'count="%d" uniqueCount="%d">' % (len(strings), len(strings)))
    for s in strings:
        sst_xml.write('<si><t xml:space="preserve">%s</t></si>' % escape(s))
    sst_xml.write('</sst>')
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        put(z, "[Content_Types].xml", ct)
        put(z, "_rels/.rels", rels)
        put(z, "xl/workbook.xml", wb)
        put(z, "xl/_rels/workbook.xml.rels", wbrels)
        put(z, "xl/styles.xml", styles)
        put(z, "xl/sharedStrings.xml", sst_xml.getvalue())
        for i, part in enumerate(sheet_parts):
            put(z, "xl/worksheets/sheet%d.xml" % (i + 1), part)


# The "Типы" sheet: a string with a line break, a number, a date, a boolean, an error.
TYPES_ROW_XLSX = ["Строка\nвторая", 2.5, ("date", 45000.0), ("bool", 1), ("error", "#DIV/0!")]
TYPES_EXPECTED = {
    "xlsx": "Строка вторая\t2.5\t3/15/2023\tTRUE\t#DIV/0!\r\n",
    "xls": "Строка вторая\t2.5\t3/15/2023\tTRUE\t#DIV/0!\r\n",
    "ods": "Строка вторая\t2.5\t3/15/2023\tTRUE\r\n",
}

# --------------------------------------------------------------------------------------
# .ods


def write_ods(path, summary, with_types=True):
    def table(name, rows, types=False):
        out = io.StringIO()
        out.write('<table:table table:name="%s">' % escape(name))
        out.write('<table:table-column table:number-columns-repeated="21"/>')
        empty = 0

        def flush_empty():
            if empty:
                out.write('<table:table-row table:number-rows-repeated="%d">'
                          '<table:table-cell table:number-columns-repeated="21"/>'
                          '</table:table-row>' % empty)
        for row in rows:
            if not any(v is not None for v in row):
                empty += 1
                continue
            flush_empty()
            empty = 0
            out.write('<table:table-row>')
            blanks = 0
            for v in row:
                if v is None:
                    blanks += 1
                    continue
                if blanks:
                    out.write('<table:table-cell table:number-columns-repeated="%d"/>' % blanks)
                    blanks = 0
                if isinstance(v, float):
                    out.write('<table:table-cell office:value-type="float" office:value="%r">'
                              '<text:p>%r</text:p></table:table-cell>' % (v, v))
                else:
                    paras = "".join("<text:p>%s</text:p>" % escape(p) for p in v.split("\n"))
                    out.write('<table:table-cell office:value-type="string">%s</table:table-cell>'
                              % paras)
            out.write('</table:table-row>')
        if types:
            out.write('<table:table-row>'
                      '<table:table-cell office:value-type="string"><text:p>Строка</text:p>'
                      '<text:p>вторая</text:p></table:table-cell>'
                      '<table:table-cell office:value-type="float" office:value="2.5"><text:p>2,5</text:p></table:table-cell>'
                      '<table:table-cell office:value-type="date" office:date-value="2023-03-15"><text:p>15.03.23</text:p></table:table-cell>'
                      '<table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>ИСТИНА</text:p></table:table-cell>'
                      '</table:table-row>')
        out.write('</table:table>')
        return out.getvalue()

    content = ('<?xml version="1.0" encoding="UTF-8"?>\n'
               '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
               'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
               'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2">'
               '<office:body><office:spreadsheet>')
    content += table(SUMMARY_SHEET, summary)
    if with_types:
        content += table(TYPES_SHEET, [], types=True)
    content += '</office:spreadsheet></office:body></office:document-content>'
    manifest = ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
                '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>'
                '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
                '</manifest:manifest>')
    with zipfile.ZipFile(path, "w") as z:
        put(z, "mimetype", "application/vnd.oasis.opendocument.spreadsheet", zipfile.ZIP_STORED)
        put(z, "content.xml", content)
        put(z, "META-INF/manifest.xml", manifest)


# --------------------------------------------------------------------------------------
# .xls: BIFF8 records in the "Workbook" stream of a compound file

def rec(rtype, data=b""):
    return struct.pack("<HH", rtype, len(data)) + data


def xl_unicode_short(s):  # 8-bit length, for sheet names
    u = s.encode("utf-16-le")
    return struct.pack("<BB", len(s), 1) + u


def sst_records(strings):
    """SST followed by CONTINUE records; strings split across records as BIFF8 does."""
    limit = 8224
    records = []
    cur = bytearray(struct.pack("<II", len(strings), len(strings)))
    for s in strings:
        u = s.encode("utf-16-le")
        nchars = len(u) // 2
        if len(cur) + 3 + 2 > limit:
            records.append(bytes(cur))
            cur = bytearray()
        cur += struct.pack("<HB", nchars, 1)
        pos = 0
        while True:
            room = (limit - len(cur)) // 2
            take = min(room, nchars - pos)
            cur += u[2 * pos:2 * (pos + take)]
            pos += take
            if pos >= nchars:
                break
            records.append(bytes(cur))
            cur = bytearray(b"\x01")  # continuation: option flags, uncompressed
    records.append(bytes(cur))
    out = rec(0x00FC, records[0])
    for r in records[1:]:
        out += rec(0x003C, r)
    return out


def rk_encode(v):
    """The RK form of a number, or None."""
    if v == int(v) and -(1 << 29) <= v < (1 << 29):
        return (int(v) << 2) | 2
    if v * 100 == int(v * 100) and -(1 << 29) <= v * 100 < (1 << 29) and \
            int(v * 100) / 100.0 == v:
        return (int(v * 100) << 2) | 3
    return None


def write_xls(path, summary, with_types=True):
    strings, index = [], {}

    def sst(s):
        if s not in index:
            index[s] = len(strings)
            strings.append(s)
        return index[s]

    XF_GENERAL, XF_DATE = 15, 16

    def sheet_stream(rows):
        body = bytearray()
        last_row = len(rows)
        ncols = max([len(r) for r in rows] + [1])
        body += rec(0x0809, struct.pack("<HHHHII", 0x0600, 0x0010, 0x0DBB, 0x07CC, 0, 0x06))
        body += rec(0x0200, struct.pack("<IIHHH", 0, last_row, 0, ncols, 0))
        for r, row in enumerate(rows):
            for c, v in enumerate(row):
                if v is None:
                    continue
                if isinstance(v, tuple):
                    kind, val = v
                    if kind == "date":
                        body += rec(0x0203, struct.pack("<HHHd", r, c, XF_DATE, val))
                    elif kind == "bool":
                        body += rec(0x0205, struct.pack("<HHHBB", r, c, XF_GENERAL, val, 0))
                    elif kind == "error":
                        body += rec(0x0205, struct.pack("<HHHBB", r, c, XF_GENERAL, 0x07, 1))
                elif isinstance(v, float):
                    rk = rk_encode(v)
                    if rk is not None:
                        body += rec(0x027E, struct.pack("<HHHi", r, c, XF_GENERAL, rk))
                    else:
                        body += rec(0x0203, struct.pack("<HHHd", r, c, XF_GENERAL, v))
                else:
                    body += rec(0x00FD, struct.pack("<HHHI", r, c, XF_GENERAL, sst(v)))
        body += rec(0x023E, struct.pack("<HHHHHHHI", 0x06B6, 0, 0, 0x40, 0, 0, 0, 0))
        body += rec(0x000A)
        return bytes(body)

    sheets = [(SUMMARY_SHEET, sheet_stream(summary))]
    if with_types:
        sheets.append((TYPES_SHEET, sheet_stream([TYPES_ROW_XLSX])))

    def globals_stream(offsets):
        g = bytearray()
        g += rec(0x0809, struct.pack("<HHHHII", 0x0600, 0x0005, 0x0DBB, 0x07CC, 0, 0x06))
        g += rec(0x0042, struct.pack("<H", 1200))      # CODEPAGE: UTF-16
        g += rec(0x003D, struct.pack("<HHHHHHHHH", 0, 0, 0x4000, 0x2000, 0x38, 0, 0, 1, 0x258))
        g += rec(0x0022, struct.pack("<H", 0))         # DATEMODE: 1900
        font = struct.pack("<HHHHHBBBB", 200, 0, 0x7FFF, 400, 0, 0, 0, 0, 0) + \
            xl_unicode_short("Arial")
        for _ in range(4):
            g += rec(0x0031, font)
        def xf(fmt, prot):  # font, format, protection/parent, alignment..., fill
            return rec(0x00E0, struct.pack("<HHHBBBBIIH", 0, fmt, prot, 0x20, 0, 0, 0, 0, 0,
                                           0x20C0))
        for _ in range(15):
            g += xf(0, 0xFFF5)   # style records
        g += xf(0, 0x0001)       # 15: cells, General
        g += xf(14, 0x0001)      # 16: cells, built-in short date
        g += rec(0x0293, struct.pack("<HBB", 0x8000, 0, 0xFF))  # STYLE: Normal
        for (name, _), off in zip(sheets, offsets):
            g += rec(0x0085, struct.pack("<IBB", off, 0, 0) + xl_unicode_short(name))
        g += sst_records(strings)
        g += rec(0x000A)
        return bytes(g)

    # BOUNDSHEET offsets depend on the size of the globals, which does not depend on
    # the offset values: build once with zeros to measure.
    gsize = len(globals_stream([0] * len(sheets)))
    offsets, pos = [], gsize
    for _, s in sheets:
        offsets.append(pos)
        pos += len(s)
    stream = globals_stream(offsets) + b"".join(s for _, s in sheets)
    if len(stream) < 4096:
        stream += b"\0" * (4096 - len(stream))
    write_compound_file(path, [("Workbook", stream)])


def write_compound_file(path, streams):
    """A version 3 compound file (512-byte sectors) holding streams of 4096 bytes or more
    in the root storage (no mini stream)."""
    SECT = 512
    FREE, END, FATSECT, DIFSECT = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC
    data_sectors = []
    starts = []
    for _, s in streams:
        assert len(s) >= 4096
        n = (len(s) + SECT - 1) // SECT
        starts.append(len(data_sectors))
        padded = s + b"\0" * (n * SECT - len(s))
        data_sectors += [padded[i * SECT:(i + 1) * SECT] for i in range(n)]
    ndir = (len(streams) + 1 + 3) // 4
    nfat, ndif = 1, 0
    while True:
        total = len(data_sectors) + ndir + nfat + ndif
        need_fat = (total + 127) // 128
        need_dif = 0 if need_fat <= 109 else (need_fat - 109 + 126) // 127
        if need_fat == nfat and need_dif == ndif:
            break
        nfat, ndif = need_fat, need_dif
    dir_start = len(data_sectors)
    fat_start = dir_start + ndir
    dif_start = fat_start + nfat
    fat = [FREE] * (nfat * 128)
    for (_, s), st in zip(streams, starts):
        n = (len(s) + SECT - 1) // SECT
        for i in range(n):
            fat[st + i] = st + i + 1 if i + 1 < n else END
    for i in range(ndir):
        fat[dir_start + i] = dir_start + i + 1 if i + 1 < ndir else END
    for i in range(nfat):
        fat[fat_start + i] = FATSECT
    for i in range(ndif):
        fat[dif_start + i] = DIFSECT

    def dir_entry(name, etype, child, start, size, left=FREE, right=FREE):
        u = name.encode("utf-16-le") + b"\0\0"
        e = u + b"\0" * (64 - len(u))
        e += struct.pack("<HBBIII", len(u), etype, 1, left, right, child)
        e += b"\0" * 16 + struct.pack("<I", 0) + b"\0" * 16
        e += struct.pack("<IQ", start, size)
        return e
    # Root, then the streams as a right-leaning chain of siblings.
    entries = [dir_entry("Root Entry", 5, 1, END, 0)]
    for i, ((name, s), st) in enumerate(zip(streams, starts)):
        right = i + 2 if i + 1 < len(streams) else FREE
        entries.append(dir_entry(name, 2, FREE, st, len(s), right=right))
    while len(entries) % 4:
        entries.append(b"\0" * 64 + struct.pack("<HBB", 0, 0, 0) + struct.pack("<III", FREE, FREE, FREE)
                       + b"\0" * 36 + struct.pack("<IQ", 0, 0))
    difat = [fat_start + i for i in range(nfat)]
    header = bytearray(b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 16)
    header += struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 6
    header += struct.pack("<IIIIIIIII", 0, nfat, dir_start, 0, 4096, END, 0,
                          dif_start if ndif else END, ndif)
    head_difat = difat[:109] + [FREE] * (109 - min(109, len(difat)))
    header += struct.pack("<109I", *head_difat)
    dif_sectors = []
    rest = difat[109:]
    for i in range(ndif):
        chunk = rest[i * 127:(i + 1) * 127]
        chunk += [FREE] * (127 - len(chunk))
        nxt = dif_start + i + 1 if i + 1 < ndif else END
        dif_sectors.append(struct.pack("<127I", *chunk) + struct.pack("<I", nxt))
    with open(path, "wb") as f:
        f.write(bytes(header))
        for s in data_sectors:
            f.write(s)
        f.write(b"".join(entries))
        for i in range(nfat):
            f.write(struct.pack("<128I", *fat[i * 128:(i + 1) * 128]))
        for s in dif_sectors:
            f.write(s)


# --------------------------------------------------------------------------------------

def main(argv):
    if len(argv) >= 3 and argv[1] == "--rows":
        count = int(argv[2])
        outdir = argv[3] if len(argv) > 3 else "."
        rows = bench_rows(count)
        write_xlsx(os.path.join(outdir, "bench.xlsx"), rows, with_types=False)
        write_ods(os.path.join(outdir, "bench.ods"), rows, with_types=False)
        if count <= 65536:  # the most rows an .xls sheet holds
            write_xls(os.path.join(outdir, "bench.xls"), rows, with_types=False)
        return 0
    outdir = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    rows = tank_rows()
    write_xlsx(os.path.join(outdir, "tank_summary.xlsx"), rows)
    write_ods(os.path.join(outdir, "tank_summary.ods"), rows)
    write_xls(os.path.join(outdir, "tank_summary.xls"), rows)
    with open(os.path.join(outdir, "tank_summary.expected.txt"), "w", newline="",
              encoding="utf-8") as f:
        f.write(expected_text(rows))
    # What a password-protected .xlsx looks like from outside: a compound file with the
    # encryption streams instead of a workbook stream (the content here is filler).
    write_compound_file(os.path.join(outdir, "encrypted.xlsx"),
                        [("EncryptionInfo", b"\x04\x00\x04\x00\x40\x00\x00\x00" + b"\0" * 4088),
                         ("EncryptedPackage", b"\0" * 8192)])
    for fmt, text in TYPES_EXPECTED.items():
        with open(os.path.join(outdir, "tank_summary.types.%s.txt" % fmt), "w", newline="",
                  encoding="utf-8") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
