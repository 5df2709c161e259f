"""Arguments travel from the caller through the launcher to the child
unchanged: the child's CommandLineToArgvW and C runtime argv give back
exactly the caller's tokens, with the program path as token 0."""

import random
import shutil

import pytest

from wine_driver import windows_path

ALPHABET = list("abcXYZ019") + [" ", " ", "\t", "\\", "\\", '"', '"', "é", "ß", "中", "€",
                                 "\U0001F600", "-", "/", "'"]


def random_tokens(rng):
    tokens = []
    for _ in range(rng.randint(1, 6)):
        if rng.random() < 0.12:
            tokens.append("")
        else:
            tokens.append("".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 9))))
    return tokens


def assert_round_trip(outcome, program, tokens):
    assert outcome.exit_code == 0, outcome.boxes
    [child] = outcome.probe
    expected = [program, *tokens]
    assert child["shell_tokens"] == expected, child["command_line"]
    assert child["runtime_argv"] == expected, child["command_line"]
    [logon] = outcome.logons
    assert logon["application_name"] == program
    assert logon["command_line"] == child["command_line"]


ROUND_TRIP_SEED = 20240607
ROUND_TRIPS = 25


@pytest.mark.parametrize("index", range(ROUND_TRIPS))
def test_random_tokens_round_trip(launch, programs, index):
    rng = random.Random(ROUND_TRIP_SEED * 1000 + index)
    tokens = random_tokens(rng)
    launch.answer_session_user()
    outcome = launch.execute_probe(*tokens)
    assert_round_trip(outcome, windows_path(programs.probe), tokens)


SPECIAL_TOKENS = [
    ["say hi"], ['"say hi"'], ['a"b'], ["a", "", "b"], ["ends with\\"], ["tab\tonly"],
    ["\\\\server\\share\\", 'x\\"y', "\\\\\"", "trailing\\\\"], ["", ""],
]


@pytest.mark.parametrize("tokens", SPECIAL_TOKENS, ids=range(len(SPECIAL_TOKENS)))
def test_special_tokens_round_trip(launch, programs, tokens):
    launch.answer_session_user()
    outcome = launch.execute_probe(*tokens)
    assert_round_trip(outcome, windows_path(programs.probe), tokens)


def test_program_path_with_a_space(launch, programs, tmp_path):
    folder = tmp_path / "folder with space"
    folder.mkdir()
    probe = folder / "probe copy.exe"
    shutil.copyfile(programs.probe, probe)
    tokens = ["a b", 'q"uote', ""]
    launch.answer_session_user()
    outcome = launch.execute(windows_path(probe), *tokens)
    assert_round_trip(outcome, windows_path(probe), tokens)
    assert outcome.logons[0]["command_line"].startswith(f'"{windows_path(probe)}" ')


def test_round_trip_through_the_sample_caller(launch, programs):
    tokens = ["with space", 'q"uote\\', "", "back\\slash\\", "ünï\tcode"]
    launch.answer_session_user()
    outcome = launch.through_sample_caller(windows_path(programs.probe), *tokens)
    assert_round_trip(outcome, windows_path(programs.probe), tokens)
