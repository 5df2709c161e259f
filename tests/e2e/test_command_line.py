"""The launcher's command-line protocol and its environment, as a caller
meets them: exit codes, message boxes, and whether a dialog was shown."""

from wine_driver import windows_path

FAILURE_EXIT = 1064
WRONG_VERB_EXIT = 87
CANCELLED = 1223


def assert_no_dialog(outcome):
    assert outcome.credui == [], "the credential library was loaded"
    assert outcome.logons == []


def test_two_tokens_cannot_be_parsed(launch):
    launch.answer_session_user()
    outcome = launch.launcher_tokens(["execute", "0"])
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes("Unable to parse command line")
    assert_no_dialog(outcome)


def test_empty_command_line_cannot_be_parsed(launch):
    outcome = launch.start_raw(windows_path(launch.programs.launcher), "")
    assert outcome.exit_code == FAILURE_EXIT
    # Windows' splitting of an empty line gives the module path alone.
    outcome.assert_boxes("Unable to parse command line")
    assert_no_dialog(outcome)


def test_verb_in_other_case_is_refused(launch, programs):
    launch.answer_session_user()
    outcome = launch.launcher_tokens(["Execute", "0", windows_path(programs.probe)])
    assert outcome.exit_code == WRONG_VERB_EXIT
    outcome.assert_boxes("Invalid argument (command type)")
    assert_no_dialog(outcome)
    assert outcome.probe == []


def test_own_path_as_token_zero_is_a_wrong_verb(launch, programs):
    launcher = windows_path(programs.launcher)
    launch.answer_session_user()
    outcome = launch.launcher_tokens([launcher, "execute", "0", windows_path(programs.probe)])
    assert outcome.exit_code == WRONG_VERB_EXIT
    outcome.assert_boxes("Invalid argument (command type)")
    assert_no_dialog(outcome)


def test_own_path_with_two_more_tokens_is_too_short(launch, programs):
    launcher = windows_path(programs.launcher)
    outcome = launch.start_raw(None, f'"{launcher}" execute')
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes("Unable to parse command line")
    assert_no_dialog(outcome)


def test_started_from_a_shell_the_launcher_refuses(launch, wine, programs):
    """`wine launcher.exe execute 0 program` puts the launcher's path first."""
    launch.answer_session_user()
    env = launch._prepare()
    run = wine.run(programs.launcher, ["execute", "0", windows_path(programs.probe)], env,
                   launch.dir)
    assert run.exit_code == WRONG_VERB_EXIT  # fits into a Unix exit status
    assert run.box_texts == ["Invalid argument (command type)"]
    assert run.box_titles == ["Error"]


def test_missing_caption_stops_before_any_dialog(launch):
    launch.caption = None
    launch.answer_session_user()
    outcome = launch.execute_probe()
    assert outcome.exit_code == FAILURE_EXIT
    outcome.assert_boxes("Failed to get length of the caption of the auth dialog")
    assert_no_dialog(outcome)
    assert outcome.probe == []


def test_empty_caption_is_allowed(launch):
    launch.caption = ""
    launch.answer_cancel()
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED
    outcome.assert_boxes()
    [prompt] = outcome.prompts
    assert prompt["caption_null"] == 0
    assert prompt["caption"] == ""


def test_caption_reaches_the_dialog_unchanged(launch):
    launch.caption = "Zugriff für Administratoren – bitte anmelden"
    launch.answer_cancel()
    outcome = launch.execute_probe()
    assert outcome.exit_code == CANCELLED
    [prompt] = outcome.prompts
    assert prompt["caption"] == launch.caption


def test_owner_id_text_without_digits_means_no_owner(launch):
    launch.answer_cancel()
    outcome = launch.execute_probe(owner="abc")
    assert outcome.exit_code == CANCELLED
    [prompt] = outcome.prompts
    assert prompt["hwnd_parent"] == 0
