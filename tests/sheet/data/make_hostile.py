#!/usr/bin/env python3
"""Writes small workbooks that ask the converter for far more than its limits allow.
Each must end in a clear error within seconds and with little memory; none is kept in
the repository (the tests and scripts/fuzz make them when they need them).

  long_shared_string.xlsx   ~10 KB: one shared string of 1,000,000 characters, used by
                            1,000 rows
  shared_string_reuse.xlsx  ~60 KB: one shared string of 32,000 characters used by
                            400,000 cells, 12.8 GB of text
  repeated_cell.ods         ~500 bytes: a cell of 32,000 characters repeated over 20
                            columns and 20,000 rows, 12.8 GB of text
  deep_nesting.xlsx         ~140 KB: a worksheet of 20 million nested elements

Usage: make_hostile.py OUTDIR [NAME...]   (all of them when no name is given)
"""

import importlib.util
import os
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def load(name, path):
    found = importlib.util.spec_from_file_location(name, os.path.join(HERE, path))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


XLSX = load("xlsx_fixtures", "xlsx/make_fixtures.py")
ODS = load("ods_fixtures", "ods/make_fixtures.py")
STAMP = (2024, 1, 1, 0, 0, 0)


def write_zip(path, parts):
    with zipfile.ZipFile(path, "w") as z:
        for part, data in parts:
            info = zipfile.ZipInfo(part, date_time=STAMP)
            if part != "mimetype":
                info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data.encode("utf-8") if isinstance(data, str) else data,
                       compresslevel=9)


def write_xlsx(path, sheet_xml, strings=None):
    write_zip(path, XLSX.standard_package([sheet_xml], strings=strings).items())


def shared_string_rows(rows, columns):
    """Rows of cells that all show shared string 0."""
    cell = '<c t="s"><v>0</v></c>'
    return "".join(f'<row r="{r + 1}">{cell * columns}</row>' for r in range(rows))


def long_shared_string(path):
    write_xlsx(path, XLSX.worksheet(shared_string_rows(1000, 1)),
               ["<t>" + "x" * 1_000_000 + "</t>"])


def shared_string_reuse(path):
    write_xlsx(path, XLSX.worksheet(shared_string_rows(20_000, 20)),
               ["<t>" + "y" * 32_000 + "</t>"])


def repeated_cell(path):
    cell = ('<table:table-cell office:value-type="string" table:number-columns-repeated="20">'
            '<text:p>z<text:s text:c="31999"/></text:p></table:table-cell>')
    xml = ODS.content(ODS.table("Repeat", ODS.row(cell, ' table:number-rows-repeated="20000"')))
    write_zip(path, [("mimetype", ODS.MIME), ("content.xml", xml)])


def deep_nesting(path):
    depth = 20_000_000
    head, tail = XLSX.worksheet("@").split("@")
    xml = (head + "<a>" * depth + "</a>" * depth + tail).encode("ascii")
    write_zip(path, XLSX.standard_package([xml]).items())


MAKERS = {
    "long_shared_string.xlsx": long_shared_string,
    "shared_string_reuse.xlsx": shared_string_reuse,
    "repeated_cell.ods": repeated_cell,
    "deep_nesting.xlsx": deep_nesting,
}


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    for name in argv[2:] or MAKERS:
        MAKERS[name](os.path.join(out, name))


if __name__ == "__main__":
    main(sys.argv)
