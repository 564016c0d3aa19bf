#!/usr/bin/env python3
"""Checks a ZIP's names against Windows' rules: prints each violation (exit 1), else "ok" and the
names. Usage: windows_zip_names.py ARCHIVE DESTINATION_FOLDER_LENGTH"""
import re, sys, unicodedata, zipfile

REFUSED = set('<>:"\\|?*') | {chr(c) for c in range(0x20)}
DEVICE = re.compile(r'(CON|PRN|AUX|NUL|COM[1-9¹²³]|LPT[1-9¹²³])$', re.IGNORECASE)

with zipfile.ZipFile(sys.argv[1]) as archive:
    assert archive.testzip() is None
    names = archive.namelist()
problems, seen = [], set()
for name in names:
    path = name.rstrip('/')
    # The destination folder, a separator and the terminating NUL count towards MAX_PATH (260).
    if int(sys.argv[2]) + len(path.encode('utf-16-le')) // 2 + 2 > 260:
        problems.append(f'{name}: path too long')
    if unicodedata.normalize('NFC', name) != name or path.casefold() in seen:
        problems.append(f'{name}: not NFC, or the same file as another on Windows')
    seen.add(path.casefold())
    for part in path.split('/'):
        if not part or REFUSED & set(part) or part[-1] in '. ' or \
                DEVICE.match(part.split('.')[0].rstrip(' ')):
            problems.append(f'{name}: {part!r} is refused')
print('\n'.join(problems or ['ok'] + names))
sys.exit(1 if problems else 0)
