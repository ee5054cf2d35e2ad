"""What the Python checks of tervolin.exe share: the exit code that marks a
check as skipped, running the host of the build in the run's Wine prefix,
the real-world test data beside the project, and reading back the sentence
files the host writes."""
import os
import subprocess

SKIP = 77
WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wine-run")


def wine_environment(extra=None):
    """The environment of a program in the build's own prefix, which CTest
    names in WINEPREFIX, with the extra variables."""
    env = dict(os.environ, **(extra or {}))
    if "WINEPREFIX" in os.environ:
        env.setdefault("TERVOLIN_WINEPREFIX", os.environ["WINEPREFIX"])
    return env


def run_host(*arguments, cwd=None, timeout=120, extra_env=None):
    """tervolin.exe of TERVOLIN_BUILD with these arguments; its output as text.
    A host that hangs fails the check after timeout seconds."""
    host = os.path.join(os.environ["TERVOLIN_BUILD"], "bin", "tervolin.exe")
    return subprocess.run([WINE_RUN, host, *arguments], capture_output=True, text=True, encoding="utf-8",
                          errors="replace", env=wine_environment(extra_env), cwd=cwd, timeout=timeout)


def run_wine(*arguments, timeout=60):
    """A program of the prefix (reg, ...); raises when it fails."""
    subprocess.run([WINE_RUN, *arguments], check=True, capture_output=True, timeout=timeout,
                   env=wine_environment())


def real_data(folder):
    """A folder of the real-world test data; None, saying so, when it is absent."""
    path = os.path.join(os.environ.get("TERVOLIN_TESTDATA_LINUX", ""), folder)
    if os.path.isdir(path):
        return path
    print("real-world test data (../shared/testdata) is absent: skipped")
    return None


def degrees(text, hemisphere):
    """A sentence's ddmm.mmmmm (or dddmm.mmmmm) and hemisphere as signed degrees."""
    point = text.index(".")
    value = int(text[:point - 2] or "0") + float(text[point - 2:]) / 60
    return -value if hemisphere in "SW" else value


def sentences(path, kind):
    """The fields of the sentences of one kind ("$PMGNWPL") in a written file."""
    with open(path, "rb") as f:
        lines = f.read().decode("cp1252").split("\r\n")
    return [line.split("*")[0].split(",") for line in lines if line.startswith(kind + ",")]
