"""What every sample installer's cases share: the caption the samples give
the dialog, arguments that need quoting, and the check of a silent launch."""

SAMPLE_CAPTION = "Administrator rights are needed to continue"
# A quoted argument, one ending in a backslash, one with embedded quotes.
PROGRAM_ARGS = r'"with space" "ends with\\" trailing\ "say \"hi\"" plain'
PROGRAM_TOKENS = ["with space", "ends with\\", "trailing\\", 'say "hi"', "plain"]


def silent_launch_child(outcome, tokens):
    """The probe's record of a silent installation that started it once: no
    box, one dialog with the samples' caption and, with no window shown, no
    owner; the program got exactly `tokens`."""
    outcome.assert_boxes()
    [prompt] = outcome.prompts
    assert prompt["caption"] == SAMPLE_CAPTION
    assert prompt["hwnd_parent"] == 0
    [child] = outcome.probe
    assert child["shell_tokens"][1:] == tokens, child["command_line"]
    assert child["runtime_argv"][1:] == tokens, child["command_line"]
    assert child["shell_tokens"][0].lower().endswith("\\program.exe")
    # The installers start the launcher in the Windows folder, and the program inherits it.
    assert child["current_directory"].lower().rstrip("\\") == r"c:\windows"
    return child
