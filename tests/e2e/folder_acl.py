"""The access list that an installer sample gives the folder it extracts the
launcher and the program into, checked at the call.

Wine keeps no access list: whatever security descriptor CreateDirectoryW is
given, Wine reads back one made from the Unix permission bits, and enforces
nothing. So the folder ACL recorder (tests/support/folder_acl_recorder, a
stand-in) is loaded into the installer before its own code runs, and into
the programs named to it, and records each CreateDirectoryW call with its
security descriptor as SDDL, and each CreateProcessW call. These checks read
those records.
"""

import re
from pathlib import Path

from records import read_json_lines
from wine_driver import build_file, windows_path

# SDDL's names of the accounts that matter here, as SIDs.
ALIASES = {
    "SY": "S-1-5-18",         # SYSTEM
    "BA": "S-1-5-32-544",     # Administrators
    "AU": "S-1-5-11",         # Authenticated Users
    "OW": "S-1-3-4",          # OWNER RIGHTS: the object's owner
    "CO": "S-1-3-0",          # CREATOR OWNER
    "WD": "S-1-1-0",          # Everyone
    "BU": "S-1-5-32-545",     # Users
    "IU": "S-1-5-4",          # Interactive
}
SYSTEM, ADMINISTRATORS, AUTHENTICATED_USERS, OWNER_RIGHTS = (
    ALIASES["SY"], ALIASES["BA"], ALIASES["AU"], ALIASES["OW"])

# File access rights (winnt.h) and SDDL's names for them.
FILE_READ_DATA, FILE_WRITE_DATA, FILE_APPEND_DATA = 0x1, 0x2, 0x4
FILE_WRITE_EA, FILE_DELETE_CHILD, FILE_WRITE_ATTRIBUTES = 0x10, 0x40, 0x100
DELETE, WRITE_DAC, WRITE_OWNER = 0x10000, 0x40000, 0x80000
FILE_GENERIC_READ, FILE_GENERIC_WRITE = 0x120089, 0x120116
FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS = 0x1200A0, 0x1F01FF
READ_AND_EXECUTE = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE  # 0x1200a9
# Any of these lets an account change, add, remove or take over a file.
WRITING = (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
           FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER)
RIGHTS = {
    "FA": FILE_ALL_ACCESS, "FR": FILE_GENERIC_READ, "FW": FILE_GENERIC_WRITE,
    "FX": FILE_GENERIC_EXECUTE,
    # Generic rights, as a file's generic mapping turns them into file rights.
    "GA": FILE_ALL_ACCESS, "GR": FILE_GENERIC_READ, "GW": FILE_GENERIC_WRITE,
    "GX": FILE_GENERIC_EXECUTE,
    "SD": DELETE, "RC": 0x20000, "WD": WRITE_DAC, "WO": WRITE_OWNER,
    "CC": 0x1, "DC": 0x2, "LC": 0x4, "SW": 0x8, "RP": 0x10, "WP": 0x20, "DT": 0x40,
    "LO": 0x80, "CR": 0x100,
}
GENERIC_BITS = {0x10000000: FILE_ALL_ACCESS, 0x80000000: FILE_GENERIC_READ,
                0x40000000: FILE_GENERIC_WRITE, 0x20000000: FILE_GENERIC_EXECUTE}


def rights(text):
    """An ACE's rights, as file rights."""
    if text.lower().startswith("0x"):
        mask = int(text, 16)
    else:
        assert len(text) % 2 == 0, text
        mask = 0
        for i in range(0, len(text), 2):
            mask |= RIGHTS[text[i:i + 2]]
    for bit, mapped in GENERIC_BITS.items():
        if mask & bit:
            mask = (mask & ~bit) | mapped
    return mask


def parse_dacl(sddl):
    """The access list of an SDDL text: its flags and its entries, each a
    dict with type, flags (a set of two-letter names), mask and sid."""
    match = re.search(r"D:((?:P|AI|AR|NO_ACCESS_CONTROL)*)((?:\([^)]*\))*)", sddl)
    assert match, f"no access list in {sddl!r}"
    flags = set(re.findall(r"P|AI|AR|NO_ACCESS_CONTROL", match.group(1)))
    entries = []
    for ace in re.findall(r"\(([^)]*)\)", match.group(2)):
        ace_type, ace_flags, mask, _, _, sid = ace.split(";")[:6]
        entries.append({
            "type": ace_type,
            "flags": {ace_flags[i:i + 2] for i in range(0, len(ace_flags), 2)},
            "mask": rights(mask),
            "sid": ALIASES.get(sid, sid),
        })
    return flags, entries


def assert_readable_by_other_accounts(sddl, user_sid):
    """The access list lets every account that has logged on read and run the
    files made in the folder, and lets nobody but SYSTEM, Administrators and
    the invoking user (the owner, or `user_sid` by name) write there."""
    assert sddl, "the folder was made without a security descriptor"
    flags, entries = parse_dacl(sddl)
    # Protected: nothing of the temporary folder's list is passed on.
    assert "P" in flags, sddl
    # Allowing entries only: a denial could shut the other account out.
    assert {entry["type"] for entry in entries} == {"A"}, sddl
    writers = {SYSTEM, ADMINISTRATORS, OWNER_RIGHTS, user_sid}
    for entry in entries:
        if entry["mask"] & WRITING:
            assert entry["sid"] in writers, f"{entry['sid']} may write: {sddl}"
    authenticated = [entry for entry in entries if entry["sid"] == AUTHENTICATED_USERS]
    assert authenticated, f"Authenticated Users get nothing: {sddl}"
    granted = 0
    for entry in authenticated:
        # Passed on to the files made in the folder, and in force on them.
        assert "OI" in entry["flags"] and "NP" not in entry["flags"], sddl
        granted |= entry["mask"]
    assert granted == READ_AND_EXECUTE, f"Authenticated Users get {granted:#x}: {sddl}"
    # The invoking user can still write the files into the folder.
    assert any(entry["sid"] in (OWNER_RIGHTS, user_sid) and
               entry["mask"] & FILE_WRITE_DATA == FILE_WRITE_DATA and "OI" in entry["flags"]
               for entry in entries), sddl


def unix_path(prefix, path):
    """Where a C: path of the prefix lies on the Unix side, its folders'
    names matched without regard to case, as Wine does."""
    assert re.match(r"^[Cc]:\\", path), path
    place = Path(prefix) / "drive_c"
    for name in path[3:].split("\\"):
        if not name:
            continue
        exact = place / name
        if not exact.exists() and place.is_dir():
            name = next((entry.name for entry in place.iterdir()
                         if entry.name.lower() == name.lower()), name)
        place = place / name
    return place


class FolderRecorder:
    """The recorder, set up for the runs of one Launch: every program it runs
    through the raw starter gets the recorder, and so do the programs named
    in `follow` that those start."""

    def __init__(self, launch, follow=()):
        self.launch = launch
        dll = build_file("LAUNCHER_E2E_FOLDER_ACL_RECORDER",
                         "tests/support/folder_acl_recorder/folder_acl_recorder.dll")
        assert dll.is_file(), f"missing build output {dll}"
        launch.starter_options = ["inject", windows_path(dll)]
        launch.extra_env["FOLDER_ACL_RECORDER_LOG"] = launch.win("folders.log")
        launch.extra_env["FOLDER_ACL_RECORDER_FOLLOW"] = ";".join(follow)
        self.log = launch.file("folders.log")
        self.log.unlink(missing_ok=True)

    def records(self):
        return read_json_lines(self.log)

    def launch_folder(self):
        """Checks the folder of the run's one launch, and gives its path: the
        launcher was started from a folder that the run created, with an access
        list that lets other accounts read it; the program passed to the
        launcher lies in the same folder; the folder is gone afterwards."""
        records = self.records()
        launches = [r for r in records if r["event"] == "create_process" and
                    (r["application"] or "").lower().endswith("\\launcher.exe")]
        assert len(launches) == 1, records
        [launch] = launches
        folder = launch["application"].rsplit("\\", 1)[0]
        made = [r for r in records if r["event"] == "create_directory" and r["result"] and
                r["path"].rstrip("\\").lower() == folder.lower()]
        assert len(made) == 1, f"{folder} was not made by the run: {records}"
        [creation] = made
        assert creation["security_descriptor"], f"{folder} was made without an access list"
        [creator] = [r for r in records if r["event"] == "attached" and
                     r["process_id"] == creation["process_id"]]
        assert_readable_by_other_accounts(creation["security_descriptor"], creator["user_sid"])
        program = re.match(r'^execute \d+ "([^"]*)"', launch["command_line"])
        assert program, launch["command_line"]
        assert program.group(1).lower().startswith(folder.lower() + "\\"), launch["command_line"]
        assert "\\" not in program.group(1)[len(folder) + 1:], launch["command_line"]
        place = unix_path(self.launch.wine.prefix, folder)
        # The folder, or the installer's own temporary folder that held it,
        # lay in a folder that is still there: the path is mapped right.
        assert place.parent.is_dir() or place.parent.parent.is_dir(), place
        assert not place.exists(), f"{folder} is left behind"
        return folder
