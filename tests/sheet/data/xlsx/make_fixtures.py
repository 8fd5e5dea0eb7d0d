#!/usr/bin/env python3
"""Writes the small .xlsx test workbooks of this folder. Each shows one reader behaviour;
the parts are written by hand so that every detail (prefixes, part paths, cell types,
styles) is exactly what the test expects. Run from anywhere: python3 make_fixtures.py"""

import os
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
DOCREL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKGREL = "http://schemas.openxmlformats.org/package/2006/relationships"
OFFICE_DOC = DOCREL + "/officeDocument"
WORKSHEET = DOCREL + "/worksheet"
CHARTSHEET = DOCREL + "/chartsheet"
SST = DOCREL + "/sharedStrings"
STYLES = DOCREL + "/styles"
DECL = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'


def rels(items):
    body = "".join(
        f'<Relationship Id="{i}" Type="{t}" Target="{target}"/>' for i, t, target in items)
    return f'{DECL}<Relationships xmlns="{PKGREL}">{body}</Relationships>'


def workbook(sheets, extra=""):
    body = "".join(f'<sheet name="{n}" sheetId="{k + 1}" r:id="{rid}"/>'
                   for k, (n, rid) in enumerate(sheets))
    return (f'{DECL}<workbook xmlns="{MAIN}" xmlns:r="{DOCREL}">{extra}'
            f'<sheets>{body}</sheets></workbook>')


def worksheet(rows_xml):
    return f'{DECL}<worksheet xmlns="{MAIN}"><sheetData>{rows_xml}</sheetData></worksheet>'


def sst(items):
    return f'{DECL}<sst xmlns="{MAIN}" count="{len(items)}" uniqueCount="{len(items)}">' + \
        "".join(f"<si>{i}</si>" for i in items) + "</sst>"


def standard_package(sheet_xmls, strings=None, styles=None, names=None, workbook_extra=""):
    """The usual layout: xl/workbook.xml, xl/worksheets/sheetN.xml."""
    parts = {"_rels/.rels": rels([("rId1", OFFICE_DOC, "xl/workbook.xml")])}
    wb_rels = []
    sheets = []
    for k, xml in enumerate(sheet_xmls):
        parts[f"xl/worksheets/sheet{k + 1}.xml"] = xml
        wb_rels.append((f"rId{k + 1}", WORKSHEET, f"worksheets/sheet{k + 1}.xml"))
        sheets.append(((names or [])[k] if names else f"Sheet{k + 1}", f"rId{k + 1}"))
    if strings is not None:
        parts["xl/sharedStrings.xml"] = sst(strings)
        wb_rels.append(("rIdS", SST, "sharedStrings.xml"))
    if styles is not None:
        parts["xl/styles.xml"] = styles
        wb_rels.append(("rIdT", STYLES, "styles.xml"))
    parts["xl/_rels/workbook.xml.rels"] = rels(wb_rels)
    parts["xl/workbook.xml"] = workbook(sheets, workbook_extra)
    return parts


def write(name, parts, compression=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(os.path.join(HERE, name), "w", compression) as z:
        for part, content in parts.items():
            info = zipfile.ZipInfo(part, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = compression
            z.writestr(info, content.encode("utf-8") if isinstance(content, str) else content)


def esc(s):
    return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def tank_summary():
    """A Cyrillic tank summary as naval architects keep it: a header row naming a tank,
    then data rows (designation, frame, board, deck, volume, weight), shared strings."""
    strings = ["Цистерна №1 — топливо", "Обозначение", "Шп.", "Борт", "Объём, м³",
               "Уд. вес", "ЦТ-1", "ЛБ", "ПрБ", "Цистерна №2 — пресная вода", "ЦТ-2"]
    rows = [
        (1, [("A", "s", 0)]),
        (2, [("A", "s", 1), ("B", "s", 2), ("C", "s", 3), ("D", "s", 4), ("E", "s", 5)]),
        (3, [("A", "s", 6), ("B", "n", "12"), ("C", "s", 7), ("D", "n", "35.125"),
             ("E", "n", "0.86")]),
        (4, [("A", "s", 6), ("B", "n", "14"), ("C", "s", 8), ("D", "n", "35.125"),
             ("E", "n", "0.86")]),
        (6, [("A", "s", 9)]),
        (7, [("A", "s", 10), ("B", "n", "-3"), ("C", "s", 7), ("D", "n", "1.0E-2"),
             ("E", "n", "1")]),
    ]
    xml = ""
    for r, cells in rows:
        xml += f'<row r="{r}">'
        for col, t, v in cells:
            typ = ' t="s"' if t == "s" else ""
            xml += f'<c r="{col}{r}"{typ}><v>{v}</v></c>'
        xml += "</row>"
    write("tank_summary_ru.xlsx",
          standard_package([worksheet(xml)], strings=[f"<t>{esc(x)}</t>" for x in strings],
                           names=["Сводка"]))


def cell_types():
    """Every kind of cell value: shared, inline and rich-text strings (phonetic runs left
    out), the _xHHHH_ escapes, formula results, booleans, errors, ISO dates, cells without
    a reference, cells without a value."""
    strings = [
        "<t>plain</t>",
        '<r><rPr><b/></rPr><t>rich </t></r><r><t xml:space="preserve">text </t></r>'
        '<rPh sb="0" eb="1"><t>PHONETIC</t></rPh><r><t>runs</t></r>',
        "<t>line_x000D_\nbreak</t>",
        "<t>under_x005F_x0041_score</t>",
        "<t></t>",
    ]
    rows = (
        '<row r="1">'
        '<c r="A1" t="s"><v>0</v></c>'
        '<c r="B1" t="s"><v>1</v></c>'
        '<c r="C1" t="s"><v>2</v></c>'
        '<c r="D1" t="s"><v>3</v></c>'
        '<c r="E1" t="s"><v>4</v></c>'
        '</row>'
        '<row r="2">'
        '<c r="A2" t="inlineStr"><is><t>inline</t></is></c>'
        '<c r="B2" t="inlineStr"><is><r><t>in</t></r><r><t>line rich</t></r></is></c>'
        '<c r="C2" t="str"><f>"a"&amp;"b"</f><v>ab</v></c>'
        '<c r="D2"><f>1+1</f><v>2</v></c>'
        '<c r="E2" t="str"><f>A1</f><v>x_x000D_y</v></c>'
        '</row>'
        '<row r="3">'
        '<c r="A3" t="b"><v>1</v></c>'
        '<c r="B3" t="b"><v>0</v></c>'
        '<c r="C3" t="e"><f>1/0</f><v>#DIV/0!</v></c>'
        '<c r="D3" t="e"><v>#N/A</v></c>'
        '<c r="E3" t="d"><v>2024-02-29T12:00:00</v></c>'
        '</row>'
        # No references at all: the row follows row 3, the cells follow one another.
        '<row><c><v>1.5</v></c><c t="s"><v>0</v></c><c><v>-2.5E-3</v></c></row>'
        # A reference on the second cell only; the third follows it.
        '<row r="6"><c><v>10</v></c><c r="D6"><v>11</v></c><c><v>12</v></c></row>'
        # Cells without <v>: a style, a formula without a cached result; an empty <v/>.
        '<row r="7"><c r="A7" s="0"/><c r="B7"><f>NOW()</f></c><c r="C7" t="s"><v/></c>'
        '<c r="D7"><v>   </v></c><c r="E7"><v>7</v></c></row>'
        '<row r="8"><c r="A8"><v>0.1</v></c><c r="B8"><v>123456789012345678</v></c>'
        '<c r="C8"><v>not a number</v></c></row>'
    )
    write("cell_types.xlsx", standard_package([worksheet(rows)], strings=strings))


STYLES_XML = (
    f'{DECL}<styleSheet xmlns="{MAIN}">'
    '<numFmts count="6">'
    '<numFmt numFmtId="164" formatCode="dd\\.mm\\.yyyy"/>'
    '<numFmt numFmtId="165" formatCode="[Red]#,##0.00;[Blue]\\-#,##0.00"/>'
    '<numFmt numFmtId="166" formatCode="0.00&quot; days&quot;"/>'
    '<numFmt numFmtId="167" formatCode="[h]:mm"/>'
    '<numFmt numFmtId="168" formatCode="[$-419]#,##0\\ &quot;р.&quot;"/>'
    '<numFmt numFmtId="14" formatCode="0.00"/>'
    '</numFmts>'
    # Style formats: not cell formats; a date here must not make cell style 1 a date.
    '<cellStyleXfs count="2"><xf numFmtId="0"/><xf numFmtId="22"/></cellStyleXfs>'
    '<cellXfs count="9">'
    '<xf numFmtId="0"/>'      # 0 general
    '<xf numFmtId="22"/>'     # 1 built-in date and time
    '<xf numFmtId="164"/>'    # 2 custom date
    '<xf numFmtId="165"/>'    # 3 colours: a number
    '<xf numFmtId="166"/>'    # 4 "d" inside quotes: a number
    '<xf numFmtId="167"/>'    # 5 elapsed hours: a time
    '<xf numFmtId="168"/>'    # 6 locale bracket and escaped text: a number
    '<xf numFmtId="14"/>'     # 7 a built-in date id redefined as a number format
    '<xf numFmtId="47"/>'     # 8 built-in time mm:ss.0
    '</cellXfs></styleSheet>')


def dates(name, date1904):
    """Date cells told from numbers by their style, in the 1900 or the 1904 system."""
    cells = "".join(f'<c r="{chr(65 + k)}1" s="{k}"><v>45000.5</v></c>' for k in range(9))
    extra = '<workbookPr date1904="1"/>' if date1904 else '<workbookPr/>'
    write(name, standard_package([worksheet(f'<row r="1">{cells}</row>')], styles=STYLES_XML,
                                 workbook_extra=extra))


# The date cases that every reader must show alike (DateSerialTest.cpp): (serial of the
# 1900 system, cell style: 0 date, 1 date and time, 2 time, 3 duration, in the 1904
# workbook too). The .xls and .ods generators hold the same table.
SAME_DATES = [(1, 0, False), (59, 0, False), (61, 0, False), (45000.75, 1, True),
              (1462, 0, True), (0.5, 2, False), (1.5, 3, True)]
SAME_DATES_STYLES = (
    f'{DECL}<styleSheet xmlns="{MAIN}">'
    '<numFmts count="1"><numFmt numFmtId="164" formatCode="[h]:mm"/></numFmts>'
    '<cellXfs count="4"><xf numFmtId="14"/><xf numFmtId="22"/><xf numFmtId="20"/>'
    '<xf numFmtId="164"/></cellXfs></styleSheet>')


def same_dates():
    for date1904 in (False, True):
        rows = ""
        for k, (serial, style, in1904) in enumerate(SAME_DATES):
            if date1904 and not in1904:
                continue
            value = serial - 1462 if date1904 and style != 3 else serial
            rows += f'<row r="{k + 1}"><c r="A{k + 1}" s="{style}"><v>{value}</v></c></row>'
        extra = '<workbookPr date1904="1"/>' if date1904 else '<workbookPr/>'
        write("same_dates_1904.xlsx" if date1904 else "same_dates.xlsx",
              standard_package([worksheet(rows)], styles=SAME_DATES_STYLES,
                               workbook_extra=extra))


def relationships():
    """Part names from the relationships, not from convention: an absolute workbook
    target in a folder of its own, prefixed elements, a relative "../" sheet target, sheets
    listed in another order than their relationships, and a chart sheet that is no
    worksheet."""
    x = "x"
    sheet_a = (f'<{x}:worksheet xmlns:{x}="{MAIN}"><{x}:sheetData><{x}:row r="1">'
               f'<{x}:c r="A1" t="s"><{x}:v>1</{x}:v></{x}:c>'
               f'<{x}:c r="B1"><{x}:v>42</{x}:v></{x}:c></{x}:row></{x}:sheetData>'
               f'</{x}:worksheet>')
    sheet_b = (f'<?xml version="1.0" encoding="UTF-8"?><s:worksheet xmlns:s="{MAIN}">'
               f'<s:sheetData><s:row r="2"><s:c r="C2" t="s"><s:v>0</s:v></s:c></s:row>'
               f'</s:sheetData></s:worksheet>')
    wb = (f'<x:workbook xmlns:x="{MAIN}" xmlns:rel="{DOCREL}"><x:sheets>'
          '<x:sheet name="First" sheetId="1" rel:id="R2"/>'
          '<x:sheet name="Chart" sheetId="3" rel:id="R9"/>'
          '<x:sheet name="Second" sheetId="2" rel:id="R1"/>'
          '</x:sheets></x:workbook>')
    parts = {
        "_rels/.rels": rels([("R0", OFFICE_DOC, "/book/main.xml")]),
        "book/main.xml": wb,
        "book/_rels/main.xml.rels": rels([
            ("R1", WORKSHEET, "../data/b%20sheet.xml"),
            ("R2", WORKSHEET, "/data/a.xml"),
            ("R9", CHARTSHEET, "charts/c.xml"),
            ("R3", SST, "strings.xml"),
        ]),
        "data/a.xml": sheet_a,
        "data/b sheet.xml": sheet_b,
        "book/strings.xml": (f'<x:sst xmlns:x="{MAIN}"><x:si><x:t>second</x:t></x:si>'
                             '<x:si><x:t>first</x:t></x:si></x:sst>'),
        "book/charts/c.xml": "<chartsheet/>",
    }
    write("relationships.xlsx", parts)


def lying_size(name, sheet_xml):
    """A sheet whose zip headers claim 100 bytes while it expands to megabytes: the reader
    must count what comes out, not trust the claim."""
    path = os.path.join(HERE, name)
    write(name, standard_package([sheet_xml]))
    data = bytearray(open(path, "rb").read())
    real = len(sheet_xml.encode("utf-8")).to_bytes(4, "little")
    claim = (100).to_bytes(4, "little")
    # The uncompressed size sits in the local headers and the central directory.
    pos = data.find(real)
    while pos >= 0:
        data[pos:pos + 4] = claim
        pos = data.find(real, pos + 4)
    open(path, "wb").write(bytes(data))


def hostile():
    # Expands to 8 MB of blanks from a few kilobytes.
    bomb = worksheet('<row r="1"><c r="A1"><v>1</v></c></row>' + " " * (8 << 20))
    write("bomb.xlsx", standard_package([bomb]))
    laughs = ('<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol">'
              '<!ENTITY lol2 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">'
              '<!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">]>'
              f'<worksheet xmlns="{MAIN}"><sheetData><row r="1"><c r="A1" t="inlineStr">'
              '<is><t>&lol3;</t></is></c></row></sheetData></worksheet>')
    write("entities.xlsx", standard_package([laughs]))
    write("column_too_far.xlsx", standard_package([worksheet(
        '<row r="1"><c r="XFE1"><v>1</v></c></row>')]))
    write("row_too_far.xlsx", standard_package([worksheet(
        '<row r="1048577"><c><v>1</v></c></row>')]))
    write("bad_reference.xlsx", standard_package([worksheet(
        '<row r="1"><c r="1A"><v>1</v></c></row>')]))
    write("string_index.xlsx", standard_package([worksheet(
        '<row r="1"><c r="A1" t="s"><v>5</v></c></row>')], strings=["<t>only</t>"]))
    write("malformed.xlsx", standard_package([worksheet(
        '<row r="1"><c r="A1"><v>1</v></row>')]))
    write("binary.xlsx", {"_rels/.rels": rels([("R", OFFICE_DOC, "xl/workbook.bin")]),
                          "xl/workbook.bin": b"\x83\x01\x00"})
    write("missing_sheet.xlsx", {
        "_rels/.rels": rels([("R", OFFICE_DOC, "xl/workbook.xml")]),
        "xl/workbook.xml": workbook([("Lost", "rId1")]),
        "xl/_rels/workbook.xml.rels": rels([("rId1", WORKSHEET, "worksheets/gone.xml")]),
    })
    lying_size("lying_size.xlsx", bomb)
    # One tag of 80 MB: refused, and in linear time (a parser that rescans an unfinished
    # tag on every read of input would take minutes).
    write("long_tag.xlsx", standard_package([worksheet(
        '<row r="1" spans="' + "1" * (80 << 20) + '"/>')]))
    # A sheet whose stored bytes no longer match their checksum.
    path = os.path.join(HERE, "bad_checksum.xlsx")
    write("bad_checksum.xlsx", standard_package([worksheet(
        '<row r="1"><c r="A1"><v>12345</v></c></row>')]), zipfile.ZIP_STORED)
    data = open(path, "rb").read().replace(b"12345", b"12346", 1)
    open(path, "wb").write(data)
    # A valid workbook cut off in the middle: the zip directory at the end is gone.
    whole = os.path.join(HERE, "tank_summary_ru.xlsx")
    with open(whole, "rb") as f:
        data = f.read()
    with open(os.path.join(HERE, "truncated.xlsx"), "wb") as f:
        f.write(data[: len(data) // 2])


if __name__ == "__main__":
    tank_summary()
    cell_types()
    dates("dates1900.xlsx", False)
    dates("dates1904.xlsx", True)
    same_dates()
    relationships()
    hostile()
