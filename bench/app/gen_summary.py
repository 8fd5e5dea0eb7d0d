#!/usr/bin/env python3
"""Writes a large summary of tanks for timing the import.

  gen_summary.py LINES SVOD [DATA]

SVOD gets LINES lines as a spreadsheet application on Russian Windows saves them
(tab-separated, Windows-1251, CR LF, decimal commas): a header line before every
group of tanks, a blank line between groups, now and then a line with column B filled
(skipped by the import), the rest data lines of 21 cells. DATA, when given, gets the
same data lines alone as UTF-8 with decimal points and LF, for the sqlite3 shell's
.import to load as the reference."""

import random
import sys


def main():
    total = int(sys.argv[1])
    svod_path = sys.argv[2]
    data_path = sys.argv[3] if len(sys.argv) > 3 else None
    rng = random.Random(20240601)
    boards = ["ЛБ", "ПБ", "ДП"]
    kinds = ["Цистерны топлива", "Балластные цистерны", "Цистерны пресной воды",
             "Цистерны масла", "Льяльные цистерны"]
    svod = open(svod_path, "wb")
    data = open(data_path, "w", encoding="utf-8", newline="\n") if data_path else None
    written = 0
    group = 0
    data_lines = 0
    while written < total:
        group += 1
        header = [f"{kinds[group % len(kinds)]} № {group}"]
        lines = [header]
        for i in range(rng.randint(10, 30)):
            if rng.random() < 0.02:
                lines.append([f"Итого {group}", "всего", "", "", "", "123,4"])
                continue
            frame = rng.randint(1, 140)
            volume = round(rng.uniform(2, 400), 2)
            sg = rng.choice([0.85, 0.84, 1.0, 1.025, 0.9])
            cells = [f"Ц-{group}-{i + 1}", "", f"{frame}-{frame + rng.randint(2, 12)}",
                     rng.choice(boards), str(rng.randint(1, 4)), volume,
                     round(rng.uniform(1, 80), 2), round(volume * 0.98, 2), sg,
                     round(rng.uniform(1.0, 1.03), 3), round(rng.uniform(0, 2), 2),
                     round(rng.uniform(0, 2), 2), round(volume * sg, 2),
                     round(rng.uniform(-60, 60), 3), round(rng.uniform(-8, 8), 3),
                     round(rng.uniform(0, 12), 3), round(rng.uniform(-20000, 20000), 1),
                     round(rng.uniform(0, 5000), 1), "", rng.randint(1, 40),
                     rng.randint(1, 12)]
            lines.append(cells)
        lines.append([])
        for cells in lines:
            if written >= total:
                break
            text = "\t".join(str(c).replace(".", ",") if isinstance(c, float) else str(c)
                             for c in cells)
            svod.write((text + "\r\n").encode("cp1251"))
            written += 1
            if data and len(cells) == 21:
                data.write("\t".join(str(c) for c in cells) + "\n")
                data_lines += 1
    svod.close()
    if data:
        data.close()
    print(f"{written} lines, {data_lines} data lines", file=sys.stderr)


if __name__ == "__main__":
    main()
