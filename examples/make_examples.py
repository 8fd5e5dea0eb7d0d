#!/usr/bin/env python3
"""Writes the sample summary of a ship's tanks twice: svod.txt as a spreadsheet
application on Russian Windows saves it (tab-separated, Windows-1251, CR LF, decimal
commas) and tanks.xlsx, a minimal workbook with the same cells (numbers as numbers,
texts as shared strings). Run it from anywhere; the files land beside this script."""

import os
import zipfile
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))

# 21 cells per line: designation, column B, frames, board, deck, volume, Fperm,
# net volume, specific weight, expansion factor, dead stock (accounted), dead stock,
# stock (accounted), X, Y, Z of the centre of volume, Mx, Mz, column S, dmh, dM.
NUMBER_COLUMNS = range(5, 21)
NUMBER_COLUMNS_EXCEPT_S = [c for c in NUMBER_COLUMNS if c != 18]


def row(designation, frames, board, deck, volume, fperm, sg, fexp, dead, x, y, z, dmh, dm):
    netto = round(volume * 0.98, 2)
    account_dead = round(dead * sg, 2)
    stock = round(netto * sg - account_dead, 2)
    return [designation, "", frames, board, deck, volume, fperm, netto, sg, fexp,
            account_dead, dead, stock, x, y, z, round(volume * sg * x, 1),
            round(volume * sg * z, 1), "", dmh, dm]


LINES = [
    ["", "Сводная таблица цистерн т/х «Орва-1», проект TOrva_1"],
    ["Обозначение", "Наименование", "Шпангоуты", "Борт", "Палуба", "V, м3", "Fperm, м2",
     "V нетто, м3", "Уд. вес, т/м3", "К-т расширения", "Мёртвый запас, т", "Мёртвый запас, м3",
     "Запас, т", "X, м", "Y, м", "Z, м", "Mx, т·м", "Mz, т·м", "Примечание", "dmh", "dM"],
    ["", "", "", "", "", "м3", "м2", "м3", "т/м3", "", "т", "м3", "т", "м", "м", "м", "т·м",
     "т·м", "", "мм", "т"],
    [],
    ["Цистерны основного топлива"],
    row("ТТ-1", "12-18", "ЛБ", "2", 45.6, 12.35, 0.85, 1.02, 0.4, -18.25, -3.1, 0.72, 12, 3),
    row("ТТ-2", "12-18", "ПБ", "2", 45.6, 12.35, 0.85, 1.02, 0.4, -18.25, 3.1, 0.72, 12, 3),
    row("ТТ-3", "18-24", "ДП", "1", 62.15, 18.4, 0.85, 1.02, 0.55, -12.6, 0.0, 0.61, 14, 4),
    ["Цистерны дизельного топлива"],
    row("ДТ-1", "24-28", "ЛБ", "2", 18.3, 6.2, 0.84, 1.01, 0.2, -7.4, -2.85, 0.68, 8, 1),
    row("ДТ-2", "24-28", "ПБ", "2", 18.3, 6.2, 0.84, 1.01, 0.2, -7.4, 2.85, 0.68, 8, 1),
    [],
    ["Балластные цистерны"],
    row("БЦ-1", "80-92", "ЛБ", "1", 120.4, 40.15, 1.025, 1.0, 1.1, 24.3, -4.05, 0.65, 20, 7),
    row("БЦ-2", "80-92", "ПБ", "1", 120.4, 40.15, 1.025, 1.0, 1.1, 24.3, 4.05, 0.65, 20, 7),
    row("Форпик", "112-нос", "ДП", "1-2", 35.75, 9.8, 1.025, 1.0, 0.3, 41.9, 0.0, 2.35, 10, 2),
    ["", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
     "Форпик учтён отдельно"],
    [],
    ["Цистерны пресной воды"],
    row("ПВ-1", "4-8", "ЛБ", "3", 14.2, 5.1, 1.0, 1.0, 0.15, -27.8, -2.2, 3.9, 6, 1),
    row("ПВ-2", "4-8", "ПБ", "3", 14.2, 5.1, 1.0, 1.0, 0.15, -27.8, 2.2, 3.9, 6, 1),
    ["Итого", "всего", "", "", "", 494.91],
]


def text_cell(value):
    """A cell as the spreadsheet writes it into a text file: decimal comma."""
    if isinstance(value, float):
        text = ("%.4f" % value).rstrip("0").rstrip(".")
        return text.replace(".", ",")
    if isinstance(value, int):
        return str(value)
    return value


def write_text(path):
    lines = []
    for line in LINES:
        cells = [text_cell(v) for v in line]
        while cells and cells[-1] == "":
            cells.pop()
        lines.append("\t".join(cells))
    data = "\r\n".join(lines) + "\r\n"
    with open(path, "wb") as f:
        f.write(data.encode("cp1251"))


def column_name(index):
    name = ""
    index += 1
    while index:
        index, rest = divmod(index - 1, 26)
        name = chr(ord("A") + rest) + name
    return name


def write_xlsx(path):
    strings, string_index = [], {}
    rows_xml = []
    for r, line in enumerate(LINES, start=1):
        cells = []
        for c, value in enumerate(line):
            ref = f"{column_name(c)}{r}"
            if isinstance(value, (int, float)):
                cells.append(f'<c r="{ref}"><v>{value!r}</v></c>')
            elif value != "":
                if value not in string_index:
                    string_index[value] = len(strings)
                    strings.append(value)
                cells.append(f'<c r="{ref}" t="s"><v>{string_index[value]}</v></c>')
        if cells:
            rows_xml.append(f'<row r="{r}">{"".join(cells)}</row>')
    main_ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    pkg_ns = "http://schemas.openxmlformats.org/package/2006/relationships"
    parts = {
        "[Content_Types].xml":
            '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
            '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
            '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
            '</Types>',
        "_rels/.rels":
            f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Relationships xmlns="{pkg_ns}">'
            f'<Relationship Id="rId1" Type="{rel_ns}/officeDocument" Target="xl/workbook.xml"/>'
            '</Relationships>',
        "xl/workbook.xml":
            f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            f'<workbook xmlns="{main_ns}" xmlns:r="{rel_ns}"><sheets>'
            '<sheet name="Сводка" sheetId="1" r:id="rId1"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels":
            f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?><Relationships xmlns="{pkg_ns}">'
            f'<Relationship Id="rId1" Type="{rel_ns}/worksheet" Target="worksheets/sheet1.xml"/>'
            f'<Relationship Id="rId2" Type="{rel_ns}/sharedStrings" Target="sharedStrings.xml"/>'
            '</Relationships>',
        "xl/worksheets/sheet1.xml":
            f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            f'<worksheet xmlns="{main_ns}"><sheetData>{"".join(rows_xml)}</sheetData></worksheet>',
        "xl/sharedStrings.xml":
            f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            f'<sst xmlns="{main_ns}" count="{len(strings)}" uniqueCount="{len(strings)}">'
            + "".join(f"<si><t>{escape(s)}</t></si>" for s in strings) + "</sst>",
    }
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, text in parts.items():
            info = zipfile.ZipInfo(name, date_time=(2024, 6, 1, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, text.encode("utf-8"))


if __name__ == "__main__":
    write_text(os.path.join(HERE, "svod.txt"))
    write_xlsx(os.path.join(HERE, "tanks.xlsx"))
