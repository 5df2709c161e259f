"""Packages come from the configuration of the machine that fetches them:
tests/tools/innosetup/fetch.py asks for the registry where npm would look, and
scripts/lane32/host_sources.py gives the lane's image build this host's apt
sources, narrowed to what the image needs."""
import importlib.util
import os
import subprocess
import sys

import pytest

from conftest import REPO

FETCH = REPO / "tests" / "tools" / "innosetup" / "fetch.py"
HOST_SOURCES = REPO / "scripts" / "lane32" / "host_sources.py"


def load_fetch():
    spec = importlib.util.spec_from_file_location("innosetup_fetch", FETCH)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


fetch = load_fetch()


@pytest.fixture
def machine(tmp_path, monkeypatch):
    """A machine with no npm setting anywhere: an empty home, no npm or node on
    PATH, and a global npmrc that does not exist yet."""
    for key in list(os.environ):
        if key.lower().startswith("npm_config_") or key == "PREFIX":
            monkeypatch.delenv(key)
    (tmp_path / "home").mkdir()
    (tmp_path / "bin").mkdir()
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    monkeypatch.setenv("PATH", str(tmp_path / "bin"))
    monkeypatch.setenv("npm_config_globalconfig", str(tmp_path / "global-npmrc"))
    return tmp_path


def install_npm(machine, answer):
    npm = machine / "bin" / "npm"
    npm.write_text(f'#!/bin/sh\n[ "$*" = "config get registry" ] && echo {answer}\n')
    npm.chmod(0o755)


def configure_everything(machine):
    (machine / "home" / ".npmrc").write_text("fund=false\nregistry=http://user.example/npm/\n")
    (machine / "global-npmrc").write_text("registry=http://global.example/npm/\n")
    install_npm(machine, "http://npm.example/npm/")


def test_the_variable_comes_first_in_any_case(machine, monkeypatch):
    configure_everything(machine)
    monkeypatch.setenv("NPM_CONFIG_REGISTRY", "http://variable.example/npm/")
    assert fetch.registry() == ("http://variable.example/npm/", "npm_config_registry")


def test_the_user_npmrc_comes_before_the_global_one(machine, monkeypatch):
    configure_everything(machine)
    # Quoted, with a variable in it, and set twice: npm takes the last one.
    (machine / "home" / ".npmrc").write_text(
        "registry=http://earlier.example/npm/\n; a comment\nregistry = \"${MIRROR_BASE}/npm/\"\n")
    monkeypatch.setenv("MIRROR_BASE", "http://user.example")
    assert fetch.registry() == ("http://user.example/npm/", str(machine / "home" / ".npmrc"))


def test_the_global_npmrc_comes_before_npm(machine):
    configure_everything(machine)
    (machine / "home" / ".npmrc").unlink()
    assert fetch.registry() == ("http://global.example/npm/", str(machine / "global-npmrc"))


def test_npm_answers_last(machine):
    install_npm(machine, "http://npm.example/npm/")
    assert fetch.registry() == ("http://npm.example/npm/", "npm config get registry")


def test_the_global_npmrc_is_looked_for_where_npm_keeps_it(machine, monkeypatch):
    monkeypatch.delenv("npm_config_globalconfig")
    node = machine / "node-prefix" / "bin" / "node"
    node.parent.mkdir(parents=True)
    node.write_text("#!/bin/sh\n")
    node.chmod(0o755)
    monkeypatch.setenv("PATH", f"{machine / 'bin'}:{node.parent}")
    user = machine / "own.npmrc"
    monkeypatch.setenv("npm_config_userconfig", str(user))
    assert [str(path) for path in fetch.npmrc_files()] == [
        str(user), "/etc/npmrc", str(machine / "node-prefix" / "etc" / "npmrc")]


def test_without_a_registry_nothing_is_fetched_and_the_message_says_what_to_set(machine):
    with pytest.raises(SystemExit) as stop:
        fetch.registry()
    message = str(stop.value.code)
    assert "set npm_config_registry" in message and "registry= in ~/.npmrc" in message
    assert str(machine / "global-npmrc") in message and "npm (not installed)" in message


def host_sources(tmp_path, *suites):
    return subprocess.run([sys.executable, str(HOST_SOURCES), str(tmp_path / "sources.list"),
                           str(tmp_path / "sources.list.d"), "main", *suites],
                          capture_output=True, text=True)


def test_host_sources_keep_the_image_suites_of_main_with_their_options(tmp_path):
    (tmp_path / "sources.list").write_text(
        "# deb http://commented.example/debian bookworm main\n"
        "deb [ arch=amd64,i386 signed-by=/keys/archive.gpg ] http://mirror.example/debian bookworm main contrib\n"
        "deb-src http://mirror.example/debian bookworm main\n"
        "deb http://mirror.example/debian bookworm contrib\n")
    parts = tmp_path / "sources.list.d"
    parts.mkdir()
    (parts / "archive.sources").write_text(
        "Types: deb-src deb\n"
        "URIs: http://proxy.example:3142/debian\n"
        "Suites: bookworm-security bookworm-updates bookworm\n"
        "Components: non-free main\n"
        "Signed-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n mQINBGPL\n -----END PGP PUBLIC KEY BLOCK-----\n"
        "\n"
        "# switched off\n"
        "Types: deb\nURIs: http://off.example/debian\nSuites: bookworm\nComponents: main\nEnabled: no\n")
    (parts / "security.sources").write_text(
        "Types: deb\nURIs: http://security.example/debian-security\nSuites: bookworm-security\nComponents: main\n")
    (parts / "old.list.disabled").write_text("deb http://disabled.example/debian bookworm main\n")
    result = host_sources(tmp_path, "bookworm", "bookworm-updates")
    assert result.returncode == 0, result.stderr
    assert result.stdout == (
        f"# {tmp_path / 'sources.list'}:2\n"
        "Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm\nComponents: main\n"
        "Architectures: amd64 i386\nSigned-By: /keys/archive.gpg\n"
        "\n"
        f"# {parts / 'archive.sources'}:1\n"
        "Types: deb\nURIs: http://proxy.example:3142/debian\nSuites: bookworm bookworm-updates\nComponents: main\n"
        "Signed-By:\n -----BEGIN PGP PUBLIC KEY BLOCK-----\n .\n mQINBGPL\n -----END PGP PUBLIC KEY BLOCK-----\n")


def test_host_sources_without_the_image_suite_stop_and_say_where_they_looked(tmp_path):
    (tmp_path / "sources.list.d").mkdir()
    (tmp_path / "sources.list.d" / "security.sources").write_text(
        "Types: deb\nURIs: http://security.example/debian-security\nSuites: bookworm-security\nComponents: main\n")
    result = host_sources(tmp_path, "bookworm", "bookworm-updates")
    assert result.returncode == 1 and result.stdout == ""
    assert "no apt source of this host carries bookworm main" in result.stderr
    assert f"{tmp_path / 'sources.list'} and in {tmp_path / 'sources.list.d'}/*.list and *.sources" in result.stderr
