#!/usr/bin/env python3
"""Generate core/CharClassTables.inc, the property bytes and case exception
lists behind core/CharClass.cpp.

The tables describe the character repertoire of Unicode 4.0.0. They are made
from a current Unicode character database (Debian's unicode-data package by
default) cut back to 4.0.0: only code points that DerivedAge.txt dates 4.0 or
earlier take part, case mappings to later characters are dropped, and the few
4.0 characters whose general category changed since are given their 4.0
category again.

Usage: gen_charclass.py [--ucd DIR] [--output FILE]
"""

import argparse
import os
import sys

MAX_AGE = (4, 0)

# First unit, last unit, whether the range carries a byte table. Ranges
# without one are the big ideograph and syllable blocks, all of which are
# identifier letters without case.
RANGES = [
    (0x0000, 0x07B1, True),
    (0x0901, 0x1974, True),
    (0x1D00, 0x2183, True),
    (0x24B6, 0x24E9, True),
    (0x3000, 0x31FF, True),
    (0x3400, 0x4DB5, False),
    (0x4E00, 0x9FA5, False),
    (0xA000, 0xA48C, False),
    (0xAC00, 0xD7A3, False),
    (0xF900, 0xFFFF, True),
]

WHITE_SPACE = 0x10
FORMAT = 0x20
ID_START = 0x40
ID_PART = 0x80
EXCEPTION_CLASS = 15

# Case classes 1..7 add these to reach lower case, 8..14 add their negation
# to reach upper case.
LOWER_DELTAS = [1, -8, 16, 26, 32, 48, 80]
UPPER_DELTAS = [-d for d in LOWER_DELTAS]

# White space is this fixed list, not the Zs category: U+180E (Zs in 4.0)
# is left out, and U+0085, U+2028, U+2029 are line ends, not blanks.
WHITE_SPACE_UNITS = ([0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0xA0, 0x1680]
                     + list(range(0x2000, 0x200C)) + [0x202F, 0x205F, 0x3000])

# General categories these characters had in 4.0.0, where the current
# database says otherwise.
CATEGORY_IN_4_0 = {}
for c in range(0x1369, 0x1372):
    CATEGORY_IN_4_0[c] = 'Nd'     # Ethiopic digits, No since 4.1
CATEGORY_IN_4_0.update({
    0x17B4: 'Cf', 0x17B5: 'Cf',   # Khmer inherent vowels, Mn later
    0x1885: 'Lo', 0x1886: 'Lo',   # Mongolian baluda, Mn since 9.0
    0x180E: 'Zs',                 # Mongolian vowel separator, Cf since 6.3
    0x200B: 'Zs',                 # zero width space, Cf since 4.0.1
    0x2132: 'So',                 # turned capital F, Lu since 5.0
    0x2183: 'Nl',                 # reversed one hundred, Lu since 5.0
})

LETTERS = {'Lu', 'Ll', 'Lt', 'Lm', 'Lo', 'Nl'}
# Enclosing marks (Me) do not continue identifiers, as in ECMAScript 3.
CONTINUING = {'Nd', 'Mn', 'Mc'}

# Exception lists the tables must produce: count, first pair, last pair.
EXPECTED_LOWER = (59, (0x0130, -199), (0x212B, -8262))
EXPECTED_UPPER = (67, (0x00B5, 743), (0x1FF3, 9))


def fail(message):
    sys.exit('gen_charclass: ' + message)


def parse_range(text):
    if '..' in text:
        first, last = text.split('..')
        return int(first, 16), int(last, 16)
    return int(text, 16), int(text, 16)


def read_ages(path):
    """Code points of the BMP that existed in MAX_AGE."""
    old = set()
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            field, version = (x.strip() for x in line.split(';'))
            if tuple(int(x) for x in version.split('.')) > MAX_AGE:
                continue
            first, last = parse_range(field)
            old.update(range(first, min(last, 0xFFFF) + 1))
    return old


def read_unicode_data(path):
    """Category, simple upper- and lower-case mapping of each BMP code point."""
    category, upper, lower = {}, {}, {}
    with open(path, encoding='utf-8') as f:
        rows = [line.rstrip('\n').split(';') for line in f if line.strip()]
    i = 0
    while i < len(rows):
        row = rows[i]
        code = int(row[0], 16)
        if row[1].endswith(', First>'):
            last = int(rows[i + 1][0], 16)
            for c in range(code, min(last, 0xFFFF) + 1):
                category[c] = row[2]
            i += 2
            continue
        if code <= 0xFFFF:
            category[code] = row[2]
            if row[12]:
                upper[code] = int(row[12], 16)
            if row[13]:
                lower[code] = int(row[13], 16)
        i += 1
    return category, upper, lower


def build(ucd):
    old = read_ages(os.path.join(ucd, 'DerivedAge.txt'))
    category, upper, lower = read_unicode_data(os.path.join(ucd, 'UnicodeData.txt'))
    category.update(CATEGORY_IN_4_0)
    white = set(WHITE_SPACE_UNITS)

    lower_exceptions, upper_exceptions = [], []

    def case_class(c):
        # A unit with both mappings (the title-case digraphs such as U+01C5)
        # keeps its lower-case one. An exception goes to the list of its
        # mapping's direction, whatever the unit's category: U+0345, a mark,
        # maps to upper case (U+0399), so it belongs to the upper-case list.
        to_lower = lower.get(c) if lower.get(c) in old else None
        to_upper = upper.get(c) if upper.get(c) in old else None
        if to_lower is not None:
            delta = to_lower - c
            if delta in LOWER_DELTAS:
                return 1 + LOWER_DELTAS.index(delta)
            lower_exceptions.append((c, delta))
            return EXCEPTION_CLASS
        if to_upper is not None:
            delta = to_upper - c
            if delta in UPPER_DELTAS:
                return 8 + UPPER_DELTAS.index(delta)
            upper_exceptions.append((c, delta))
            return EXCEPTION_CLASS
        return 0

    def property_byte(c):
        if c not in old:
            return 0
        cat = category.get(c, 'Cn')
        byte = case_class(c)
        if c in white:
            byte |= WHITE_SPACE
        if cat == 'Cf':
            byte |= FORMAT
        if cat in LETTERS or c in (0x24, 0x5F):
            byte |= ID_START | ID_PART
        elif cat in CONTINUING:
            byte |= ID_PART
        return byte

    tables = {}
    for first, last, has_table in RANGES:
        if has_table:
            tables[first] = [property_byte(c) for c in range(first, last + 1)]
        else:
            for c in range(first, last + 1):
                if c not in old or category.get(c, 'Cn') not in LETTERS:
                    fail('U+%04X in a range without table is no 4.0 letter' % c)
    return tables, lower_exceptions, upper_exceptions


def check(tables, lower_exceptions, upper_exceptions):
    def prop(c):
        for first, last, has_table in RANGES:
            if first <= c <= last:
                return tables[first][c - first] if has_table else 0xC0
        return 0

    for name, pairs, (count, head, tail) in (
            ('lower-case', lower_exceptions, EXPECTED_LOWER),
            ('upper-case', upper_exceptions, EXPECTED_UPPER)):
        if len(pairs) != count or pairs[0] != head or pairs[-1] != tail:
            fail('%s exceptions: %d pairs from U+%04X %+d to U+%04X %+d'
                 % ((name, len(pairs)) + pairs[0] + pairs[-1]))
    classes = {0x0041: 5, 0x0061: 12, 0x1E00: 1, 0x1F08: 2, 0x2160: 3,
               0x24B6: 4, 0x0531: 6, 0x0400: 7, 0x24D0: 11, 0x00B5: 15,
               0x00FF: 15, 0x0130: 15, 0x0131: 15, 0x0345: 15}
    for c, expected in classes.items():
        if prop(c) & 0x0F != expected:
            fail('U+%04X has case class %d' % (c, prop(c) & 0x0F))
    for c in range(0x10000):
        if bool(prop(c) & WHITE_SPACE) != (c in WHITE_SPACE_UNITS):
            fail('white space of U+%04X' % c)
    for c in [0x00AD, 0x0600, 0x0603, 0x06DD, 0x070F, 0x200C, 0x200D, 0xFEFF]:
        if not prop(c) & FORMAT:
            fail('U+%04X is no format control' % c)
    for c in [0x180E, 0x200B]:
        if prop(c) & FORMAT:
            fail('U+%04X is a format control' % c)
    for c in [0x24, 0x5F, 0x41, 0x2160, 0x1D00, 0x4E00, 0x9FA5]:
        if prop(c) & (ID_START | ID_PART) != ID_START | ID_PART:
            fail('U+%04X does not start an identifier' % c)
    for c in [0x30, 0x0300, 0x0903, 0x0660]:
        if prop(c) & (ID_START | ID_PART) != ID_PART:
            fail('U+%04X does not only continue an identifier' % c)
    for c in [0x0488, 0x20DD, 0x2028, 0x0020]:
        if prop(c) & (ID_START | ID_PART):
            fail('U+%04X belongs to identifiers' % c)


def emit(tables, lower_exceptions, upper_exceptions):
    out = ['// Generated by core/tools/gen_charclass.py from the Unicode character',
           '// database, cut back to the characters of Unicode 4.0.0. Do not edit.',
           '']
    for first, last, has_table in RANGES:
        if not has_table:
            continue
        data = tables[first]
        out.append('static const u8 props%04X[%d] = {' % (first, len(data)))
        for i in range(0, len(data), 16):
            row = ', '.join('0x%02X' % b for b in data[i:i + 16])
            out.append('    %s,  // U+%04X' % (row, first + i))
        out.append('};')
        out.append('')
    out.append('static const CharRange charRanges[%d] = {' % len(RANGES))
    for first, last, has_table in RANGES:
        table = 'props%04X' % first if has_table else 'nullptr'
        out.append('    {0x%04X, 0x%04X, %s},' % (first, last, table))
    out.append('};')
    for name, pairs in (('lowerCaseExceptions', lower_exceptions),
                        ('upperCaseExceptions', upper_exceptions)):
        out.append('')
        out.append('static const CaseException %s[%d] = {' % (name, len(pairs)))
        for c, delta in pairs:
            out.append('    {0x%04X, %d},' % (c, delta))
        out.append('};')
    return '\n'.join(out) + '\n'


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--ucd', default='/usr/share/unicode',
                        help='folder holding UnicodeData.txt and DerivedAge.txt')
    parser.add_argument('--output', help='file to write (default: standard output)')
    args = parser.parse_args()
    try:
        tables, lower_exceptions, upper_exceptions = build(args.ucd)
    except OSError as e:
        fail('cannot read the Unicode database: %s' % e)
    check(tables, lower_exceptions, upper_exceptions)
    text = emit(tables, lower_exceptions, upper_exceptions)
    if args.output:
        with open(args.output, 'w', encoding='ascii', newline='\n') as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == '__main__':
    main()
