#!/usr/bin/env python3
"""Writes the small Excel 97-2003 workbooks that the .xls reader tests use.

Each workbook is built record by record (BIFF8) and packed into a compound file, so every
fixture shows exactly the structure it is named for. Run from anywhere:

    python3 tests/sheet/data/xls/make_xls.py

The files are written next to this script; the output is deterministic.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------- compound file

ENDOFCHAIN = 0xFFFFFFFE
FREESECT = 0xFFFFFFFF
FATSECT = 0xFFFFFFFD
NOSTREAM = 0xFFFFFFFF


def compound_file(streams, sector_shift=9, mutate_fat=None, pad_to=4096):
    """Packs {name: bytes} into a compound file. Streams are padded with zero bytes to
    `pad_to` as Excel pads its Workbook stream; streams still under 4096 bytes go into the
    mini stream. `mutate_fat(fat, starts)` may damage the allocation table."""
    streams = {k: v + b"\0" * max(0, pad_to - len(v)) for k, v in streams.items()}
    ss = 1 << sector_shift
    mini = 64
    sectors = []  # regular sector payloads, in order

    def alloc(data):
        count = (len(data) + ss - 1) // ss
        start = len(sectors)
        for i in range(count):
            chunk = data[i * ss:(i + 1) * ss]
            sectors.append(chunk + b"\0" * (ss - len(chunk)))
        return start, count

    chains = []  # (start, count) runs of regular sectors, chained one after the other
    mini_stream = b""
    mini_fat = []
    entries = []  # (name, start, size)
    for name, data in streams.items():
        if len(data) < 4096:
            start = len(mini_stream) // mini
            count = (len(data) + mini - 1) // mini
            mini_stream += data + b"\0" * (count * mini - len(data))
            for i in range(count):
                mini_fat.append(start + i + 1 if i + 1 < count else ENDOFCHAIN)
            entries.append((name, start if data else ENDOFCHAIN, len(data)))
        else:
            start, count = alloc(data)
            chains.append((start, count))
            entries.append((name, start, len(data)))
    root_start = ENDOFCHAIN
    if mini_stream:
        root_start, count = alloc(mini_stream)
        chains.append((root_start, count))
    minifat_start = ENDOFCHAIN
    minifat_bytes = b"".join(struct.pack("<I", v) for v in mini_fat)
    if mini_fat:
        minifat_bytes += b"\xff" * (-len(minifat_bytes) % ss)
        minifat_start, count = alloc(minifat_bytes)
        chains.append((minifat_start, count))

    # Directory: root, then the streams linked as a chain of right siblings.
    def dir_entry(name, etype, left, right, child, start, size):
        raw = name.encode("utf-16-le") + b"\0\0"
        return (raw + b"\0" * (64 - len(raw)) + struct.pack("<HBB", len(raw), etype, 1) +
                struct.pack("<III", left, right, child) + b"\0" * 36 +
                struct.pack("<IQ", start, size))

    directory = dir_entry("Root Entry", 5, NOSTREAM, NOSTREAM, 1 if entries else NOSTREAM,
                          root_start, len(mini_stream))
    for i, (name, start, size) in enumerate(entries):
        right = i + 2 if i + 1 < len(entries) else NOSTREAM
        directory += dir_entry(name, 2, NOSTREAM, right, NOSTREAM, start, size)
    directory += b"\0" * (-len(directory) % ss)
    dir_start, count = alloc(directory)
    chains.append((dir_start, count))

    # Allocation table sectors go last; they must cover themselves too.
    per = ss // 4
    fat_count = 1
    while len(sectors) + fat_count > fat_count * per:
        fat_count += 1
    fat_start = len(sectors)
    fat = [FREESECT] * (fat_count * per)
    for start, count in chains:
        for i in range(count):
            fat[start + i] = start + i + 1 if i + 1 < count else ENDOFCHAIN
    for i in range(fat_count):
        fat[fat_start + i] = FATSECT
    if mutate_fat:
        mutate_fat(fat, {name: start for name, start, _ in entries})
    fat_bytes = b"".join(struct.pack("<I", v) for v in fat)
    for i in range(fat_count):
        sectors.append(fat_bytes[i * ss:(i + 1) * ss])
    assert fat_count <= 109

    header = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\0" * 16
    header += struct.pack("<HHHHH", 0x3E, 3 if sector_shift == 9 else 4, 0xFFFE,
                          sector_shift, 6)
    header += b"\0" * 6
    header += struct.pack("<IIIIIIIII", 0, fat_count, dir_start, 0, 4096, minifat_start,
                          len(minifat_bytes) // ss if mini_fat else 0, ENDOFCHAIN, 0)
    difat = [fat_start + i for i in range(fat_count)] + [FREESECT] * (109 - fat_count)
    header += b"".join(struct.pack("<I", v) for v in difat)
    header += b"\0" * (ss - len(header))
    return header + b"".join(sectors)


# ---------------------------------------------------------------- BIFF8 records


def record(rtype, body=b""):
    return struct.pack("<HH", rtype, len(body)) + body


def bof(dt):
    return record(0x0809, struct.pack("<HHHHII", 0x0600, dt, 0x0DBB, 0x07CC, 0, 0x0206))


def eof():
    return record(0x000A)


def xl_string(text, count_bytes=2):
    """A string with its count and option byte: Latin-1 when it fits, else UTF-16."""
    try:
        raw, flags = text.encode("latin-1"), 0
    except UnicodeEncodeError:
        raw, flags = text.encode("utf-16-le"), 1
    units = len(text.encode("utf-16-le")) // 2
    count = struct.pack("<H", units) if count_bytes == 2 else struct.pack("<B", units)
    return count + bytes([flags]) + raw


def xf(fmt):
    return record(0x00E0, struct.pack("<HHHBBBBIIH", 0, fmt, 0x0001, 0x20, 0, 0, 0, 0, 0, 0x20C0))


def fmt_record(ifmt, code):
    return record(0x041E, struct.pack("<H", ifmt) + xl_string(code))


def cell(rtype, row, col, xfi, payload):
    return record(rtype, struct.pack("<HHH", row, col, xfi) + payload)


def number(row, col, value, xfi=15):
    return cell(0x0203, row, col, xfi, struct.pack("<d", value))


def rk_int(value):
    return (value << 2) | 2


def rk(row, col, raw, xfi=15):
    return cell(0x027E, row, col, xfi, struct.pack("<I", raw & 0xFFFFFFFF))


def mulrk(row, first, raws, xfi=15):
    body = struct.pack("<HH", row, first)
    for raw in raws:
        body += struct.pack("<HI", xfi, raw & 0xFFFFFFFF)
    return record(0x00BD, body + struct.pack("<H", first + len(raws) - 1))


def labelsst(row, col, index, xfi=15):
    return cell(0x00FD, row, col, xfi, struct.pack("<I", index))


def label(row, col, text, xfi=15):
    return cell(0x0204, row, col, xfi, xl_string(text))


def boolerr(row, col, value, is_error, xfi=15):
    return cell(0x0205, row, col, xfi, struct.pack("<BB", value, 1 if is_error else 0))


def blank(row, col, xfi=15):
    return cell(0x0201, row, col, xfi, b"")


def mulblank(row, first, count, xfi=15):
    body = struct.pack("<HH", row, first) + struct.pack("<H", xfi) * count
    return record(0x00BE, body + struct.pack("<H", first + count - 1))


# Formula tokens for "=1" (ptgInt 1): the reader only needs the cached result.
FORMULA_TOKENS = struct.pack("<H", 3) + b"\x1e\x01\x00"


def formula(row, col, result8, xfi=15):
    return cell(0x0006, row, col, xfi, result8 + struct.pack("<HI", 0, 0) + FORMULA_TOKENS)


def formula_number(row, col, value, xfi=15):
    return formula(row, col, struct.pack("<d", value), xfi)


def formula_special(row, col, kind, value=0, xfi=15):
    return formula(row, col, struct.pack("<BBBBBBH", kind, 0, value, 0, 0, 0, 0xFFFF), xfi)


def string_record(text):
    return record(0x0207, xl_string(text))


def sst(strings, limit=8224):
    """The shared string table, split into CONTINUE records of at most `limit` bytes the way
    Excel splits it: a string header never crosses a boundary; characters that do go on
    in the next record after a re-stated option byte."""
    bodies = [bytearray(struct.pack("<II", len(strings), len(strings)))]
    for text in strings:
        try:
            raw, wide = text.encode("latin-1"), False
        except UnicodeEncodeError:
            raw, wide = text.encode("utf-16-le"), True
        width = 2 if wide else 1
        if len(bodies[-1]) + 3 + width > limit:
            bodies.append(bytearray())
        bodies[-1] += struct.pack("<HB", len(raw) // width, 1 if wide else 0)
        while raw:
            room = (limit - len(bodies[-1])) // width * width
            bodies[-1] += raw[:room]
            raw = raw[room:]
            if raw:
                bodies.append(bytearray([1 if wide else 0]))
    out = record(0x00FC, bytes(bodies[0]))
    for body in bodies[1:]:
        out += record(0x003C, bytes(body))
    return out


def workbook(sheets, strings=(), formats=(), date1904=False, globals_extra=b"",
             extra_xfs=(), sst_records=None):
    """sheets: list of (name, sheet type, cell records). XF 15 is the general cell format;
    extra_xfs add cell formats from index 16 on, by number format id."""
    xfs = b"".join(xf(0) for _ in range(16)) + b"".join(xf(f) for f in extra_xfs)
    head = bof(0x0005) + globals_extra + record(0x0042, struct.pack("<H", 1200))
    head += record(0x0022, struct.pack("<H", 1 if date1904 else 0))
    head += b"".join(fmt_record(i, code) for i, code in formats) + xfs
    if sst_records is None:
        sst_records = sst(list(strings)) if strings else b""
    tail = sst_records + eof()

    def boundsheet(offset, name, dt):
        return record(0x0085, struct.pack("<IBB", offset, 0, dt) + xl_string(name, 1))

    size = len(head) + sum(len(boundsheet(0, n, t)) for n, t, _ in sheets) + len(tail)
    offsets, subs = [], b""
    for name, dt, cells in sheets:
        offsets.append(size + len(subs))
        kind = 0x0010 if dt == 0 else 0x0020
        subs += bof(kind) + record(0x0200, struct.pack("<IIHHH", 0, 100, 0, 20, 0)) + cells + eof()
    bound = b"".join(boundsheet(o, n, t) for o, (n, t, _) in zip(offsets, sheets))
    return head + bound + tail + subs


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- fixtures


def tank_summary():
    """A Cyrillic tank summary: header rows naming a tank, data rows of figures, a chart
    sheet between the two worksheets (not listed), numbers as RK, MULRK and NUMBER."""
    strings = ["Танк", "Шп.", "Борт", "Объём, м3", "Уд. вес", "Цистерна № 1 (топливо)",
               "ЛБ", "ПрБ", "Цистерна № 2 (вода)", "ДП"]
    cells = b"".join([
        labelsst(0, 0, 0), labelsst(0, 1, 1), labelsst(0, 2, 2), labelsst(0, 3, 3),
        labelsst(0, 4, 4),
        labelsst(1, 0, 5),
        rk(2, 1, rk_int(12)), labelsst(2, 2, 6), number(2, 3, 15.375), rk(2, 4, 98 | 1 | 0),
        mulrk(3, 1, [rk_int(13)]) + labelsst(3, 2, 7) + number(3, 3, 1234.5678901234),
        rk(3, 4, (85 << 2) | 2 | 1),
        labelsst(5, 0, 8),
        mulrk(6, 0, [rk_int(-1), rk_int(40), rk_int(41)]), labelsst(6, 3, 9),
    ])
    second = label(0, 0, "Примечание") + label(1, 0, "plain Latin-1 text: café")
    data = workbook([("Сводка", 0, cells), ("Диаграмма", 2, b""), ("Лист2", 0, second)],
                    strings)
    write("tank_summary_ru.xls", compound_file({"Workbook": data}))
    # The same workbook with 4096-byte sectors.
    write("tank_summary_4096.xls", compound_file({"Workbook": data}, sector_shift=12))


def types():
    """Every kind of value cell: booleans, errors, cached formula results of each type,
    RK encodings, blanks, and number formats that are or are not dates."""
    formats = [(164, "dd.mm.yyyy"), (165, '0.00 "days"'), (166, "[h]:mm"),
               (167, "[Red]0.00;[Blue]-0.00"), (168, "[$-419]d mmmm yyyy")]
    # XF 16: built-in 14 (date), 17: 164, 18: 165 (not a date), 19: 166, 20: 167, 21: 168,
    # 22: built-in 4 (number), 23: built-in 22 (date and time)
    xfs = [14, 164, 165, 166, 167, 168, 4, 22]
    cells = b"".join([
        boolerr(0, 0, 1, False), boolerr(0, 1, 0, False),
        boolerr(1, 0, 0x00, True), boolerr(1, 1, 0x07, True), boolerr(1, 2, 0x0F, True),
        boolerr(1, 3, 0x17, True), boolerr(1, 4, 0x1D, True), boolerr(1, 5, 0x24, True),
        boolerr(1, 6, 0x2A, True),
        formula_number(2, 0, 2.5),
        formula_special(2, 1, 0), record(0x04BC, b"\0" * 10), string_record("из формулы"),
        formula_special(2, 2, 1, 1), formula_special(2, 3, 2, 0x07), formula_special(2, 4, 3),
        rk(3, 0, rk_int(-5)), rk(3, 1, (1234 << 2) | 2 | 1),
        rk(3, 2, struct.unpack("<Q", struct.pack("<d", 0.5))[0] >> 32),
        rk(3, 3, (struct.unpack("<Q", struct.pack("<d", 1.25))[0] >> 32) | 1),
        blank(4, 0), mulblank(4, 1, 3), label(4, 5, "after blanks"),
        number(5, 0, 45000.0, 16), number(5, 1, 45000.0, 17), number(5, 2, 45000.0, 18),
        number(5, 3, 1.5, 19), number(5, 4, 45000.0, 20), number(5, 5, 45000.0, 21),
        number(5, 6, 45000.0, 22), number(5, 7, 45000.75, 23), formula_number(5, 8, 45001, 16),
        rk(5, 9, rk_int(45002), 16),
        # Early 1900 dates, before the leap day that the 1900 system counts wrongly.
        number(6, 0, 1.0, 16), number(6, 1, 59.0, 16), number(6, 2, 60.0, 16),
        number(6, 3, 61.0, 16), number(6, 4, 0.5, 23), number(6, 5, 1.0),
        # Values no spreadsheet holds: not a number, infinity (a damaged file).
        number(7, 0, float("nan")), number(7, 1, float("inf"), 16),
    ])
    data = workbook([("Types", 0, cells)], formats=formats, extra_xfs=xfs)
    write("types.xls", compound_file({"Workbook": data}))


def dates_1904():
    cells = number(0, 0, 0.0, 16) + number(0, 1, 100.0, 16) + number(0, 2, 100.0)
    data = workbook([("1904", 0, cells)], date1904=True, extra_xfs=[14])
    write("dates_1904.xls", compound_file({"Workbook": data}))


# The date cases that every reader must show alike (DateSerialTest.cpp): (serial of the
# 1900 system, cell format: 16 date, 17 date and time, 18 time, 19 duration, in the 1904
# workbook too). The .xlsx and .ods generators hold the same table.
SAME_DATES = [(1, 16, False), (59, 16, False), (61, 16, False), (45000.75, 17, True),
              (1462, 16, True), (0.5, 18, False), (1.5, 19, True)]


def same_dates():
    for date1904 in (False, True):
        cells = b""
        for row, (serial, xfi, in1904) in enumerate(SAME_DATES):
            if date1904 and not in1904:
                continue
            value = serial - 1462 if date1904 and xfi != 19 else serial
            cells += number(row, 0, value, xfi)
        data = workbook([("Dates", 0, cells)], formats=[(164, "[h]:mm")], date1904=date1904,
                        extra_xfs=[14, 22, 20, 164])
        name = "same_dates_1904.xls" if date1904 else "same_dates.xls"
        write(name, compound_file({"Workbook": data}))


def sst_continue():
    """Shared strings split across CONTINUE records the way Excel splits them: inside the
    characters of a string (the next record re-states the option byte, and the encoding may
    change there), inside formatting runs and phonetic data (no option byte), and right
    after a string's header."""
    u16 = lambda t: t.encode("utf-16-le")
    first = (struct.pack("<II", 6, 5) +
             struct.pack("<HB", 10, 0) + b"abcde")                 # 0: Latin-1 ...
    second = (b"\x01" + u16("fghij") +                           # ... goes on as UTF-16
              struct.pack("<HB", 5, 1) + u16("Я-"))                # 1: UTF-16 ...
    third = (b"\x00" + b"abc" +                                   # ... goes on as Latin-1
             struct.pack("<HBH", 9, 8, 2) + b"rich text" +          # 2: two formatting runs
             b"\x00\x00\x01")                                      # split inside the runs
    fourth = (b"\x00\x00\x00\x04\x00" +
              struct.pack("<HBI", 8, 5, 6) + u16("фонетика") +      # 3: with phonetic data
              b"\x01\x02")                                          # split inside it
    fifth = (b"\x03\x04\x05\x06" +
             struct.pack("<HB", 4, 0))                             # 4: header ends a record
    sixth = b"\x00" + b"tail"                                      # its characters
    records = (record(0x00FC, first) + record(0x003C, second) + record(0x003C, third) +
               record(0x003C, fourth) + record(0x003C, fifth) + record(0x003C, sixth))
    cells = b"".join(labelsst(i, 0, i) for i in range(5))
    data = workbook([("SST", 0, cells)], sst_records=records)
    write("sst_continue.xls", compound_file({"Workbook": data}))


def long_strings():
    """Strings longer than one record, split by the table writer as Excel splits them."""
    strings = ["x" * 10000, "Ж" * 5000 + "end", "short"]
    cells = b"".join(labelsst(i, 0, i) for i in range(len(strings)))
    data = workbook([("Long", 0, cells)], strings)
    write("sst_long_strings.xls", compound_file({"Workbook": data}))


def small_in_mini_stream():
    cells = label(0, 0, "tiny") + rk(0, 1, rk_int(7))
    data = workbook([("Mini", 0, cells)])
    assert len(data) < 4096
    write("mini_stream.xls", compound_file({"Workbook": data}, pad_to=0))


def hostile():
    base_cells = label(0, 0, "x") + rk(0, 1, rk_int(1))
    good = workbook([("S", 0, base_cells)])

    encrypted = workbook([("S", 0, base_cells)],
                         globals_extra=record(0x002F, struct.pack("<HHH", 1, 1, 1) + b"\0" * 48))
    write("bad_encrypted.xls", compound_file({"Workbook": encrypted}))

    biff5 = bytearray(good)
    biff5[4:6] = struct.pack("<H", 0x0500)
    write("bad_biff5_bof.xls", compound_file({"Workbook": bytes(biff5)}))
    write("bad_book_stream.xls", compound_file({"Book": good}))
    write("bad_no_workbook.xls", compound_file({"Something": b"hello"}))

    # The last record claims more bytes than the stream holds.
    write("bad_record_past_end.xls",
          compound_file({"Workbook": good[:-4] + struct.pack("<HH", 0x000A, 500)}, pad_to=0))

    # A cell refers to a shared string the table lacks.
    write("bad_sst_index.xls",
          compound_file({"Workbook": workbook([("S", 0, labelsst(0, 0, 5))], ["only"])}))

    # The string table announces a billion strings.
    huge = workbook([("S", 0, base_cells)], ["a"])
    at = huge.find(struct.pack("<HH", 0x00FC, 12))
    huge = huge[:at + 8] + struct.pack("<I", 1_000_000_000) + huge[at + 12:]
    write("bad_sst_count.xls", compound_file({"Workbook": huge}))

    # The globals end without EOF: the stream stops in the middle of them.
    write("bad_globals_truncated.xls", compound_file({"Workbook": good[:40]}, pad_to=0))

    # The sheet's offset lies past the end of the stream.
    far = bytearray(good)
    at = far.find(struct.pack("<H", 0x0085))
    far[at + 4:at + 8] = struct.pack("<I", 0x7FFFFFF0)
    write("bad_sheet_offset.xls", compound_file({"Workbook": bytes(far)}))

    # The Workbook stream's sector chain loops back on itself.
    big = good + record(0x0000, b"\0" * 100) * 50

    def loop(fat, starts):
        fat[starts["Workbook"] + 2] = starts["Workbook"]

    write("bad_chain_loop.xls", compound_file({"Workbook": big}, mutate_fat=loop))

    # Not a compound file at all, and an Excel 4.0 worksheet.
    write("bad_not_cfb.xls", b"PK\x03\x04 this is a zip, not a workbook")
    write("bad_biff4.xls", record(0x0409, struct.pack("<HHH", 0, 0x0010, 0)) + eof())


def big_summary(path, rows=20000):
    """A tank summary of `rows` rows by 21 columns (Cyrillic text and numbers) for timing
    the reader; not a test fixture. Written with 4096-byte sectors."""
    names = ["Цистерна № %d" % i for i in range(200)]
    boards = ["ЛБ", "ПрБ", "ДП"]
    strings = names + boards
    cells = bytearray()
    for r in range(rows):
        cells += labelsst(r, 0, r % len(names))
        cells += labelsst(r, 1, len(names) + r % 3)
        cells += rk(r, 2, rk_int(r % 300))
        for c in range(3, 21):
            if c % 3 == 0:
                cells += rk(r, c, rk_int(r * c % 100000))
            else:
                cells += number(r, c, r * 1.25 + c / 7.0)
    data = workbook([("Сводка", 0, bytes(cells))], strings)
    with open(path, "wb") as f:
        f.write(compound_file({"Workbook": data}, sector_shift=12))


if __name__ == "__main__":
    import sys
    if len(sys.argv) == 3 and sys.argv[1] == "--big":
        big_summary(sys.argv[2])
        sys.exit(0)
    tank_summary()
    types()
    dates_1904()
    same_dates()
    sst_continue()
    long_strings()
    small_in_mini_stream()
    hostile()
