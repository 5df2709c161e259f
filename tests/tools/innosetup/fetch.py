#!/usr/bin/env python3
"""Unpacks the npm packages that package-lock.json pins into DIR/node_modules,
without Node.js or npm: each package's archive is downloaded from the registry
npm would use on this machine and must match the lock file's integrity hash
before anything of it is written. DIR receives a copy of the lock file last, so
that its presence says the packages are complete.

    fetch.py DIR

The registry is the first of these that names one:
- the npm_config_registry variable, in any case (NPM_CONFIG_REGISTRY too);
- registry= in the user's npmrc (npm_config_userconfig, else ~/.npmrc), then in
  the global one (npm_config_globalconfig, else /etc/npmrc, where Debian's npm
  keeps it, and $PREFIX/etc/npmrc, PREFIX being the folder above node's);
- `npm config get registry`, where npm is installed.
When none does, nothing is fetched, and the message says what to set.
"""

import base64
import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import urllib.request
from pathlib import Path

HERE = Path(__file__).resolve().parent


def npm_variable(name):
    """An npm setting from the environment: npm_config_NAME in any case, as npm reads it."""
    for key, value in sorted(os.environ.items(), reverse=True):
        if key.lower() == f"npm_config_{name}" and value:
            return value
    return None


def npmrc_value(path, name):
    """NAME's last value in an npmrc file, unquoted and with ${VARIABLE}s replaced as
    npm does; None when the file or the setting is missing."""
    try:
        text = Path(path).read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError):
        return None
    value = None
    for line in text.splitlines():
        key, equals, raw = line.strip().partition("=")
        if not equals or key.strip() != name:
            continue
        raw = raw.strip()
        if len(raw) >= 2 and raw[0] == raw[-1] and raw[0] in "\"'":
            raw = raw[1:-1]
        else:
            raw = re.split(r"[;#]", raw, maxsplit=1)[0].strip()
        value = re.sub(r"\$\{([^${}]+)\}", lambda m: os.environ.get(m.group(1), m.group(0)), raw)
    return value or None


def npmrc_files():
    """The user's npmrc, then the global ones, where npm looks for them."""
    user = npm_variable("userconfig") or Path.home() / ".npmrc"
    if npm_variable("globalconfig"):
        return [user, npm_variable("globalconfig")]
    node = shutil.which("node")
    prefix = os.environ.get("PREFIX") or (Path(node).resolve().parent.parent if node else Path("/usr"))
    return [user, Path("/etc/npmrc"), Path(prefix) / "etc" / "npmrc"]


def npm_config_registry():
    """What `npm config get registry` prints, where npm is installed."""
    if not shutil.which("npm"):
        return None
    try:
        answer = subprocess.run(["npm", "config", "get", "registry"], cwd=HERE, capture_output=True,
                                text=True, timeout=120, stdin=subprocess.DEVNULL)
    except (OSError, subprocess.TimeoutExpired):
        return None
    value = answer.stdout.strip()
    return value if answer.returncode == 0 and value not in ("", "undefined", "null") else None


def registry():
    """(address, where it was found) of the registry npm would use here; when none
    is configured, an exit that says what to set."""
    value = npm_variable("registry")
    if value:
        return value, "npm_config_registry"
    files = npmrc_files()
    for path in files:
        value = npmrc_value(path, "registry")
        if value:
            return value, str(path)
    value = npm_config_registry()
    if value:
        return value, "npm config get registry"
    npm = "npm" if shutil.which("npm") else "npm (not installed)"
    sys.exit("fetch.py: no npm registry is configured on this machine: set npm_config_registry to its "
             f"address, or registry= in ~/.npmrc (looked at the environment, {', '.join(map(str, files))} "
             f"and {npm})")


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
    base, source = registry()
    shutil.rmtree(out, ignore_errors=True)
    for name, version, integrity in locked_packages(lock):
        unpack(download(name, version, integrity, base), out / "node_modules" / name)
        print(f"fetched {name} {version} from {base} (the registry named by {source})")
    shutil.copyfile(lock_file, out / "package-lock.json")


if __name__ == "__main__":
    main()
