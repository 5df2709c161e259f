"""Extreme and hostile input: the launcher neither crashes nor hangs, and
each case gets its documented result and exit code."""

import pytest

from records import read_credui_log
from support_programs import (assert_scan_ran, masked_needles,
                              read_key_values, read_scans, secret_needles)
from wine_driver import join_command_line, windows_path

CANCELLED = 1223
MEMBER_NOT_IN_GROUP = 1321
ACCOUNT_RESTRICTION = 1327

# The longest command line that Windows accepts: 32,767 characters with the terminator.
LONGEST_COMMAND_LINE = 32766
# Windows documents this limit for CreateProcessWithLogonW's command line.
LOGON_COMMAND_LINE_LIMIT = 1024


def probe_tokens_of_length(probe, length, filler="x"):
    """Launcher tokens whose command line is exactly `length` characters long."""
    head = ["execute", "0", windows_path(probe)]
    room = length - len(join_command_line(head + [""])) + 2  # the quotes of ""
    tokens = head + [filler * room]
    assert len(join_command_line(tokens)) == length
    return tokens


def assert_child_got(outcome, probe, tokens):
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    [child] = outcome.probe
    expected = [windows_path(probe), *tokens]
    assert child["shell_tokens"] == expected
    assert child["runtime_argv"] == expected
    [logon] = outcome.logons
    assert logon["command_line"] == child["command_line"]
    return logon


def test_command_line_at_the_windows_limit(launch, programs):
    tokens = probe_tokens_of_length(programs.probe, LONGEST_COMMAND_LINE)
    launch.answer_session_user()
    outcome = launch.launcher_tokens(tokens)
    logon = assert_child_got(outcome, programs.probe, tokens[3:])
    # Far beyond what the real logon call takes; the stand-in passes it on.
    assert len(logon["command_line"]) > LOGON_COMMAND_LINE_LIMIT


def test_command_line_beyond_the_windows_limit(launch, programs):
    # Windows refuses to start the launcher with this (206); Wine cuts the
    # command line to the limit and starts it, so the launcher sees a
    # shortened last token.
    tokens = probe_tokens_of_length(programs.probe, LONGEST_COMMAND_LINE + 100, filler="y")
    launch.answer_session_user()
    outcome = launch.launcher_tokens(tokens)
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    [child] = outcome.probe
    program, argument = child["shell_tokens"]
    assert program == windows_path(programs.probe)
    assert set(argument) == {"y"}
    assert len(argument) < len(tokens[3])


def test_thousands_of_tokens(launch, programs):
    tokens = [["", "a b", "t" + str(i), '"', "\\"][i % 5] for i in range(4000)]
    launch.answer_session_user()
    outcome = launch.execute_probe(*tokens)
    assert_child_got(outcome, programs.probe, tokens)


QUOTES_AND_BACKSLASHES = [
    '"', '""', '"' * 7, "\\", "\\\\", "\\" * 9, '\\"', '"\\', '\\"\\', '"\\"', "\\" * 600,
    '"' * 600, '\\"' * 50, "\\" * 5 + '"' * 5,
]


def test_tokens_of_only_quotes_or_backslashes(launch, programs):
    launch.answer_session_user()
    outcome = launch.execute_probe(*QUOTES_AND_BACKSLASHES)
    assert_child_got(outcome, programs.probe, QUOTES_AND_BACKSLASHES)


def longest_text(pattern):
    """32,767 characters of `pattern`, as large as an environment variable gets."""
    return (pattern * (32767 // len(pattern) + 1))[:32767]


def test_caption_of_the_largest_size_reaches_the_dialog_whole(launch):
    launch.caption = longest_text("Caption \u00e9\u4e2d ")
    launch.answer_cancel()
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED, outcome.boxes
    outcome.assert_boxes()
    [prompt] = outcome.prompts
    assert prompt["caption"] == launch.caption


def test_empty_password_message_of_the_largest_size_reaches_the_dialog_whole(launch):
    launch.empty_password_message = longest_text("Blank passwords are refused. ")
    launch.logon_script = [f"fail {ACCOUNT_RESTRICTION}", f"account {launch.user}\t*\tPw1"]
    launch.answer_session_user(password="")
    launch.answer_cancel()
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED, outcome.boxes
    outcome.assert_boxes()
    first, second = outcome.prompts
    assert first["message"] == ""
    assert second["auth_error"] == ACCOUNT_RESTRICTION
    assert second["message"] == launch.empty_password_message


def long_secret(length, seed):
    text = "".join("Kx9-" + str(seed) + chr(0x41 + (i * 7 + seed) % 26) for i in range(length))
    return text[:length]


def test_credentials_of_thousands_of_characters_are_refused(launch, support):
    user = "u" * 5000
    domain = "D" * 5000
    password = long_secret(5000, 3)
    report = launch.file("prompt_scan.jsonl")
    launch.extra_env["STAND_IN_CREDUI_PROMPT_HOOK"] = \
        f'"{windows_path(support.memory_scan)}" "{launch.win("prompt_scan.jsonl")}" ' + \
        masked_needles(*secret_needles(password))
    launch.answer_credentials(user, domain, password)
    launch.answer_cancel()
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    first, second = outcome.prompts
    # No such account: refused as not an administrator, before any logon.
    assert second["auth_error"] == MEMBER_NOT_IN_GROUP
    assert outcome.logons == []
    [unpack_fill] = [u for u in outcome.events("unpack") if u["phase"] == "fill"]
    assert unpack_fill["result"] == 1
    assert unpack_fill["password_count_out"] == 5001
    _, at_second_prompt = read_scans(report)
    assert_scan_ran(at_second_prompt)
    assert at_second_prompt["hits"] == [0, 0, 0], at_second_prompt["places"]


def test_password_of_thousands_of_characters_is_accepted_whole(launch, support):
    password = long_secret(6000, 5)
    launch.logon_script = [f"account {launch.user}\t*\t{password}"]
    launch.answer_session_user(password=password)
    child_report = launch.file("child_scan.jsonl")
    outcome = launch.execute(windows_path(support.memory_scan), launch.win("child_scan.jsonl"),
                             masked_needles(*secret_needles(password)), "parent")
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    [logon] = outcome.logons
    assert logon["outcome"] == "started"
    assert logon["password"] == password
    [scan] = read_scans(child_report)
    assert_scan_ran(scan)
    assert scan["hits"] == [0, 0, 0], scan["places"]


def run_window_crowd(launch, support, programs, per_kind, with_launcher):
    env = launch._prepare()
    report = launch.file("crowd.txt")
    report.unlink(missing_ok=True)
    args = [launch.win("crowd.txt"), str(per_kind)]
    if with_launcher:
        args += [windows_path(programs.launcher), windows_path(programs.probe)]
    run = launch.wine.run(support.window_crowd, args, env, launch.dir, timeout=90)
    assert run.exit_code == 0, run.stderr[-2000:]
    return read_key_values(report), read_credui_log(launch.file("credui.log"))


def test_owner_among_hundreds_of_windows(launch, support, programs):
    launch.answer_cancel()
    crowd, credui = run_window_crowd(launch, support, programs, 100, with_launcher=True)
    assert crowd["exit_code"] == CANCELLED
    # Wine may add a hidden window of its own to the process.
    assert crowd["windows"] >= 300
    assert crowd["visible_unowned"] == 100
    # The first visible unowned window in enumeration order, not merely any.
    assert crowd["expected"] != crowd["last"]
    [prompt] = [e for e in credui if e["event"] == "prompt"]
    assert prompt["hwnd_parent"] == crowd["expected"]
    assert prompt["hwnd_parent_pid"] == crowd["pid"]


def test_owner_process_that_has_exited(launch, support, programs):
    # A process that had visible windows, and has ended.
    crowd, _ = run_window_crowd(launch, support, programs, 1, with_launcher=False)
    assert crowd["visible_unowned"] == 1
    launch.answer_session_user()
    outcome = launch.execute_probe("after-owner", owner=str(crowd["pid"]))
    assert outcome.exit_code == 0, (outcome.boxes, outcome.run.stderr[-2000:])
    outcome.assert_boxes()
    [prompt] = outcome.prompts
    assert prompt["hwnd_parent"] == 0
    [child] = outcome.probe
    assert child["shell_tokens"][1:] == ["after-owner"]
