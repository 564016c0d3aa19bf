#!/usr/bin/env python3
"""Checks an archive's entry names against Windows' naming rules, as its own extractor applies
them. Prints one line per violation and exits 1 if there is any; prints the names, one per line,
after "ok" otherwise.

Usage: windows_zip_names.py ARCHIVE [DESTINATION_FOLDER_LENGTH]
"""
import re
import sys
import unicodedata
import zipfile

REFUSED = set('<>:"\\|?*') | {chr(c) for c in range(0x20)}
RESERVED = re.compile(r'^(CON|PRN|AUX|NUL|COM[1-9\u00b9\u00b2\u00b3]|LPT[1-9\u00b9\u00b2\u00b3])$',
                      re.IGNORECASE)
MAX_PATH = 260


def problems(names, folder_length):
    seen = {}
    for name in names:
        path = name.rstrip('/')
        if unicodedata.normalize('NFC', name) != name:
            yield f'{name!r}: not NFC'
        # The folder Windows extracts into, a separator and the terminating NUL count too.
        if folder_length + 1 + len(path.encode('utf-16-le')) // 2 + 1 > MAX_PATH:
            yield f'{name!r}: path too long'
        for component in path.split('/'):
            if not component:
                yield f'{name!r}: empty component'
            if REFUSED & set(component):
                yield f'{name!r}: refused character in {component!r}'
            if component.endswith(('.', ' ')):
                yield f'{name!r}: {component!r} ends in a dot or space'
            if RESERVED.match(component.split('.')[0].rstrip(' ')):
                yield f'{name!r}: {component!r} is a device name'
        key = path.casefold()
        if key in seen:
            yield f'{name!r}: same file as {seen[key]!r} on Windows'
        seen[key] = name


def main():
    folder_length = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    with zipfile.ZipFile(sys.argv[1]) as archive:
        if archive.testzip() is not None:
            print('bad entry', archive.testzip())
            return 1
        names = archive.namelist()
    found = list(problems(names, folder_length))
    for problem in found:
        print(problem)
    if found:
        return 1
    print('ok')
    for name in names:
        print(name)
    return 0


if __name__ == '__main__':
    sys.exit(main())
