"""Test programs beyond the ones every scenario needs: the memory scanner, the
window crowd and the DLL-planting pieces, with helpers to drive them."""

import json
from dataclasses import dataclass
from pathlib import Path


from wine_driver import build_file

# The scanner's needles travel XORed with this byte, so that no command line
# (which the launcher keeps in its memory) holds a plain copy of a secret.
NEEDLE_MASK = 0x5A


@dataclass
class SupportPrograms:
    memory_scan: Path
    heap_leftover: Path
    guard_reader: Path
    window_crowd: Path
    netapi_importer: Path
    planted_netapi32: Path
    planted_credui: Path
    end_process: Path
    owner_window_helper: Path
    probe_requires_elevation: Path

    @classmethod
    def find(cls):
        found = cls(
            memory_scan=build_file("LAUNCHER_E2E_MEMORY_SCAN",
                                    "tests/support/memory_scan/memory_scan.exe"),
            heap_leftover=build_file("LAUNCHER_E2E_HEAP_LEFTOVER",
                                      "tests/support/memory_scan/heap_leftover.exe"),
            guard_reader=build_file("LAUNCHER_E2E_GUARD_READER",
                                     "tests/support/memory_scan/guard_reader.exe"),
            window_crowd=build_file("LAUNCHER_E2E_WINDOW_CROWD",
                                     "tests/support/window_crowd/window_crowd.exe"),
            netapi_importer=build_file("LAUNCHER_E2E_NETAPI_IMPORTER",
                                        "tests/support/planted_dlls/netapi_importer.exe"),
            planted_netapi32=build_file("LAUNCHER_E2E_PLANTED_NETAPI32",
                                         "tests/support/planted_dlls/planted/netapi32.dll"),
            planted_credui=build_file("LAUNCHER_E2E_PLANTED_CREDUI",
                                       "tests/support/planted_dlls/planted/credui.dll"),
            end_process=build_file("LAUNCHER_E2E_END_PROCESS",
                                   "tests/support/end_process/end_process.exe"),
            owner_window_helper=build_file("LAUNCHER_E2E_OWNER_WINDOW_HELPER",
                                           "tests/unit/credui/owner_window_helper.exe"),
            probe_requires_elevation=build_file(
                "LAUNCHER_E2E_PROBE_REQUIRES_ELEVATION",
                "tests/support/probe_child/probe_requires_elevation.exe"))
        for path in vars(found).values():
            assert path.is_file(), f"missing build output {path}"
        return found


def masked_needles(*texts):
    """The scanner's needle argument: UTF-16LE bytes XOR the mask, in hex."""
    for text in texts:
        assert text, "an empty needle matches everywhere"
    return ",".join(bytes(b ^ NEEDLE_MASK for b in text.encode("utf-16-le")).hex()
                    for text in texts)


def read_scans(path):
    """The scanner's reports, one dict per scan, in order."""
    path = Path(path)
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line]


def assert_scan_ran(scan, target=None):
    """The scan read the process's memory and searched a sensible amount of it."""
    assert scan["error"] is None, scan
    assert scan["regions"] > 10, scan
    # A Windows process maps megabytes of code and data; a scan that read
    # almost nothing has not really looked.
    assert scan["bytes"] > 4 * 1024 * 1024, scan
    if target is not None:
        assert scan["target"] == target, scan


def read_key_values(path):
    values = {}
    for line in Path(path).read_text(encoding="utf-8").splitlines():
        key, _, value = line.partition("=")
        values[key] = int(value)
    return values


def secret_needles(secret):
    """Needles that find any copy of `secret`, freed ones included: the heap
    writes its free-list links over the first 16 bytes of a released block, so
    a released copy keeps only its later characters."""
    assert len(secret) >= 12
    if len(secret) <= 40:
        return [secret, secret[8:], secret[-10:]]
    return [secret[:40], secret[8:48], secret[-40:]]
