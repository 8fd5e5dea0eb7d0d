#!/usr/bin/env python3
"""Writes the small .ods test workbooks of this folder. content.xml is written by hand so
that every detail (value types, repeats, covered cells, paragraphs) is exactly what the
test expects. Run from anywhere: python3 make_fixtures.py"""

import os
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
MIME = "application/vnd.oasis.opendocument.spreadsheet"
NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
      'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
      'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
      'xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0"')


def content(tables, prefix_decl=NS):
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            f'<office:document-content {prefix_decl} office:version="1.2"><office:body>'
            f'<office:spreadsheet>{tables}</office:spreadsheet></office:body>'
            '</office:document-content>')


def table(name, rows):
    return f'<table:table table:name="{name}">{rows}</table:table>'


def write(name, content_xml, mime=MIME, extra=None):
    with zipfile.ZipFile(os.path.join(HERE, name), "w") as z:
        z.writestr(zipfile.ZipInfo("mimetype", date_time=(2024, 1, 1, 0, 0, 0)), mime)
        info = zipfile.ZipInfo("content.xml", date_time=(2024, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        if content_xml is not None:
            z.writestr(info, content_xml.encode("utf-8"))
        for part, data in (extra or {}).items():
            z.writestr(part, data)


def s(text, extra=""):
    return (f'<table:table-cell office:value-type="string"{extra}>'
            f'<text:p>{text}</text:p></table:table-cell>')


def f(value, extra=""):
    return (f'<table:table-cell office:value-type="float" office:value="{value}"{extra}>'
            f'<text:p>{value}</text:p></table:table-cell>')


def row(cells, extra=""):
    return f"<table:table-row{extra}>{cells}</table:table-row>"


EMPTY_TAIL = ('<table:table-row table:number-rows-repeated="1048570">'
              '<table:table-cell table:number-columns-repeated="16384"/></table:table-row>')


def tank_summary():
    """A Cyrillic tank summary: a header row naming a tank, data rows, the empty rows and
    columns an office application adds to fill the sheet."""
    rows = (row(s("Цистерна №1 — топливо") + '<table:table-cell table:number-columns-repeated="16383"/>')
            + row(s("Обозначение") + s("Шп.") + s("Борт") + s("Объём, м³") + s("Уд. вес"))
            + row(s("ЦТ-1") + f("12") + s("ЛБ") + f("35.125") + f("0.86"))
            + row(s("ЦТ-1") + f("14") + s("ПрБ") + f("35.125") + f("0.86"))
            + row('<table:table-cell table:number-columns-repeated="16384"/>')
            + row(s("Цистерна №2 — пресная вода"))
            + row(s("ЦТ-2") + f("-3") + s("ЛБ") + f("1.0E-2") + f("1"))
            + EMPTY_TAIL)
    write("tank_summary_ru.ods", content(table("Сводка", rows)))


def cell_types():
    """Value types, text paragraphs and their inline elements, repeats, covered cells."""
    types_rows = (
        row(f("1.5")
            + '<table:table-cell office:value-type="percentage" office:value="0.25"><text:p>25%</text:p></table:table-cell>'
            + '<table:table-cell office:value-type="currency" office:currency="RUB" office:value="-12.5"><text:p>-12,50 руб.</text:p></table:table-cell>'
            + '<table:table-cell office:value-type="date" office:date-value="2024-02-29"><text:p>29.02.24</text:p></table:table-cell>'
            + '<table:table-cell office:value-type="date" office:date-value="1899-12-30T18:00:00"><text:p>x</text:p></table:table-cell>'
            + '<table:table-cell office:value-type="time" office:time-value="PT06H09M23S"><text:p>06:09:23</text:p></table:table-cell>'
            + '<table:table-cell office:value-type="boolean" office:boolean-value="true"><text:p>TRUE</text:p></table:table-cell>'
            + '<table:table-cell office:value-type="boolean" office:boolean-value="false"><text:p>FALSE</text:p></table:table-cell>')
        # Text: several paragraphs, runs of blanks, tabs, line breaks, spans and links; a
        # comment and a drawing in the cell are not part of its text.
        + row('<table:table-cell office:value-type="string"><text:p>first</text:p><text:p>second</text:p></table:table-cell>'
              + '<table:table-cell office:value-type="string"><text:p>a<text:s/>b<text:s text:c="3"/>c<text:tab/>d<text:line-break/>e</text:p></table:table-cell>'
              + '<table:table-cell office:value-type="string"><office:annotation><text:p>a comment</text:p></office:annotation><text:p><text:span>sp</text:span>an <text:a>link</text:a></text:p><draw:frame><text:p>shape</text:p></draw:frame></table:table-cell>'
              + '<table:table-cell office:value-type="string" office:string-value="from attribute"><text:p>shown</text:p></table:table-cell>'
              + '<table:table-cell table:formula="of:=1/0" office:value-type="float" office:value="0" calcext:value-type="error"><text:p>#DIV/0!</text:p></table:table-cell>'
              + '<table:table-cell><text:p>untyped</text:p></table:table-cell>'
              + '<table:table-cell office:value-type="string"><text:p></text:p></table:table-cell>'
              + f("7"))
        # Repeats: a value repeated over three columns, a row repeated twice, empty runs.
        + row('<table:table-cell table:number-columns-repeated="2"/>'
              + f("5", ' table:number-columns-repeated="3"') + '<table:table-cell/>' + s("end"))
        + row(s("twice") + f("2"), ' table:number-rows-repeated="2"')
        + row('<table:table-cell table:number-columns-repeated="16384"/>',
              ' table:number-rows-repeated="3"')
        # Merged cells: the value is in the top-left cell; covered cells have none, even
        # when a file keeps text in them.
        + row('<table:table-cell office:value-type="string" table:number-columns-spanned="2" table:number-rows-spanned="2"><text:p>merged</text:p></table:table-cell>'
              + '<table:covered-table-cell/>'
              + '<table:covered-table-cell office:value-type="string"><text:p>hidden</text:p></table:covered-table-cell>'
              + s("after"))
        + row('<table:covered-table-cell table:number-columns-repeated="2"/>' + s("below"))
        # Row groups and header rows hold rows like the table itself.
        + '<table:table-header-rows>' + row(s("header")) + '</table:table-header-rows>'
        + '<table:table-row-group>' + row(f("3")) + '</table:table-row-group>'
        + EMPTY_TAIL)
    second = (row('<table:table-cell><table:table table:name="nested"><table:table-row>'
                  + s("inside") + '</table:table-row></table:table></table:table-cell>' + s("outer"))
              + EMPTY_TAIL)
    # Prefixes other than the usual ones name the same elements.
    tables = table("Типы", types_rows) + table("Second", second) + table("Empty", "")
    write("cell_types.ods", content(tables))
    odd = NS.replace("xmlns:office=", "xmlns:o=").replace("xmlns:table=", "xmlns:t=") \
            .replace("xmlns:text=", "xmlns:x=")
    odd_xml = ('<?xml version="1.0" encoding="UTF-8"?>'
               f'<o:document-content {odd}><o:body><o:spreadsheet>'
               '<t:table t:name="P"><t:table-row><t:table-cell o:value-type="float" o:value="9">'
               '<x:p>9</x:p></t:table-cell><t:table-cell o:value-type="string"><x:p>nine</x:p>'
               '</t:table-cell></t:table-row></t:table></o:spreadsheet></o:body>'
               '</o:document-content>')
    write("prefixes.ods", odd_xml)


def tricky_names():
    """Sheet names that a quick look at the tags could get wrong: a table in a comment and
    in a CDATA section, a '>' inside an attribute value, escaped characters, another
    prefix declared on the table itself, the table prefix bound to another namespace,
    an empty table element."""
    tables = (
        '<!-- <table:table table:name="comment"> -->'
        '<table:table table:name="A &amp; B" table:style-name="x>y"><table:table-row>'
        '<table:table-cell office:value-type="string"><text:p><![CDATA[<table:table table:name="cdata">]]>'
        '</text:p></table:table-cell></table:table-row></table:table>'
        '<t2:table xmlns:t2="urn:oasis:names:tc:opendocument:xmlns:table:1.0" t2:name=\'single &#x41;\'/>'
        '<table:table xmlns:table="urn:example:other" table:name="not a sheet"/>'
        '<table:table table:name="last"><table:table-row><table:table-cell '
        'office:value-type="float" office:value="1"/></table:table-row></table:table>')
    write("tricky_names.ods", content(tables))


def hostile():
    # One value repeated over every column of a million rows.
    write("repeat_bomb.ods", content(table("Bomb", row(
        f("1", ' table:number-columns-repeated="16384"'),
        ' table:number-rows-repeated="1048576"'))))
    write("value_beyond_columns.ods", content(table("Wide", row(
        '<table:table-cell table:number-columns-repeated="16384"/>' + f("1")))))
    write("value_beyond_rows.ods", content(table("Tall", row(
        '<table:table-cell/>', ' table:number-rows-repeated="1048576"') + row(f("1")))))
    write("spaces_bomb.ods", content(table("Blanks", row(
        '<table:table-cell office:value-type="string"><text:p><text:s text:c="2000000000"/>'
        '</text:p></table:table-cell>'))))
    laughs = ('<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol">'
              '<!ENTITY lol2 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">]>'
              + content(table("L", row(s("&lol2;")))).split("?>", 1)[1])
    write("entities.ods", laughs)
    write("long_tag.ods", content(table("Long", row(
        '<table:table-cell office:value-type="string" office:string-value="'
        + "x" * (80 << 20) + '"/>'))))
    manifest = ('<?xml version="1.0" encoding="UTF-8"?><manifest:manifest xmlns:manifest='
                '"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0"><manifest:file-entry '
                'manifest:full-path="content.xml" manifest:media-type="text/xml">'
                '<manifest:encryption-data manifest:checksum-type="SHA1/1K" manifest:checksum="x">'
                '<manifest:algorithm manifest:algorithm-name="Blowfish CFB" '
                'manifest:initialisation-vector="x"/></manifest:encryption-data>'
                '</manifest:file-entry></manifest:manifest>')
    write("encrypted.ods", "\x8f\x02garbage", extra={"META-INF/manifest.xml": manifest})
    write("text_document.ods", content(""), mime="application/vnd.oasis.opendocument.text")
    write("no_content.ods", None)
    write("malformed.ods", content(table("M", row(s("x")) + "</table:table-row>")))
    whole = os.path.join(HERE, "tank_summary_ru.ods")
    with open(whole, "rb") as fh:
        data = fh.read()
    with open(os.path.join(HERE, "truncated.ods"), "wb") as fh:
        fh.write(data[: len(data) * 2 // 3])


def skipped_content():
    """Cells valued by their attributes: the reader skips their paragraphs, yet damage
    inside them is still an error and blanks there cost nothing."""
    def number_cell(paragraph):
        return (f'<table:table-cell office:value-type="float" office:value="7">'
                f'<text:p>{paragraph}</text:p></table:table-cell>')
    write("mismatched_in_number.ods", content(table("M", row(
        number_cell("<text:span>7</text:p></text:span>")))))
    write("entity_in_number.ods", content(table("E", row(number_cell("&undefined;")))))
    write("blanks_in_number.ods", content(table("B", row(
        number_cell('<text:s text:c="2000000000"/>') + s("x")))))


def same_dates():
    """The date cases that every reader must show alike (DateSerialTest.cpp), as an .ods
    file writes them: calendar dates, and times of day and durations as time values."""
    def date(iso):
        return (f'<table:table-cell office:value-type="date" office:date-value="{iso}">'
                f'<text:p>{iso}</text:p></table:table-cell>')

    def time(duration):
        return (f'<table:table-cell office:value-type="time" office:time-value="{duration}">'
                f'<text:p>{duration}</text:p></table:table-cell>')
    cells = [date("1900-01-01"), date("1900-02-28"), date("1900-03-01"),
             date("2023-03-15T18:00:00"), date("1904-01-01"), time("PT12H"), time("PT36H")]
    write("same_dates.ods", content(table("Dates", "".join(row(c) for c in cells))))


if __name__ == "__main__":
    tank_summary()
    cell_types()
    tricky_names()
    hostile()
    skipped_content()
    same_dates()
