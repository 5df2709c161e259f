"""Checks of the shipped dist/launcher.exe itself."""
import re
import xml.etree.ElementTree as ET

import pefile

# DLLs that Windows loads only from system32 (KnownDLLs), so that none can be
# planted beside the executable.
ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "shell32.dll", "advapi32.dll", "ole32.dll",
                   "msvcrt.dll", "gdi32.dll", "comdlg32.dll", "shlwapi.dll", "oleaut32.dll"}

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10
}


def resource_entries(pe, type_id):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id == type_id:
            for name in entry.directory.entries:
                for lang in name.directory.entries:
                    yield name.id, lang.data.struct


def manifest_xml(pe):
    manifests = list(resource_entries(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"]))
    assert len(manifests) == 1, "exactly one manifest"
    resource_id, data = manifests[0]
    assert resource_id == 1, "the application manifest has id 1"
    return pe.get_data(data.OffsetToData, data.Size).decode("utf-8")


def test_is_a_32_bit_gui_executable(launcher_pe):
    assert launcher_pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
    assert launcher_pe.OPTIONAL_HEADER.Magic == 0x10B  # PE32
    assert launcher_pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]


def test_has_aslr_and_dep(launcher_pe):
    characteristics = launcher_pe.OPTIONAL_HEADER.DllCharacteristics
    assert characteristics & 0x0040, "DYNAMIC_BASE"
    assert characteristics & 0x0100, "NX_COMPAT"
    assert launcher_pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size > 0, "relocations kept for ASLR"


def test_imports_only_known_system_dlls(launcher_pe):
    imported = {entry.dll.decode().lower() for entry in launcher_pe.DIRECTORY_ENTRY_IMPORT}
    assert imported <= ALLOWED_IMPORTS, imported - ALLOWED_IMPORTS
    assert "netapi32.dll" not in imported
    assert "credui.dll" not in imported


def test_manifest_says_what_the_launcher_needs(launcher_pe):
    text = manifest_xml(launcher_pe)
    root = ET.fromstring(text)
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
          "c": "urn:schemas-microsoft-com:compatibility.v1"}
    level = root.find(".//v3:requestedExecutionLevel", ns)
    assert level is not None
    assert level.get("level") == "asInvoker"
    assert level.get("uiAccess") == "false"
    deps = [d.attrib for d in root.findall(".//v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns)]
    assert any(d.get("name") == "Microsoft.Windows.Common-Controls" and d.get("version") == "6.0.0.0"
               for d in deps), deps
    ids = {os.get("Id").lower() for os in root.findall(".//c:supportedOS", ns)}
    assert ids == SUPPORTED_OS


def test_manifest_declares_dpi_awareness(launcher_pe):
    root = ET.fromstring(manifest_xml(launcher_pe))
    settings = "{urn:schemas-microsoft-com:asm.v3}application/{urn:schemas-microsoft-com:asm.v3}windowsSettings/"
    aware = root.find(settings + "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")
    awareness = root.find(settings + "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness")
    assert aware is not None and aware.text == "true/pm"
    assert awareness is not None and awareness.text == "PerMonitorV2, PerMonitor"


def test_has_icon_and_version_block(launcher_pe):
    assert list(resource_entries(launcher_pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"]))
    assert list(resource_entries(launcher_pe, pefile.RESOURCE_TYPE["RT_ICON"]))
    strings = {}
    for file_info in launcher_pe.FileInfo:
        for info in file_info:
            if getattr(info, "Key", b"") == b"StringFileInfo":
                for table in info.StringTable:
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key in ("FileVersion", "ProductVersion", "FileDescription", "ProductName", "OriginalFilename"):
        assert strings.get(key), key
    assert strings["OriginalFilename"] == "launcher.exe"
    fixed = launcher_pe.VS_FIXEDFILEINFO[0]
    assert fixed.FileVersionMS or fixed.FileVersionLS


def test_has_no_debug_information(launcher_pe):
    names = {s.Name.rstrip(b"\0").decode(errors="replace") for s in launcher_pe.sections}
    assert not any(n.startswith(".debug") or n.startswith("/") for n in names), names
    assert launcher_pe.OPTIONAL_HEADER.DATA_DIRECTORY[6].Size == 0, "no debug directory"


def test_carries_no_link_timestamp_or_build_path(launcher_pe, dist):
    assert launcher_pe.FILE_HEADER.TimeDateStamp == 0
    data = (dist / "launcher.exe").read_bytes()
    for marker in (b"/work/", b"/home/", b"/tmp/", b"/build/"):
        assert marker not in data, marker
    assert not re.search(rb"[A-Za-z]:\\\\Users\\\\", data)
