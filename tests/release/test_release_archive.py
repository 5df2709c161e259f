"""scripts/release.sh: the archive that users download. Each release is made
from a clean clone of a repository whose one commit holds this tree's files,
so uncommitted work is tested as it would be released."""
import hashlib
import os
import re
import shutil
import subprocess
import time
import zipfile
from pathlib import Path

import pefile
import pytest

import test_executable as executable_checks
from code_signing import make_throwaway_certificate, verify
from conftest import REPO

COMMIT_TIME = 1700000000  # 2023-11-14 22:13:20 UTC
DOCUMENTS = {"README.md", "CONTRIBUTING.md", "LICENSE", "THIRD-PARTY-NOTICES.txt", "CHANGELOG.md"}
PROGRAMS = {"launcher.exe", "sample_caller.exe"}


def project_version():
    text = (REPO / "CMakeLists.txt").read_text()
    return re.search(r"^project\(launcher VERSION (\d+\.\d+\.\d+)[ )]", text, re.M).group(1)


VERSION = project_version()
ARCHIVE = f"launcher-{VERSION}-win32.zip"
TOP = f"launcher-{VERSION}/"


def git(*args, cwd):
    env = dict(os.environ, GIT_AUTHOR_NAME="release check", GIT_AUTHOR_EMAIL="release@check.invalid",
               GIT_COMMITTER_NAME="release check", GIT_COMMITTER_EMAIL="release@check.invalid",
               GIT_AUTHOR_DATE=f"@{COMMIT_TIME} +0000", GIT_COMMITTER_DATE=f"@{COMMIT_TIME} +0000")
    return subprocess.run(["git", *map(str, args)], cwd=cwd, env=env, check=True,
                          capture_output=True, stdin=subprocess.DEVNULL).stdout


@pytest.fixture(scope="module")
def source_repository(tmp_path_factory):
    """One commit of the files a commit of everything in this tree would hold."""
    repository = tmp_path_factory.mktemp("source") / "launcher"
    names = git("ls-files", "-z", "--cached", "--others", "--exclude-standard", cwd=REPO)
    for name in filter(None, names.decode().split("\0")):
        source, target = REPO / name, repository / name
        if source.exists() or source.is_symlink():
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, target, follow_symlinks=False)
    git("init", "-q", cwd=repository)
    git("add", "-A", cwd=repository)
    git("commit", "-q", "-m", "release check", cwd=repository)
    return repository


def clone(source, target):
    git("clone", "-q", source, target, cwd=source.parent)
    return target


def release(clone_dir, *args):
    started = time.monotonic()
    result = subprocess.run(["sh", str(clone_dir / "scripts" / "release.sh"), *map(str, args)],
                            cwd=clone_dir, capture_output=True, text=True,
                            stdin=subprocess.DEVNULL, timeout=900)
    print(f"release.sh {' '.join(map(str, args))}: exit {result.returncode} "
          f"after {time.monotonic() - started:.0f} s")
    return result


def made(result, folder):
    assert result.returncode == 0, result.stdout + result.stderr
    return folder


@pytest.fixture(scope="module")
def unsigned(source_repository, tmp_path_factory):
    """An unsigned release, in the default folder of its clone."""
    clone_dir = clone(source_repository, tmp_path_factory.mktemp("a") / "launcher")
    return made(release(clone_dir), clone_dir / "dist" / "release")


@pytest.fixture(scope="module")
def second_clone(source_repository, tmp_path_factory):
    return clone(source_repository, tmp_path_factory.mktemp("b-elsewhere") / "another-clone")


@pytest.fixture(scope="module")
def second_unsigned(second_clone, tmp_path_factory):
    out = tmp_path_factory.mktemp("b-out")
    return made(release(second_clone, "--out", out), out)


@pytest.fixture(scope="module")
def certificate(tmp_path_factory):
    return make_throwaway_certificate(tmp_path_factory.mktemp("certificate"))


@pytest.fixture(scope="module")
def signed(second_clone, unsigned, certificate, tmp_path_factory):
    """A signed release that replaces an unsigned one of the same version."""
    out = tmp_path_factory.mktemp("signed-out")
    shutil.copy2(unsigned / ARCHIVE, out / ARCHIVE)
    return made(release(second_clone, "--pfx", certificate.pfx, "--pass-file",
                        certificate.pass_file, "--force", "--out", out), out)


def entries(folder):
    with zipfile.ZipFile(folder / ARCHIVE) as archive:
        return {info.filename: (info, archive.read(info)) for info in archive.infolist()}


def sha256sum_check(folder):
    result = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=folder,
                            capture_output=True, text=True, stdin=subprocess.DEVNULL)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout.splitlines()


def version_block(executable):
    pe = pefile.PE(data=executable)
    try:
        strings = {}
        for file_info in pe.FileInfo:
            for info in file_info:
                for table in getattr(info, "StringTable", []):
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        fixed = pe.VS_FIXEDFILEINFO[0]
        numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                   fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF,
                   fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
                   fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF]
        return strings, numbers, executable_checks.manifest_xml(pe)
    finally:
        pe.close()


def test_checksums_hold_beside_and_inside(unsigned, tmp_path):
    assert sha256sum_check(unsigned) == [f"{ARCHIVE}: OK"]
    with zipfile.ZipFile(unsigned / ARCHIVE) as archive:
        archive.extractall(tmp_path)
    checked = sha256sum_check(tmp_path / TOP)
    assert len(checked) == len(entries(unsigned)) - 1  # every file but SHA256SUMS itself


def test_holds_what_ships_and_nothing_else(unsigned, dist):
    """The programs and samples of the product's install set in dist/, and
    the user documents of the source tree, as they are there."""
    shipped = {name: dist / name for name in PROGRAMS}
    shipped.update({p.relative_to(dist).as_posix(): p for p in (dist / "samples").rglob("*")
                    if p.is_file()})
    shipped.update({name: REPO / name for name in DOCUMENTS})
    shipped.update({p.relative_to(REPO).as_posix(): p for p in (REPO / "docs").rglob("*")
                    if p.is_file()})
    archived = entries(unsigned)
    assert all(name.startswith(TOP) for name in archived)
    assert sorted(n[len(TOP):] for n in archived) == sorted([*shipped, "SHA256SUMS"])
    for name, path in shipped.items():
        assert archived[TOP + name][1] == path.read_bytes(), name


def test_version_agrees_everywhere(unsigned):
    newest = re.search(r"^## \[([^\]]+)\]", (REPO / "CHANGELOG.md").read_text(), re.M).group(1)
    assert newest == VERSION
    assert sorted(p.name for p in unsigned.iterdir()) == ["SHA256SUMS", ARCHIVE]
    strings, numbers, manifest = version_block(entries(unsigned)[TOP + "launcher.exe"][1])
    four_parts = f"{VERSION}.0"
    assert strings["FileVersion"] == strings["ProductVersion"] == four_parts
    assert numbers == [int(n) for n in four_parts.split(".")] * 2
    identity = re.search(r'<assemblyIdentity type="win32" name="Launcher.RunAs" version="([^"]+)"',
                         manifest)
    assert identity and identity.group(1) == four_parts


def test_two_clean_clones_give_the_same_archive(unsigned, second_unsigned):
    """Same commit, other folders and another time: the same bytes, entries in
    order, with the commit's time and fixed permissions."""
    assert (unsigned / ARCHIVE).read_bytes() == (second_unsigned / ARCHIVE).read_bytes()
    infos = [info for info, _ in entries(unsigned).values()]
    assert [i.filename for i in infos] == sorted(i.filename for i in infos)
    assert {i.date_time for i in infos} == {time.gmtime(COMMIT_TIME)[:6]}
    modes = {i.filename: i.external_attr >> 16 for i in infos}
    assert modes == {name: 0o100755 if name.endswith((".exe", ".dll")) else 0o100644 for name in modes}


def test_signed_archive_verifies_and_differs_only_by_the_signature(signed, unsigned, certificate,
                                                                   tmp_path):
    signed_entries, unsigned_entries = entries(signed), entries(unsigned)
    signed_launcher = tmp_path / "launcher.exe"
    signed_launcher.write_bytes(signed_entries[TOP + "launcher.exe"][1])
    verified = verify(signed_launcher, certificate)
    assert "Signature verification: ok" in verified.stdout, verified.stdout + verified.stderr
    stripped = tmp_path / "stripped.exe"
    subprocess.run(["osslsigncode", "remove-signature", "-in", signed_launcher, "-out", stripped],
                   check=True, capture_output=True, stdin=subprocess.DEVNULL)
    assert stripped.read_bytes() == unsigned_entries[TOP + "launcher.exe"][1]
    assert signed_entries.keys() == unsigned_entries.keys()
    changed = {name for name in signed_entries
               if signed_entries[name][1] != unsigned_entries[name][1]}
    assert changed == {TOP + "launcher.exe", TOP + "SHA256SUMS"}
    sums = signed_entries[TOP + "SHA256SUMS"][1].decode().splitlines()
    assert f"{hashlib.sha256(signed_launcher.read_bytes()).hexdigest()}  launcher.exe" in sums
    assert sha256sum_check(signed) == [f"{ARCHIVE}: OK"]


def commit_change(path, change):
    path.write_text(change(path.read_text()))
    git("commit", "-q", "-a", "-m", "change", cwd=path.parent)


REFUSALS = {
    "an archive of the version exists": (
        lambda c: (c / "dist" / "release").mkdir(parents=True)
        or (c / "dist" / "release" / ARCHIVE).write_bytes(b"earlier"),
        "exists: --force replaces it"),
    "uncommitted change": (
        lambda c: (c / "README.md").write_text("changed\n"), "not committed"),
    "changelog behind the version": (
        lambda c: commit_change(c / "CHANGELOG.md", lambda t: t.replace(f"## [{VERSION}]", "## [0.9.0]")),
        f"the newest heading of CHANGELOG.md is [0.9.0], the version is {VERSION}"),
    "build fails": (
        lambda c: commit_change(c / "CMakeLists.txt", lambda t: t + 'message(FATAL_ERROR "broken")\n'),
        "the build failed"),
}


@pytest.mark.parametrize("case", REFUSALS)
def test_refuses_and_leaves_no_archive(case, source_repository, tmp_path):
    prepare, message = REFUSALS[case]
    clone_dir = clone(source_repository, tmp_path / "clone")
    prepare(clone_dir)
    before = {p: p.read_bytes() for p in (clone_dir / "dist").rglob("*") if p.is_file()}
    result = release(clone_dir)
    assert result.returncode == 1, result.stdout + result.stderr
    assert message in result.stderr
    after = {p: p.read_bytes() for p in (clone_dir / "dist").rglob("*") if p.is_file()}
    assert after == before
