"""No code that fetches anything names a host: packages come from the
configuration of the machine that fetches them (apt's for the lane's image,
npm's for Inno Setup's compiler), never from an address in the tree. So a URL
with a host anywhere in scripts/, tests/tools/, .ci/ or a CMake file, comments
included, fails, named by file and line. Documentation links, XML namespaces
and time-stamping servers belong in the documents, the manifests and the
samples, which this check does not read."""
import re
import subprocess

import pytest

from conftest import REPO

FOLDERS = ("scripts/", "tests/tools/", ".ci/")
CMAKE_FILE = re.compile(r"(^|/)(CMakeLists\.txt|CMakePresets\.json|[^/]+\.cmake)$")
# scheme://authority: the authority ends at the path or at what ends a word in code.
URL = re.compile(r"\b[A-Za-z][A-Za-z0-9+.-]*://((?:\[[0-9A-Fa-f:.]+\]|[^/\s\"'`<>()\[\]{}\\,;])*)")
# What names no host: an empty authority (file:///...), one that a variable fills
# in, and this machine itself.
NO_HOST = re.compile(r"(?:[^@]*@)?(?:[$%{].*|localhost|127(?:\.\d+){3}|\[::1\]|)(?::\d*)?")


def scanned_files():
    """The tree's files that the check reads, committed or not (a new file counts)."""
    names = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                           cwd=REPO, check=True, capture_output=True).stdout.decode().split("\0")
    return sorted(name for name in set(names)
                  if (name.startswith(FOLDERS) or CMAKE_FILE.search(name)) and (REPO / name).is_file())


def hosts_named(text):
    """(line number, URL) of each URL with a host in a text."""
    for number, line in enumerate(text.splitlines(), 1):
        for match in URL.finditer(line):
            if not NO_HOST.fullmatch(match.group(1)):
                yield number, match.group(0)


def test_the_check_reads_the_fetching_code():
    files = scanned_files()
    for expected in ("scripts/setup.sh", "scripts/lane32/image.sh", "tests/tools/innosetup/fetch.py",
                     ".ci/run", "CMakeLists.txt", "CMakePresets.json", "cmake/hardening.cmake"):
        assert expected in files


@pytest.mark.parametrize("line, found", [
    ('    "deb http://mirror.example.org/debian bookworm main" \\', "http://mirror.example.org"),
    ('DEFAULT = "https://registry.example.com:8443/"', "https://registry.example.com:8443"),
    ("  URL https://user@downloads.example.net/archive.tar.gz", "https://user@downloads.example.net"),
    ("# see git+ssh://git.example.org/project.git", "git+ssh://git.example.org"),
    ('url = f"{base}/{name}/-/{name}-{version}.tgz"', None),
    ('mirror="http://${MIRROR_HOST}/debian" file:///etc/apt/sources.list http://$host:80/', None),
    ("curl http://127.0.0.1:9/ http://localhost/ http://[::1]:8080/", None),
])
def test_a_url_with_a_host_is_found(line, found):
    assert [url for _, url in hosts_named(line)] == ([found] if found else [])


def test_no_code_names_a_host():
    named = [f"{name}:{number}: {url}" for name in scanned_files()
             for number, url in hosts_named((REPO / name).read_text(encoding="utf-8", errors="replace"))]
    assert not named, ("these name a host; take the address from the machine's configuration instead "
                       "(apt's sources and apt.conf.d, npm's settings):\n" + "\n".join(named))
