#!/usr/bin/env python3
"""Writes the seed tables of fuzz_dbf_header into its corpus folder: small dBASE III tables of
varied shape (every field type, every code-page byte the driver reads, deleted records, empty
tables, wide and many fields, odd values, a short file, a header that claims more records than
the file holds). Written byte by byte so that the odd cases can be made too.
    bench/fuzz_dbf_header/make_corpus.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def table(fields, rows, version=0x03, code_page=0x03, deleted=(), count=None, eof=True):
    """fields: (name, type, length, decimals); rows: tuples of already formatted texts."""
    record_len = 1 + sum(f[2] for f in fields)
    header_len = 32 + 32 * len(fields) + 1
    out = bytearray(struct.pack('<BBBBIHH', version, 126, 12, 7,
                                len(rows) if count is None else count, header_len, record_len))
    out += bytes(16) + bytes([0, code_page, 0, 0])
    for name, kind, length, decimals in fields:
        out += name.encode('ascii').ljust(11, b'\0') + kind.encode('ascii') + bytes(4)
        out += bytes([length, decimals]) + bytes(14)
    out += b'\r'
    for i, row in enumerate(rows):
        out += b'*' if i in deleted else b' '
        for (name, kind, length, decimals), value in zip(fields, row):
            data = value if isinstance(value, bytes) else value.encode('latin-1')
            data = data.rjust(length) if kind in 'NF' else data.ljust(length)
            out += data[:length]
    if eof:
        out += b'\x1a'
    return bytes(out)


EVERY_TYPE = [('NAME', 'C', 10, 0), ('QTY', 'N', 6, 0), ('PRICE', 'N', 9, 2), ('BORN', 'D', 8, 0),
              ('OK', 'L', 1, 0), ('RATE', 'F', 8, 3)]
EVERY_TYPE_ROWS = [('Anna', '12', '3.50', '19991231', 'T', '0.125'),
                   ('bert', '-7', '-0.01', '20000229', 'F', '-1.5'),
                   ('Anna', '12', '', '        ', '?', ''),
                   ('\xe9t\xe9', '******', '1e3', '19000101', 'y', '9.999'),
                   ('zz', '0', '999999.99', '20991301', 'n', '1.0')]

SEEDS = {
    'every-type.dbf': table(EVERY_TYPE, EVERY_TYPE_ROWS, deleted={1}),
    'cp437.dbf': table(EVERY_TYPE, EVERY_TYPE_ROWS, code_page=0x01),
    'cp850.dbf': table(EVERY_TYPE, EVERY_TYPE_ROWS[:3], code_page=0x02),
    'ansi.dbf': table(EVERY_TYPE, EVERY_TYPE_ROWS[:2], code_page=0x57),
    'no-code-page.dbf': table(EVERY_TYPE, EVERY_TYPE_ROWS[3:], code_page=0x00),
    'memo.dbf': table([('TITLE', 'C', 8, 0), ('NOTES', 'M', 10, 0)], [('a', '         1'), ('b', '')],
                      version=0x83),
    'empty.dbf': table([('ID', 'N', 4, 0)], []),
    'wide.dbf': table([('TEXT', 'C', 254, 0), ('N', 'N', 20, 4)], [('x' * 254, '-12345678901234.5678'), ('', '')]),
    'many-fields.dbf': table([('F%02d' % i, 'CNDL'[i % 4], [3, 5, 8, 1][i % 4], 0) for i in range(24)],
                             [tuple(['ab', '42', '20240101', 'T'][i % 4] for i in range(24))] * 3),
    'duplicates.dbf': table([('KEY', 'C', 3, 0), ('N', 'N', 3, 0)],
                            [('aaa', '1'), ('aaa', '1'), ('bbb', '2'), ('aaa', '3')], deleted={0, 3}),
    'claims-more.dbf': table(EVERY_TYPE, EVERY_TYPE_ROWS[:2], count=9),
    'no-eof.dbf': table(EVERY_TYPE, EVERY_TYPE_ROWS[:2], eof=False),
    'date-keys.dbf': table([('D', 'D', 8, 0), ('L', 'L', 1, 0)],
                           [('19700101', 'T'), ('20380119', 'F'), ('00000000', 'T'), ('2024-1-1', ' ')]),
}


def main():
    folder = os.path.join(HERE, 'corpus')
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
