#!/usr/bin/python3
"""The version resource of a Windows DLL, read with pefile (Debian's
python3-pefile), and the check that it names the version and the file.

As a program it prints the resource of the DLL named; with --expect-version
it checks the resource too and exits 1, naming each field that is wrong:

    tests/release/version_resource.py build/windows-x86/bin/X.dll --expect-version 18.0.0
"""
import argparse
import os
import sys

import pefile


def read_version_resource(data):
    """Returns {'fixed_file', 'fixed_product': 4-tuples or None,
    'translations': ['040904b0', ...], 'tables': {'040904b0': {key: text}}}."""
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    info = {"fixed_file": None, "fixed_product": None, "translations": [], "tables": {}}
    for fixed in getattr(pe, "VS_FIXEDFILEINFO", [])[:1]:
        info["fixed_file"] = _words(fixed.FileVersionMS, fixed.FileVersionLS)
        info["fixed_product"] = _words(fixed.ProductVersionMS, fixed.ProductVersionLS)
    for file_info in getattr(pe, "FileInfo", []):
        for entry in file_info:
            for table in getattr(entry, "StringTable", []):
                info["tables"][table.LangID.decode().lower()] = {
                    key.decode(): value.decode() for key, value in table.entries.items()}
            for var in getattr(entry, "Var", []):
                translation = var.entry.get(b"Translation")
                if translation:
                    # "0x0409 0x04b0": language and code page, as a block names them.
                    language, code_page = translation.split()
                    info["translations"].append(
                        "%04x%04x" % (int(language, 16), int(code_page, 16)))
    return info


def _words(high, low):
    return (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def version_resource_problems(info, version, file_name):
    """What is wrong with the resource of file_name for the version 'x.y.z'."""
    problems = []
    numbers = tuple(int(n) for n in version.split(".")) + (0,)
    for key in ("fixed_file", "fixed_product"):
        if info[key] != numbers:
            problems.append("%s version %s, expected %s" % (key, info[key], numbers))
    if len(info["tables"]) != 1:
        problems.append("%d string tables, expected one" % len(info["tables"]))
        return problems
    (block, strings), = info["tables"].items()
    # Windows finds the texts through the translation table.
    if block not in info["translations"]:
        problems.append("string table %s is not in the translations %s"
                        % (block, info["translations"]))
    expected = {
        "FileVersion": version,
        "ProductVersion": version,
        "OriginalFilename": file_name,
        "InternalName": os.path.splitext(file_name)[0],
    }
    for key, value in expected.items():
        if strings.get(key) != value:
            problems.append("%s is %r, expected %r" % (key, strings.get(key), value))
    for key in ("ProductName", "FileDescription"):
        if not strings.get(key):
            problems.append("%s is empty" % key)
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dll")
    parser.add_argument("--expect-version")
    args = parser.parse_args()
    with open(args.dll, "rb") as dll:
        info = read_version_resource(dll.read())
    print("%s: file version %s, product version %s" % (
        args.dll, info["fixed_file"], info["fixed_product"]))
    for block, strings in info["tables"].items():
        for key, value in sorted(strings.items()):
            print("  %s %s: %s" % (block, key, value))
    if args.expect_version:
        problems = version_resource_problems(
            info, args.expect_version, os.path.basename(args.dll))
        for problem in problems:
            print("version_resource: %s: %s" % (args.dll, problem), file=sys.stderr)
        return 1 if problems else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
