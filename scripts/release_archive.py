#!/usr/bin/env python3
"""Writes the release archive from an installed product and its source tree.

    release_archive.py INSTALL_DIR SOURCE_DIR VERSION EPOCH OUTPUT

The archive holds, under the one folder launcher-VERSION/, the programs and
samples/ of the install set, the user documents of the source tree and a
SHA256SUMS of those files. The same inputs give the same bytes: entries are
sorted, carry the time EPOCH (seconds, UTC) and fixed permissions.
"""

import hashlib
import pathlib
import sys
import time
import zipfile

# What the archive takes from the install set: the programs at its top and
# every sample under samples/, whatever the samples are.
INSTALLED_PROGRAMS = ("launcher.exe", "sample_caller.exe")
INSTALLED_FOLDER = "samples"

# What it takes from the source tree for the user.
DOCUMENTS = ("README.md", "CONTRIBUTING.md", "LICENSE", "THIRD-PARTY-NOTICES.txt", "CHANGELOG.md")
DOCUMENT_FOLDER = "docs"

CHECKSUMS = "SHA256SUMS"
EXECUTABLE_SUFFIXES = (".exe", ".dll")


class ReleaseError(Exception):
    pass


def files_under(folder):
    return sorted(p for p in folder.rglob("*") if p.is_file())


def installed_files(install_dir):
    """{archive path: file} of the install set; anything the archive does not
    take is an error, so that nothing new ships, or is dropped, unnoticed."""
    chosen = {}
    for path in files_under(install_dir):
        relative = path.relative_to(install_dir)
        if relative.as_posix() in INSTALLED_PROGRAMS or relative.parts[0] == INSTALLED_FOLDER:
            chosen[relative.as_posix()] = path
        else:
            raise ReleaseError(f"the install set holds {relative.as_posix()}, "
                               "which the release archive does not take")
    missing = [name for name in INSTALLED_PROGRAMS if name not in chosen]
    if missing:
        raise ReleaseError(f"the install set lacks {', '.join(missing)}")
    return chosen


def document_files(source_dir):
    chosen = {}
    for name in DOCUMENTS:
        path = source_dir / name
        if not path.is_file():
            raise ReleaseError(f"{name} is missing from the source tree")
        chosen[name] = path
    for path in files_under(source_dir / DOCUMENT_FOLDER):
        chosen[path.relative_to(source_dir).as_posix()] = path
    return chosen


def checksums(contents):
    """The sha256sum format, one line per file, sorted by path."""
    return "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                   for name, data in sorted(contents.items())).encode()


def zip_entry(name, epoch):
    # The zip format cannot hold times before 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    entry = zipfile.ZipInfo(name, date_time=stamp)
    entry.compress_type = zipfile.ZIP_DEFLATED
    entry.create_system = 3  # Unix, so that the permissions below are read
    mode = 0o755 if name.lower().endswith(EXECUTABLE_SUFFIXES) else 0o644
    entry.external_attr = (0o100000 | mode) << 16
    return entry


def write_archive(install_dir, source_dir, version, epoch, output):
    files = {**installed_files(install_dir), **document_files(source_dir)}
    contents = {name: path.read_bytes() for name, path in files.items()}
    contents[CHECKSUMS] = checksums(contents)
    top = f"launcher-{version}/"
    with zipfile.ZipFile(output, "x") as archive:
        for name in sorted(contents):
            archive.writestr(zip_entry(top + name, epoch), contents[name], compresslevel=9)


def main(argv):
    if len(argv) != 6:
        print("usage: release_archive.py INSTALL_DIR SOURCE_DIR VERSION EPOCH OUTPUT",
              file=sys.stderr)
        return 2
    install_dir, source_dir, version, epoch, output = argv[1:]
    try:
        write_archive(pathlib.Path(install_dir), pathlib.Path(source_dir), version, int(epoch),
                      pathlib.Path(output))
    except ReleaseError as error:
        print(f"release: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
