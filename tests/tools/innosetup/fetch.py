#!/usr/bin/env python3
"""Unpacks the npm packages that package-lock.json pins into DIR/node_modules,
without Node.js or npm: each package's archive is downloaded from the npm
registry and must match the lock file's integrity hash before anything of it
is written. DIR receives a copy of the lock file last, so that its presence
says the packages are complete.

    fetch.py DIR
"""

import base64
import hashlib
import io
import json
import os
import re
import shutil
import sys
import tarfile
import urllib.request
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_REGISTRY = "https://registry.npmjs.org/"


def registry():
    """The registry that npm would use: npm_config_registry, else ~/.npmrc, else npm's default."""
    if os.environ.get("npm_config_registry"):
        return os.environ["npm_config_registry"]
    npmrc = Path.home() / ".npmrc"
    if npmrc.is_file():
        for line in npmrc.read_text(encoding="utf-8").splitlines():
            match = re.fullmatch(r"\s*registry\s*=\s*(\S+)\s*", line)
            if match:
                return match.group(1)
    return DEFAULT_REGISTRY


def locked_packages(lock):
    for key, entry in lock["packages"].items():
        if not key:
            continue
        name = key.rpartition("node_modules/")[2]
        yield name, entry["version"], entry["integrity"]


def download(name, version, integrity, base):
    url = f"{base.rstrip('/')}/{name}/-/{name.rpartition('/')[2]}-{version}.tgz"
    algorithm, _, expected = integrity.partition("-")
    with urllib.request.urlopen(url, timeout=120) as response:
        data = response.read()
    actual = base64.b64encode(hashlib.new(algorithm, data).digest()).decode()
    if actual != expected:
        sys.exit(f"{url}: {algorithm} {actual} does not match the lock file's {expected}")
    return data


def unpack(data, target):
    """Regular files and folders only, each under the archive's package/ folder."""
    with tarfile.open(fileobj=io.BytesIO(data), mode="r:gz") as archive:
        for member in archive.getmembers():
            parts = Path(member.name).parts
            if not parts or parts[0] != "package" or ".." in parts or Path(member.name).is_absolute():
                sys.exit(f"unexpected entry in the package: {member.name}")
            destination = target.joinpath(*parts[1:])
            if member.isdir():
                destination.mkdir(parents=True, exist_ok=True)
            elif member.isfile():
                destination.parent.mkdir(parents=True, exist_ok=True)
                destination.write_bytes(archive.extractfile(member).read())
                destination.chmod(0o755 if member.mode & 0o111 else 0o644)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = Path(sys.argv[1])
    lock_file = HERE / "package-lock.json"
    lock = json.loads(lock_file.read_text(encoding="utf-8"))
    shutil.rmtree(out, ignore_errors=True)
    base = registry()
    for name, version, integrity in locked_packages(lock):
        unpack(download(name, version, integrity, base), out / "node_modules" / name)
        print(f"fetched {name} {version} from {base}")
    shutil.copyfile(lock_file, out / "package-lock.json")


if __name__ == "__main__":
    main()
