#!/usr/bin/python3
"""Checks the folder scripts/release.sh writes: the four bundles named with
the project's version and their target, SHA256SUMS over exactly them (checked
with sha256sum -c), each bundle's files against its expected listing
(tests/release/expected/) and against what its README lists, and the
version each plug-in library carries.

    tests/release/check_release.py [build/release]
"""
import json
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import zipfile

import pefile

from version_resource import read_version_resource, version_resource_problems

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
PLUGIN = "ktx-be-tav-personalized-offers"
EXPORT = "load_tav_personalized_offers"
TARGETS = {"windows-x86": ".zip", "linux-x86": ".tar.gz"}


def project_version():
    """The one place the version is defined: project(VERSION) in CMakeLists.txt."""
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as cmake:
        found = re.search(r"project\(\s*%s\s+VERSION\s+([0-9.]+)" % PLUGIN, cmake.read())
    return found.group(1)


class Bundle:
    """An archive's regular files by their path below its one top folder."""

    def __init__(self, path):
        self.path = path
        self.name = os.path.basename(path)
        self.top = re.sub(r"\.(zip|tar\.gz)$", "", self.name)
        self.files = {}  # path -> (bytes, executable)
        self.problems = []
        if path.endswith(".zip"):
            with zipfile.ZipFile(path) as archive:
                for item in archive.infolist():
                    if not item.is_dir():
                        self._add(item.filename, archive.read(item), item.external_attr >> 16)
        else:
            with tarfile.open(path) as archive:
                for item in archive.getmembers():
                    if item.isfile():
                        self._add(item.name, archive.extractfile(item).read(), item.mode)
                    elif not item.isdir():
                        self.problems.append("%s is neither a file nor a folder" % item.name)

    def _add(self, name, data, mode):
        top, _, below = name.partition("/")
        if top != self.top or not below:
            self.problems.append("%s is not inside the folder %s/" % (name, self.top))
            return
        self.files[below] = (data, bool(mode & 0o111))


def listing_pattern(line):
    """A listing line as a regular expression: '*' within one folder, '**/'
    across any number of folders."""
    parts = re.split(r"(\*\*/|\*)", line)
    return re.compile("".join(
        "(?:.*/)?" if part == "**/" else "[^/]*" if part == "*" else re.escape(part)
        for part in parts) + "$")


def check_listing(bundle, listing_name):
    with open(os.path.join(HERE, "expected", listing_name)) as listing:
        lines = [line.strip() for line in listing
                 if line.strip() and not line.startswith("#")]
    patterns = [(line, listing_pattern(line)) for line in lines]
    for line, pattern in patterns:
        if not any(pattern.match(name) for name in bundle.files):
            bundle.problems.append("holds nothing for %s (%s)" % (line, listing_name))
    for name in sorted(bundle.files):
        if not any(pattern.match(name) for _, pattern in patterns):
            bundle.problems.append("holds %s, which %s does not list" % (name, listing_name))


def check_readme(bundle):
    """Every entry the README lists (a line of two spaces and a path) is in
    the bundle, and every file is under an entry."""
    readme = bundle.files.get("README.txt")
    if readme is None:
        bundle.problems.append("has no README.txt")
        return
    entries = re.findall(r"^  (\S+)$", readme[0].decode(), re.MULTILINE)
    for entry in entries:
        if not any(name == entry or (entry.endswith("/") and name.startswith(entry))
                   for name in bundle.files):
            bundle.problems.append("README.txt lists %s, which it does not hold" % entry)
    for name in sorted(bundle.files):
        if not any(name == entry or (entry.endswith("/") and name.startswith(entry))
                   for entry in entries):
            bundle.problems.append("holds %s, which README.txt does not list" % name)


def check_dll(bundle, version):
    name = "bin/%s.dll" % PLUGIN
    if name not in bundle.files:
        return
    data = bundle.files[name][0]
    for problem in version_resource_problems(read_version_resource(data), version,
                                             os.path.basename(name)):
        bundle.problems.append("%s: %s" % (name, problem))
    pe = pefile.PE(data=data, fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
    exports = [symbol.name.decode() for symbol in pe.DIRECTORY_ENTRY_EXPORT.symbols]
    if exports != [EXPORT]:
        bundle.problems.append("%s exports %s, expected only %s" % (name, exports, EXPORT))


def check_shared_object(bundle, version):
    name = "lib/%s.so" % PLUGIN
    if name not in bundle.files:
        return
    with tempfile.NamedTemporaryFile(suffix=".so") as copy:
        copy.write(bundle.files[name][0])
        copy.flush()
        notes = subprocess.run(["readelf", "-n", copy.name], capture_output=True, text=True,
                               check=True).stdout
    found = re.search(r"Packaging Metadata: (\{.*\})", notes)
    metadata = json.loads(found.group(1)) if found else {}
    expected = {"type": "ktx-plugin", "name": PLUGIN, "version": version}
    if metadata != expected:
        bundle.problems.append("%s carries %s, expected %s" % (name, metadata, expected))
    for program in ("bin/ktx-host",):
        if program in bundle.files and not bundle.files[program][1]:
            bundle.problems.append("%s is not executable" % program)


def check_checksums(folder, names):
    problems = []
    sums = os.path.join(folder, "SHA256SUMS")
    if not os.path.exists(sums):
        return ["no SHA256SUMS"]
    with open(sums) as listing:
        listed = sorted(line.split(None, 1)[1].lstrip("*").strip() for line in listing)
    if listed != sorted(names):
        problems.append("SHA256SUMS lists %s, expected %s" % (listed, sorted(names)))
    checked = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=folder,
                             capture_output=True, text=True)
    if checked.returncode != 0:
        problems.append("sha256sum -c SHA256SUMS: " + (checked.stdout + checked.stderr).strip())
    return problems


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(SOURCE, "build", "release")
    version = project_version()
    problems = []
    names = []
    for target, extension in TARGETS.items():
        system = target.split("-")[0]
        for kind, stem in (("plugin", PLUGIN), ("sdk", "ktx-plugin-sdk")):
            name = "%s-%s-%s%s" % (stem, version, target, extension)
            names.append(name)
            path = os.path.join(folder, name)
            if not os.path.exists(path):
                problems.append("%s: missing" % name)
                continue
            bundle = Bundle(path)
            check_listing(bundle, "%s-%s.txt" % (kind, system))
            check_readme(bundle)
            check_dll(bundle, version)
            check_shared_object(bundle, version)
            problems += ["%s: %s" % (name, problem) for problem in bundle.problems]
            print("%s: %d files" % (name, len(bundle.files)))
    problems += check_checksums(folder, names)
    sys.stdout.flush()
    for problem in problems:
        print("check_release: " + problem, file=sys.stderr)
    sys.stderr.flush()
    print("release %s in %s: %d bundles, %s" % (
        version, folder, len(names), "%d problems" % len(problems) if problems else "all checks passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
