#!/usr/bin/env python3
"""Every code block of a document that is marked <!-- excerpt: PATH --> must stand,
line for line, in the file PATH of the sources, so that what the document shows
is what the tests run.
    check_doc_excerpts.py SOURCE_DIR DOCUMENT..."""
import os
import re
import sys

EXCERPT = re.compile(r'<!-- excerpt: (\S+) -->\n```[a-z]*\n(.*?)```', re.S)


def main():
    source, documents = sys.argv[1], sys.argv[2:]
    failures = checked = 0
    for document in documents:
        with open(os.path.join(source, document), encoding='utf-8') as f:
            text = f.read()
        for path, block in EXCERPT.findall(text):
            checked += 1
            with open(os.path.join(source, path), encoding='utf-8') as f:
                lines = f.read()
            if '\n' + block not in '\n' + lines:
                failures += 1
                print(f'FAILED: {document} quotes {path}, which does not hold:\n{block}')
    if checked == 0:
        print('FAILED: no excerpts found')
        return 1
    print(f'{checked} excerpts checked, {failures} differ from their sources')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
